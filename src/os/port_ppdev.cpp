// SPDX-License-Identifier: MIT
// A PC parallel port through ppdev; see port_ppdev.h.
//
// The claim's bound: PPCLAIM sleeps in the kernel until the port is free, and
// only a signal ends the sleep early. A library must not install signal
// handlers or timers behind its host's back, so the claim is made on a
// short-lived helper thread (all signals blocked, so that none of the host's
// lands there) while the opening thread waits at most
// PPDEV_CLAIM_TIMEOUT_MS for it. On time-out the open fails and the helper
// keeps the device: whenever its claim comes, it releases the port, closes
// the device and frees what it holds; until then it sleeps in the kernel.
// Since the helper runs this library's code until then, a time-out keeps the
// library loaded for the rest of the process, whatever the host unloads.
#include "os/port_ppdev.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hw_port.h"
#include "os/port_native.h"
#include "port_play.h"
#include "spifns_wire.h"

struct ppdev_port {
    native_backend backend; // NATIVE_PPDEV: first, for port_native.cpp
    int32_t number;
    int fd;
    bool exclusive; // PPEXCL was accepted on fd
    int error;      // errno of the first request that failed since it was last cleared
    ppdev_result why;
    hw_port hw;
};

namespace {

// A request, repeated while a signal interrupts it (it then did not happen).
int request(int fd, unsigned long code, void *arg)
{
    int r;
    do
        r = ioctl(fd, code, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

// A request on an open port; its first failure is kept in port->error.
void port_request(ppdev_port *p, unsigned long code, void *arg)
{
    if (request(p->fd, code, arg) < 0 && p->error == 0)
        p->error = errno;
}

int open_device(int32_t number)
{
    char path[32];
    ppdev_path(number, path, sizeof path);
    int fd;
    do
        fd = open(path, O_RDWR | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ppdev_status open_failure(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return PPDEV_NO_DEVICE;
    case EACCES:
    case EPERM:
        return PPDEV_DENIED;
    case EBUSY:
        return PPDEV_BUSY;
    default:
        return PPDEV_FAILED;
    }
}

// One claim on the helper thread, shared with the thread that waits for it.
struct claim_wait {
    pthread_mutex_t lock;
    pthread_cond_t done_signal;
    int fd;
    int error; // 0: claimed
    bool done;
    bool abandoned; // the waiter gave up: the helper owns fd and this record
};

void free_wait(claim_wait *w)
{
    pthread_cond_destroy(&w->done_signal);
    pthread_mutex_destroy(&w->lock);
    free(w);
}

void *claim_thread(void *arg)
{
    claim_wait *w = static_cast<claim_wait *>(arg);
    const int error = request(w->fd, PPCLAIM, nullptr) == 0 ? 0 : errno;
    pthread_mutex_lock(&w->lock);
    if (!w->abandoned) {
        w->error = error;
        w->done = true;
        pthread_cond_signal(&w->done_signal);
        pthread_mutex_unlock(&w->lock);
        return nullptr;
    }
    pthread_mutex_unlock(&w->lock);
    if (error == 0)
        request(w->fd, PPRELEASE, nullptr);
    close(w->fd);
    free_wait(w);
    return nullptr;
}

void stay_loaded()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&claim_thread), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

// Claims the port on fd within PPDEV_CLAIM_TIMEOUT_MS: 0, the claim's errno,
// or ETIMEDOUT, after which fd belongs to the helper and must not be touched.
int claim_within_bound(int fd)
{
    claim_wait *w = static_cast<claim_wait *>(calloc(1, sizeof(claim_wait)));
    if (w == nullptr)
        return ENOMEM;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&w->lock, nullptr);
    pthread_cond_init(&w->done_signal, &attr);
    pthread_condattr_destroy(&attr);
    w->fd = fd;

    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t helper;
    const int created = pthread_create(&helper, nullptr, claim_thread, w);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (created != 0) {
        free_wait(w);
        return created;
    }

    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += PPDEV_CLAIM_TIMEOUT_MS / 1000;
    deadline.tv_nsec += static_cast<long>(PPDEV_CLAIM_TIMEOUT_MS % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000;
    }
    pthread_mutex_lock(&w->lock);
    while (!w->done && pthread_cond_timedwait(&w->done_signal, &w->lock, &deadline) != ETIMEDOUT) {
    }
    if (!w->done) {
        stay_loaded();
        w->abandoned = true;
        pthread_mutex_unlock(&w->lock);
        pthread_detach(helper);
        return ETIMEDOUT;
    }
    pthread_mutex_unlock(&w->lock);
    pthread_join(helper, nullptr);
    const int error = w->error;
    free_wait(w);
    return error;
}

// hw_port's claim: PPCLAIM within the bound, then compatibility mode and the
// data lines forward. An exclusive registration that the kernel refuses
// (ENXIO: another driver has the port registered) is retried on a fresh
// open with a shared claim, since PPEXCL cannot be taken back.
bool claim(void *context)
{
    ppdev_port *p = static_cast<ppdev_port *>(context);
    int error = claim_within_bound(p->fd);
    if (error == ENXIO && p->exclusive) {
        close(p->fd);
        p->exclusive = false;
        p->fd = open_device(p->number);
        if (p->fd < 0) {
            p->why = {open_failure(errno), errno};
            return false;
        }
        error = claim_within_bound(p->fd);
    }
    if (error == ETIMEDOUT) {
        p->fd = -1; // the helper's now
        p->why = {PPDEV_CLAIM_TIMEOUT, 0};
        return false;
    }
    if (error != 0) {
        p->why = {error == ENXIO || error == EBUSY ? PPDEV_BUSY : PPDEV_FAILED, error};
        return false;
    }
    int mode = IEEE1284_MODE_COMPAT, reverse = 0;
    p->error = 0;
    port_request(p, PPSETMODE, &mode);
    port_request(p, PPDATADIR, &reverse);
    if (p->error != 0) {
        p->why = {PPDEV_FAILED, p->error};
        request(p->fd, PPRELEASE, nullptr);
        return false;
    }
    return true;
}

void release(void *context)
{
    port_request(static_cast<ppdev_port *>(context), PPRELEASE, nullptr);
}

// The registers at hw_port's offsets: data and control are written, data,
// status and control read. The status register is never written (the port
// says status_writable false) and there is no ECR (ecr 0).
void out(void *context, uint32_t address, uint8_t value)
{
    ppdev_port *p = static_cast<ppdev_port *>(context);
    if (address == PP_DATA)
        port_request(p, PPWDATA, &value);
    else if (address == PP_CONTROL)
        port_request(p, PPWCONTROL, &value);
}

uint8_t in(void *context, uint32_t address)
{
    ppdev_port *p = static_cast<ppdev_port *>(context);
    unsigned char value = 0xFF;
    port_request(p, address == PP_DATA ? PPRDATA : address == PP_STATUS ? PPRSTATUS : PPRCONTROL, &value);
    return value;
}

bool request_failed(void *context)
{
    return static_cast<const ppdev_port *>(context)->error != 0;
}

// True unless the environment variable is set to "0".
bool not_zero(const char *variable)
{
    const char *v = getenv(variable);
    return v == nullptr || strcmp(v, "0") != 0;
}

// Closes the device (unless the claim's helper has it) and frees the record.
void discard(ppdev_port *p)
{
    if (p->fd >= 0)
        close(p->fd);
    free(p);
}

} // namespace

void ppdev_path(int32_t port, char *path, size_t size)
{
    snprintf(path, size, "/dev/parport%d", static_cast<int>(port) - 1);
}

ppdev_port *ppdev_open(int32_t port, ppdev_result *why)
{
    ppdev_result unused;
    if (why == nullptr)
        why = &unused;
    if (port < PORT_MIN || port > PORT_MAX) {
        *why = {PPDEV_NO_DEVICE, ENOENT};
        return nullptr;
    }
    if (!not_zero(PPDEV_ENABLE_VARIABLE)) {
        *why = {PPDEV_DISABLED, 0};
        return nullptr;
    }
    ppdev_port *p = static_cast<ppdev_port *>(calloc(1, sizeof(ppdev_port)));
    if (p == nullptr) {
        *why = {PPDEV_FAILED, ENOMEM};
        return nullptr;
    }
    p->backend = NATIVE_PPDEV;
    p->number = port;
    p->fd = open_device(port);
    if (p->fd < 0) {
        *why = {open_failure(errno), errno};
        discard(p);
        return nullptr;
    }
    p->exclusive = request(p->fd, PPEXCL, nullptr) == 0;
    p->hw.io = {out, in, claim, release, p};
    p->hw.base = 0;
    p->hw.ecr = 0;
    p->hw.status_writable = false;
    p->hw.verify = not_zero(PPDEV_VERIFY_VARIABLE);
    switch (hw_port_arm(&p->hw)) {
    case HW_ARMED:
        if (p->error == 0) {
            *why = {PPDEV_OK, 0};
            return p;
        }
        *why = {PPDEV_FAILED, p->error};
        hw_port_release(&p->hw);
        break;
    case HW_NOT_HANDED_OVER:
        *why = p->why;
        break;
    case HW_NO_READBACK:
        *why = p->error != 0 ? ppdev_result{PPDEV_FAILED, p->error} : ppdev_result{PPDEV_NO_READBACK, 0};
        break;
    }
    discard(p);
    return nullptr;
}

bool ppdev_play(ppdev_port *p, const uint8_t *out, uint8_t *status, uint32_t n)
{
    if (!p->hw.armed)
        return false;
    p->error = 0;
    port_ops ops{hw_port_put, hw_port_take, &p->hw, request_failed, p};
    if (port_play(&ops, out, status, n) == n && p->error == 0)
        return true;
    // Cut short, maybe in the middle of a frame: no chip stays selected.
    hw_port_put(&p->hw, LINE_NEUTRAL);
    return false;
}

void ppdev_close(ppdev_port *p)
{
    if (p == nullptr)
        return;
    hw_port_release(&p->hw);
    discard(p);
}

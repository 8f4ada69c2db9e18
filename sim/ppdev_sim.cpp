// SPDX-License-Identifier: MIT
// /dev/parport<K> through ppdev, modelled for LD_PRELOAD; see ppdev_sim.h.
#include "ppdev_sim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
// The request numbers; not <sys/ioctl.h>, whose ioctl declaration this file defines.
#include <linux/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <stdarg.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pc_port.h"
#include "sim_board.h"

namespace {

constexpr int MAX_PORTS = 16; // PARPORT_MAX
constexpr int MAX_DEVICES = 64;
constexpr int NOBODY = -1, ANOTHER_PROGRAM = -2; // who holds a claim besides our devices
constexpr long LATE_RELEASE_MS = 1500;

enum fault : unsigned {
    F_EACCES = 1u << 0,
    F_NODRIVER = 1u << 1,
    F_LP = 1u << 2,
    F_OWNED = 1u << 3,
    F_EXCL_EBUSY = 1u << 4,
    F_HELD = 1u << 5,
    F_LATE = 1u << 6,
    F_EINTR = 1u << 7,
    F_NOREADBACK = 1u << 8,
    F_LOOPBACK = 1u << 9,
    F_STOPPED = 1u << 10,
};

const struct {
    const char *name;
    unsigned bit;
} FAULTS[] = {{"eacces", F_EACCES}, {"nodriver", F_NODRIVER}, {"lp", F_LP},
              {"owned", F_OWNED},   {"excl_ebusy", F_EXCL_EBUSY}, {"held", F_HELD},
              {"late", F_LATE},     {"eintr", F_EINTR},     {"noreadback", F_NOREADBACK},
              {"loopback", F_LOOPBACK}, {"stopped", F_STOPPED}};

struct port {
    unsigned faults;
    pc_port_model *model; // with the board at its pins, made at the first open
    sim_board *board;
    uint8_t ctr;           // parport_pc's copy of the control register
    int registered;        // our devices registered with the port
    bool exclusive;        // one of them registered exclusively
    int holder;            // device index, NOBODY or ANOTHER_PROGRAM
    bool late_clock_set;
    timespec late_release; // F_LATE: when the other program releases (CLOCK_REALTIME)
    unsigned request_count; // for F_EINTR
    ppdev_sim_counts counts;
};

struct device {
    int fd; // -1: slot free
    int index;
    unsigned generation; // the setup it was opened under
    bool registered, want_exclusive, claimed;
    int mode;
    uint8_t saved_ctr, saved_ecr; // parport_pc's saved state of this device
    bool after_data_write;
    uint32_t claim_requests, claim_pairs;
};

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t claim_freed = PTHREAD_COND_INITIALIZER;
pthread_once_t once = PTHREAD_ONCE_INIT;
using open_fn = int (*)(const char *, int, ...);
using openat_fn = int (*)(int, const char *, int, ...);
using ioctl_fn = int (*)(int, unsigned long, ...);
using close_fn = int (*)(int);
ioctl_fn real_ioctl;
close_fn real_close;
int port_count = 1;
unsigned generation = 0;
port ports[MAX_PORTS];
device devices[MAX_DEVICES];

template <typename Fn>
Fn real(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool parse(const char *config, int *count, unsigned faults[MAX_PORTS])
{
    *count = 1;
    for (int i = 0; i < MAX_PORTS; ++i)
        faults[i] = 0;
    const char *s = config == nullptr ? "" : config;
    while (*s != '\0') {
        const size_t gap = strspn(s, " ,\t\n");
        s += gap;
        const size_t len = strcspn(s, " ,\t\n");
        if (len == 0)
            break;
        char word[32];
        if (len >= sizeof word)
            return false;
        memcpy(word, s, len);
        word[len] = '\0';
        s += len;
        char *eq = strchr(word, '=');
        if (eq == nullptr)
            return false;
        *eq = '\0';
        char *end = nullptr;
        const long k = strtol(eq + 1, &end, 10);
        if (*end != '\0' || end == eq + 1)
            return false;
        if (strcmp(word, "ports") == 0) {
            if (k < 0 || k > MAX_PORTS)
                return false;
            *count = static_cast<int>(k);
            continue;
        }
        unsigned bit = 0;
        for (const auto &f : FAULTS)
            if (strcmp(word, f.name) == 0)
                bit = f.bit;
        if (bit == 0 || k < 0 || k >= MAX_PORTS)
            return false;
        faults[k] |= bit;
    }
    return true;
}

// Under lock. Boards and models are kept for the process's life.
bool configure(const char *config)
{
    int count;
    unsigned faults[MAX_PORTS];
    if (!parse(config, &count, faults))
        return false;
    ++generation;
    port_count = count;
    for (int i = 0; i < MAX_PORTS; ++i) {
        port &p = ports[i];
        pc_port_model *model = p.model;
        sim_board *board = p.board;
        p = port{};
        p.faults = faults[i];
        p.holder = faults[i] & (F_HELD | F_LATE) ? ANOTHER_PROGRAM : NOBODY;
        p.ctr = 0x0C;
        p.model = model;
        p.board = board;
        if (model != nullptr) {
            *model = pc_port_model{};
            model->board = board;
            sim_board_init(board, faults[i] & F_LOOPBACK ? SIM_WIRING_LOOPBACK : SIM_WIRING_DIRECT);
        }
    }
    for (device &d : devices)
        d.registered = d.claimed = false; // stale devices hold nothing of the new ports
    pthread_cond_broadcast(&claim_freed);
    return true;
}

void init_once()
{
    real_ioctl = real<ioctl_fn>("ioctl");
    real_close = real<close_fn>("close");
    pthread_mutex_lock(&lock);
    for (device &d : devices)
        d.fd = -1;
    if (!configure(getenv("PPDEV_SIM")))
        configure(nullptr);
    pthread_mutex_unlock(&lock);
}

void write_stats()
{
    const char *path = getenv("PPDEV_SIM_STATS");
    if (path == nullptr)
        return;
    FILE *f = fopen(path, "w");
    if (f == nullptr)
        return;
    for (int i = 0; i < port_count; ++i) {
        const ppdev_sim_counts &c = ports[i].counts;
        fprintf(f,
                "parport%d opens=%u open_flags_wrong=%u closes=%u requests=%u interrupted=%u "
                "refused=%u unclaimed=%u data_writes=%u status_reads=%u pairs=%u claims=%u "
                "exclusive_claims=%u releases=%u unreleased=%u others_max=%u lines_at_release=%u\n",
                i, c.opens, c.open_flags_wrong, c.closes, c.requests, c.interrupted, c.refused,
                c.unclaimed, c.data_writes, c.status_reads, c.pairs, c.claims, c.exclusive_claims,
                c.releases, c.unreleased, c.others_max, c.lines_at_release);
    }
    fclose(f);
}

// "/dev/parport<K>" with K in decimal: K, else -1.
int device_index(const char *path)
{
    static const char prefix[] = "/dev/parport";
    if (path == nullptr || strncmp(path, prefix, sizeof prefix - 1) != 0)
        return -1;
    const char *digits = path + sizeof prefix - 1;
    if (digits[0] < '0' || digits[0] > '9' || (digits[0] == '0' && digits[1] != '\0'))
        return -1;
    char *end = nullptr;
    const long k = strtol(digits, &end, 10);
    return *end == '\0' && k < 1000 ? static_cast<int>(k) : -1;
}

device *device_of(int fd)
{
    if (fd < 0)
        return nullptr;
    for (device &d : devices)
        if (d.fd == fd)
            return &d;
    return nullptr;
}

int fail(int error)
{
    errno = error;
    return -1;
}

int open_device(int k, int flags)
{
    pthread_once(&once, init_once);
    pthread_mutex_lock(&lock);
    int error = 0;
    if (k >= port_count)
        error = ENOENT;
    else if (ports[k].faults & F_EACCES)
        error = EACCES;
    else if (ports[k].faults & F_NODRIVER)
        error = ENXIO;
    device *slot = nullptr;
    for (device &d : devices)
        if (d.fd < 0 && slot == nullptr)
            slot = &d;
    if (error == 0 && slot == nullptr)
        error = EMFILE;
    if (error != 0) {
        pthread_mutex_unlock(&lock);
        return fail(error);
    }
    const int fd = real<open_fn>("open")("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) {
        pthread_mutex_unlock(&lock);
        return -1;
    }
    port &p = ports[k];
    if (p.model == nullptr) {
        p.board = new sim_board;
        p.model = new pc_port_model;
        p.model->board = p.board;
        sim_board_init(p.board, p.faults & F_LOOPBACK ? SIM_WIRING_LOOPBACK : SIM_WIRING_DIRECT);
    }
    for (sim_chip &c : p.board->chips)
        c.stopped = (p.faults & F_STOPPED) ? 1 : 0;
    *slot = device{};
    slot->fd = fd;
    slot->index = k;
    slot->generation = generation;
    slot->mode = IEEE1284_MODE_COMPAT;
    slot->saved_ctr = 0x0C;
    slot->saved_ecr = 0x34;
    p.counts.opens++;
    if ((flags & O_ACCMODE) != O_RDWR || !(flags & O_CLOEXEC))
        p.counts.open_flags_wrong++;
    pthread_mutex_unlock(&lock);
    return fd;
}

void frob_control(port &p, uint8_t mask, uint8_t value)
{
    p.ctr = static_cast<uint8_t>((p.ctr & ~mask) ^ value);
    p.model->out(p.model->base + 2, p.ctr);
}

// parport_register_dev_model's rules for the device's first claim.
bool register_device(port &p, device &d)
{
    const bool others = p.registered > 0 || (p.faults & (F_LP | F_HELD | F_LATE));
    if (p.exclusive || (p.faults & F_OWNED) || (d.want_exclusive && others))
        return false;
    d.registered = true;
    p.registered++;
    p.exclusive = d.want_exclusive;
    return true;
}

void release_claim(port &p, device &d)
{
    d.saved_ctr = p.ctr;
    d.saved_ecr = p.model->in(p.model->ecr);
    d.claimed = false;
    p.holder = NOBODY;
    p.counts.releases++;
    p.counts.lines_at_release = p.model->pins();
    const uint32_t others = d.claim_requests - 2 * d.claim_pairs;
    if (others > p.counts.others_max)
        p.counts.others_max = others;
    pthread_cond_broadcast(&claim_freed);
}

// Sleeps while someone else holds the claim. Under lock; false when the
// port was set up anew meanwhile.
bool wait_for_claim(port &p, device &d)
{
    while (p.holder != NOBODY) {
        if (p.holder == ANOTHER_PROGRAM && (p.faults & F_LATE)) {
            if (!p.late_clock_set) {
                clock_gettime(CLOCK_REALTIME, &p.late_release);
                p.late_release.tv_sec += LATE_RELEASE_MS / 1000;
                p.late_release.tv_nsec += (LATE_RELEASE_MS % 1000) * 1000000;
                if (p.late_release.tv_nsec >= 1000000000) {
                    p.late_release.tv_sec++;
                    p.late_release.tv_nsec -= 1000000000;
                }
                p.late_clock_set = true;
            }
            if (pthread_cond_timedwait(&claim_freed, &lock, &p.late_release) == ETIMEDOUT &&
                d.generation == generation)
                p.holder = NOBODY;
        } else {
            pthread_cond_wait(&claim_freed, &lock);
        }
        if (d.generation != generation)
            return false;
    }
    return true;
}

int claim(port &p, device &d)
{
    if (d.claimed)
        return EINVAL;
    if (!d.registered && !register_device(p, d))
        return ENXIO;
    if (!wait_for_claim(p, d))
        return ENODEV;
    p.holder = static_cast<int>(&d - devices);
    d.claimed = true;
    d.claim_requests = d.claim_pairs = 0;
    d.after_data_write = false;
    p.counts.claims++;
    p.counts.exclusive_claims += d.want_exclusive;
    // parport_pc_restore_state
    p.ctr = d.saved_ctr;
    p.model->out(p.model->base + 2, p.ctr);
    p.model->out(p.model->ecr, d.saved_ecr);
    return 0;
}

bool needs_claim(unsigned long code)
{
    return code != PPCLAIM && code != PPEXCL && code != PPSETMODE && code != PPGETMODE &&
           code != PPGETMODES && code != PPSETPHASE && code != PPGETPHASE && code != PPSETFLAGS &&
           code != PPGETFLAGS;
}

// One request on device d; 0 or an errno value. Under lock.
int serve(device &d, unsigned long code, void *arg)
{
    if (d.generation != generation)
        return ENODEV;
    port &p = ports[d.index];
    if ((p.faults & F_EINTR) && ++p.request_count % 5 == 0)
        return EINTR;
    if (needs_claim(code) && !d.claimed) {
        p.counts.unclaimed++;
        return EINVAL;
    }
    pc_port_model &m = *p.model;
    unsigned char *byte = static_cast<unsigned char *>(arg);
    int error = 0;
    switch (code) {
    case PPCLAIM:
        error = claim(p, d);
        break;
    case PPEXCL:
        if (p.faults & F_EXCL_EBUSY)
            error = EBUSY;
        else if (d.registered && !d.want_exclusive)
            error = EINVAL;
        else
            d.want_exclusive = true;
        break;
    case PPSETMODE:
        d.mode = *static_cast<int *>(arg);
        break;
    case PPGETMODE:
        *static_cast<int *>(arg) = d.mode;
        break;
    case PPGETMODES:
        *static_cast<unsigned *>(arg) = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE | PARPORT_MODE_ECP;
        break;
    case PPRELEASE:
        d.claim_requests++; // the release is the claim's last request
        release_claim(p, d);
        break;
    case PPWDATA:
        m.out(m.base, *byte);
        break;
    case PPRDATA:
        *byte = (p.faults & F_NOREADBACK) ? 0xFF : m.in(m.base);
        break;
    case PPRSTATUS:
        *byte = m.in(m.base + 1);
        break;
    case PPRCONTROL:
        *byte = p.ctr & 0x0F;
        break;
    case PPWCONTROL:
        if (*byte & 0x20)
            frob_control(p, 0x20, 0x20);
        frob_control(p, 0x0F, *byte & 0x0F);
        break;
    case PPFCONTROL: {
        const ppdev_frob_struct *f = static_cast<const ppdev_frob_struct *>(arg);
        if (f->mask & 0x20)
            frob_control(p, 0x20, f->val & 0x20);
        frob_control(p, f->mask & 0x0F, f->val & 0x0F);
        break;
    }
    case PPDATADIR:
        frob_control(p, 0x20, *static_cast<int *>(arg) ? 0x20 : 0);
        break;
    case PPYIELD:
        break;
    default:
        error = EINVAL;
    }
    m.log.clear();
    m.pin_log.clear();
    if (error != 0)
        return error;
    p.counts.requests++;
    if (d.claimed)
        d.claim_requests++;
    p.counts.data_writes += code == PPWDATA;
    p.counts.status_reads += code == PPRSTATUS;
    if (code == PPRSTATUS && d.after_data_write) {
        p.counts.pairs++;
        d.claim_pairs++;
    }
    d.after_data_write = code == PPWDATA;
    p.counts.mode = d.mode;
    p.counts.reversed = (p.ctr & 0x20) != 0;
    p.counts.lines = m.pins();
    return 0;
}

int close_device(device &d)
{
    pthread_mutex_lock(&lock);
    const int fd = d.fd;
    if (d.generation == generation) {
        port &p = ports[d.index];
        if (d.claimed) {
            p.counts.unreleased++;
            release_claim(p, d);
        }
        if (d.registered) {
            p.registered--;
            if (d.want_exclusive)
                p.exclusive = false;
        }
        p.counts.closes++;
        write_stats();
    }
    d.fd = -1;
    pthread_mutex_unlock(&lock);
    return real_close(fd);
}

// open and open64 (at false), openat and openat64 (at true) on a path.
int open_any(const char *path, int flags, va_list ap, const char *name, bool at, int dirfd)
{
    const int k = device_index(path);
    if (k >= 0)
        return open_device(k, flags);
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE))
        mode = va_arg(ap, mode_t);
    if (!at)
        return real<open_fn>(name)(path, flags, mode);
    return real<openat_fn>(name)(dirfd, path, flags, mode);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = open_any(path, flags, ap, "open", false, 0);
    va_end(ap);
    return fd;
}

__attribute__((visibility("default"))) int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = open_any(path, flags, ap, "open64", false, 0);
    va_end(ap);
    return fd;
}

__attribute__((visibility("default"))) int openat(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = open_any(path, flags, ap, "openat", true, dirfd);
    va_end(ap);
    return fd;
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = open_any(path, flags, ap, "openat64", true, dirfd);
    va_end(ap);
    return fd;
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long code, ...)
{
    va_list ap;
    va_start(ap, code);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    pthread_once(&once, init_once);
    pthread_mutex_lock(&lock);
    device *d = device_of(fd);
    if (d == nullptr) {
        pthread_mutex_unlock(&lock);
        return real_ioctl(fd, code, arg);
    }
    const int error = serve(*d, code, arg);
    if (error != 0 && d->generation == generation) {
        port &p = ports[d->index];
        (error == EINTR ? p.counts.interrupted : p.counts.refused)++;
    }
    pthread_mutex_unlock(&lock);
    return error == 0 ? 0 : fail(error);
}

__attribute__((visibility("default"))) int close(int fd)
{
    pthread_once(&once, init_once);
    pthread_mutex_lock(&lock);
    device *d = device_of(fd);
    pthread_mutex_unlock(&lock);
    if (d != nullptr)
        return close_device(*d);
    return real_close(fd);
}

__attribute__((visibility("default"))) int ppdev_sim_setup(const char *config)
{
    pthread_once(&once, init_once);
    pthread_mutex_lock(&lock);
    const bool ok = configure(config);
    pthread_mutex_unlock(&lock);
    return ok ? 0 : -1;
}

__attribute__((visibility("default"))) int ppdev_sim_stats(int index, ppdev_sim_counts *counts)
{
    if (index < 0 || index >= MAX_PORTS || counts == nullptr)
        return -1;
    pthread_once(&once, init_once);
    pthread_mutex_lock(&lock);
    *counts = ports[index].counts;
    pthread_mutex_unlock(&lock);
    return 0;
}

} // extern "C"

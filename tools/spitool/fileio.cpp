// SPDX-License-Identifier: MIT
#include "fileio.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "errors.h"
#include "platform.h"
#include "text.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define fsync _commit
#define O_CLOEXEC 0
#else
#include <unistd.h>
#define O_BINARY 0
#endif

namespace fs = std::filesystem;

namespace spitool {

namespace {

std::string errno_text(int e = errno) { return std::strerror(e ? e : EIO); }

#ifdef _WIN32
// std::filesystem reads narrow names as UTF-8 on Windows; the tool's names
// are in the ANSI code page, as fopen and the A functions take them.
fs::path native(const std::string &name)
{
    std::wstring wide(name.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), wide.data(), int(wide.size())));
    return wide;
}

std::string narrow(const fs::path &p)
{
    const std::wstring &w = p.native();
    std::string name(w.size() * 4, '\0');
    name.resize(WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), name.data(), int(name.size()), 0, 0));
    return name;
}
#else
fs::path native(const std::string &name) { return name; }

std::string narrow(const fs::path &p) { return p.string(); }
#endif

// The file path stands for: symbolic links followed to the file they end
// at, also one that does not exist yet (it is created there); a loop is
// refused.
std::string link_target(const std::string &path)
{
    fs::path p = native(path);
    std::error_code ec;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(p, ec)); hops++) {
        if (hops == 40)
            throw Failure("cannot write " + path + ": " + errno_text(ELOOP));
        p = p.parent_path() / fs::read_symlink(p, ec); // an absolute target replaces the directory
    }
    return narrow(p);
}

bool shared(std::FILE *f) { return f == stdout || f == stderr; }

} // namespace

// ---------------------------------------------------------------- output

void OutputFile::open(const std::string &path)
{
    discard();
    path_ = path;
    kept_ = "";
    if ((file_ = is_stdio(path) ? stdout : stdio_stream_of(path))) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        return;
    }
    target_ = link_target(path);
    std::error_code ec;
    const fs::file_status st = fs::status(native(target_), ec);
    const bool existed = fs::exists(st);
    if (existed && !fs::is_regular_file(st) && !fs::is_directory(st)) {
        // A device or pipe cannot be replaced: it is written in place.
        if (!(file_ = std::fopen(target_.c_str(), "wb")))
            throw Failure("cannot open " + path + ": " + errno_text());
        return;
    }
    // A rename needs only the directory's permission: refuse a file that
    // could not be written in place, as a shell redirect would. A file with
    // no write permission for anyone (on Windows: read-only) is refused even
    // where access() would allow it (to the administrator).
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    kept_ = existed ? " (the old file is unchanged)" : " (no file written)";
    errno = EACCES;
    if (fs::is_regular_file(st) &&
        ((st.permissions() & writable) == fs::perms::none || access(target_.c_str(), W_OK) != 0))
        throw Failure(failure(errno_text()));
    std::random_device random;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100 && (attempt == 0 || errno == EEXIST); attempt++) {
        temp_ = target_ + strprintf(".tmp%08x", static_cast<unsigned>(random()));
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
    }
    if (fd < 0 || !(file_ = fdopen(fd, "wb"))) {
        const std::string why = errno_text();
        if (fd >= 0) {
            ::close(fd);
            std::remove(temp_.c_str());
        }
        temp_.clear();
        throw Failure("cannot create " + path + ": " + why);
    }
    if (existed) { // the owner where the user may; the permissions, but never set-user-id or set-group-id
        copy_owner(fd, target_);
        fs::permissions(native(temp_), st.permissions() & fs::perms::all, ec);
    }
}

int OutputFile::write(const std::string &s)
{
    errno = 0;
    if (file_ && std::fwrite(s.data(), 1, s.size(), file_) < s.size() && !error_)
        error_ = errno ? errno : EIO;
    return error_;
}

void OutputFile::commit()
{
    std::FILE *f = std::exchange(file_, nullptr);
    std::string why = error_ ? errno_text(error_) : "";
    auto step = [&](bool ok) {
        if (!ok && why.empty())
            why = errno_text();
    };
    errno = 0;
    step(std::fflush(f) == 0 && !std::ferror(f));
    if (!temp_.empty())
        step(fsync(fileno(f)) == 0);
    if (!shared(f))
        step(std::fclose(f) == 0);
    if (why.empty() && !temp_.empty()) {
        std::error_code ec;
        fs::rename(native(temp_), native(target_), ec);
        why = ec ? ec.message() : "";
#ifndef _WIN32
        // Make the new name durable as well: sync the directory.
        const std::string dir = fs::path(target_).parent_path().string();
        const int d = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_CLOEXEC);
        if (d >= 0) {
            (void)fsync(d);
            ::close(d);
        }
#endif
    }
    if (why.empty()) {
        temp_.clear();
        return;
    }
    const std::string message = failure(why);
    discard();
    throw Failure(message);
}

void OutputFile::discard()
{
    if (file_ && !shared(file_))
        std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty())
        std::remove(temp_.c_str());
    temp_.clear();
    error_ = 0;
}

std::string OutputFile::failure(const std::string &why) const
{
    return "cannot write " + (is_stdio(path_) ? "to standard output" : path_) + ": " + why + kept_;
}

void write_output(const std::string &path, const std::string &bytes)
{
    OutputFile f;
    f.open(path);
    f.write(bytes);
    f.commit();
}

int flush_stdout()
{
    static int error = 0; // a failed flush drops the buffer: a later one succeeds
    if (std::fflush(stdout) != 0 && !error)
        error = errno ? errno : EIO;
    return std::ferror(stdout) ? (error ? error : EIO) : 0;
}

// ---------------------------------------------------------------- input

InputFile::InputFile(const std::string &path) : name_(is_stdio(path) ? "stdin" : path)
{
    file_ = is_stdio(path) ? stdin : std::fopen(path.c_str(), "rb");
    if (!file_)
        throw UsageError("cannot open " + path + ": " + errno_text());
#ifdef _WIN32
    if (file_ == stdin)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    struct stat st;
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode))
        size_ = static_cast<long long>(st.st_size);
}

InputFile::~InputFile()
{
    if (file_ != stdin)
        std::fclose(file_);
}

void InputFile::read(std::string *data, size_t limit, const char *what)
{
    const bool by_size = what && size_ > static_cast<long long>(limit);
    // At most one byte past the limit: an endless input stops there.
    for (size_t n = 1; n > 0 && data->size() <= limit && !by_size;) {
        const size_t at = data->size();
        data->resize(std::min<size_t>(at + 65536, limit + 1));
        n = std::fread(data->data() + at, 1, data->size() - at, file_);
        data->resize(at + n);
    }
    if (std::ferror(file_))
        throw UsageError("cannot read " + name_ + ": " + errno_text());
    if (what && (by_size || data->size() > limit))
        throw UsageError(name_ + " is too large for " + what + " (" +
                         (by_size ? std::to_string(size_) : "more than " + std::to_string(limit)) +
                         " bytes; at most " + std::to_string(limit) + ")");
}

// ---------------------------------------------------------------- identity

void check_distinct_outputs(const std::vector<std::pair<std::string, std::string>> &outputs)
{
    std::error_code ec;
    // The file an output replaces; empty for standard output and devices,
    // which any number of outputs may share.
    auto file = [&](const std::string &path) {
        const fs::path p = path.empty() || is_stdio(path) ? fs::path() : native(link_target(path));
        return fs::exists(p, ec) && !fs::is_regular_file(p, ec) ? fs::path() : p;
    };
    // Where no file is there yet: the absolute path with "." and ".." taken
    // out, the directories that exist resolved.
    auto normal = [&](const fs::path &p) {
        const std::string n = fs::weakly_canonical(fs::absolute(p, ec), ec).string();
#ifdef _WIN32
        return lower(n); // names differing in case are one file
#else
        return n;
#endif
    };
    for (size_t i = 0; i < outputs.size(); i++)
        for (size_t j = i + 1; j < outputs.size(); j++) {
            const fs::path a = file(outputs[i].second), b = file(outputs[j].second);
            if (!a.empty() && !b.empty() && (fs::equivalent(a, b, ec) || normal(a) == normal(b)))
                throw UsageError(outputs[i].first + " and " + outputs[j].first + " name the same file (" +
                                 outputs[j].second + "); each output needs a file of its own");
        }
}

} // namespace spitool

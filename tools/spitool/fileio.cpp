// SPDX-License-Identifier: MIT
#include "fileio.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform.h"
#include "text.h"

namespace spitool {

namespace {

std::string errno_text() { return std::strerror(errno); }

// Opens file; when it cannot be opened, throws Error naming path (as given)
// and the reason.
template <typename Error>
std::FILE *open_or_throw(const std::string &file, const char *mode, const std::string &path)
{
    std::FILE *f = std::fopen(file.c_str(), mode);
    if (!f)
        throw Error("cannot open " + path + ": " + errno_text());
    return f;
}

#ifndef _WIN32
// The directory part of a path ("." when there is none) and the rest.
std::pair<std::string, std::string> split_path(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? path.substr(0, 1) : path.substr(0, slash), path.substr(slash + 1)};
}
#endif

// The file path stands for: a symbolic link followed to what it points to,
// also when that does not exist yet (then one level: it is created there).
std::string link_target(const std::string &path)
{
#ifdef _WIN32
    return path;
#else
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved))
        return resolved;
    if (errno != ENOENT)
        return path;
    ssize_t n = readlink(path.c_str(), resolved, sizeof(resolved) - 1);
    if (n <= 0)
        return path;
    std::string to(resolved, static_cast<size_t>(n));
    return to[0] == '/' ? to : split_path(path).first + "/" + to;
#endif
}

// Creates a new file beside path under a name of its own; returns the open
// descriptor and its name.
int create_temp_beside(const std::string &path, std::string *temp)
{
    static unsigned counter = 0;
#ifdef _WIN32
    unsigned seed = static_cast<unsigned>(GetCurrentProcessId());
#else
    unsigned seed = static_cast<unsigned>(getpid());
#endif
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned tag = seed * 2654435761u ^ static_cast<unsigned>(std::time(nullptr)) ^
                       (++counter * 40503u);
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".tmp%08x", tag);
        *temp = path + suffix;
#ifdef _WIN32
        int fd = _open(temp->c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

#ifndef _WIN32
// Gives the new file the permissions the target has, or else those a newly
// created file gets.
void copy_mode(int fd, const std::string &target)
{
    struct stat st;
    mode_t mode;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    (void)fchmod(fd, mode);
}
#endif

bool sync_and_close(std::FILE *f)
{
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
#ifdef _WIN32
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok && saved)
        errno = saved;
    return ok;
}

bool replace_file(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = EACCES;
    return false;
#else
    if (std::rename(from.c_str(), to.c_str()) != 0)
        return false;
    // Make the new name durable as well: sync the directory.
    int dir = ::open(split_path(to).first.c_str(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        ::close(dir);
    }
    return true;
#endif
}

} // namespace

// ---------------------------------------------------------------- output

OutputFile::~OutputFile() { discard(); }

void OutputFile::open(const std::string &path)
{
    discard();
    path_ = path;
    if (is_stdio(path)) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
        return;
    }
    // Replace the file a symbolic link points to, not the link.
    target_ = link_target(path);
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A device or pipe cannot be replaced: it is written in place.
        file_ = open_or_throw<Failure>(target_, "wb", path);
        device_ = true;
        return;
    }
    existed_ = ::stat(target_.c_str(), &st) == 0;
    // A rename needs only the directory's permission: refuse a file that
    // could not be written in place, as a shell redirect would. A file
    // with no write permission for anyone (on Windows: read-only) is
    // refused even where access() would allow it (to the administrator).
    if (existed_ && S_ISREG(st.st_mode)) {
        int denied = (st.st_mode & 0222) == 0 ? EACCES : 0;
#ifndef _WIN32
        if (!denied && access(target_.c_str(), W_OK) != 0)
            denied = errno;
#endif
        if (denied) {
            errno = denied;
            throw Failure("cannot write " + path + ": " + errno_text() + " (the old file is unchanged)");
        }
    }
    int fd = create_temp_beside(target_, &temp_);
    if (fd < 0) {
        std::string why = errno_text();
        temp_.clear();
        throw Failure("cannot create " + path + ": " + why);
    }
#ifdef _WIN32
    file_ = _fdopen(fd, "wb");
#else
    copy_mode(fd, target_);
    file_ = fdopen(fd, "wb");
#endif
    if (!file_) {
        std::string why = errno_text();
#ifdef _WIN32
        _close(fd);
#else
        ::close(fd);
#endif
        std::remove(temp_.c_str());
        temp_.clear();
        throw Failure("cannot create " + path + ": " + why);
    }
}

void OutputFile::write(const void *data, size_t n)
{
    errno = 0;
    if (file_ && n && std::fwrite(data, 1, n, file_) < n && !error_)
        error_ = errno ? errno : EIO;
}

void OutputFile::print(const char *format, ...)
{
    if (!file_)
        return;
    va_list args;
    va_start(args, format);
    errno = 0;
    if (std::vfprintf(file_, format, args) < 0 && !error_)
        error_ = errno ? errno : EIO;
    va_end(args);
}

void OutputFile::commit()
{
    if (!file_)
        throw Failure("cannot write " + path_ + ": not open");
    std::FILE *f = file_;
    file_ = nullptr;
    errno = 0;
    if (temp_.empty()) { // standard output or a device
        bool ok = std::fflush(f) == 0 && !std::ferror(f) && !error_;
        if (error_)
            errno = error_;
        std::string why = errno ? errno_text() : "write error";
        if (device_) {
            device_ = false;
            ok = std::fclose(f) == 0 && ok;
        }
        if (!ok)
            throw Failure("cannot write " + (is_stdio(path_) ? std::string("to standard output") : path_) +
                          ": " + why);
        return;
    }
    bool ok = sync_and_close(f) && !error_;
    if (error_)
        errno = error_;
    std::string why = errno ? errno_text() : "write error";
    if (ok && !replace_file(temp_, target_)) {
        ok = false;
        why = errno_text();
    }
    if (!ok) {
        std::remove(temp_.c_str());
        temp_.clear();
        throw Failure("cannot write " + path_ + ": " + why +
                      (existed_ ? " (the old file is unchanged)" : " (no file written)"));
    }
    temp_.clear();
}

void OutputFile::discard()
{
    if (file_ && (!temp_.empty() || device_))
        std::fclose(file_);
    file_ = nullptr;
    device_ = false;
    if (!temp_.empty())
        std::remove(temp_.c_str());
    temp_.clear();
    error_ = 0;
}

void write_output(const std::string &path, const std::string &bytes)
{
    OutputFile f;
    f.open(path);
    f.write(bytes);
    f.commit();
}

// ---------------------------------------------------------------- input

InputFile::~InputFile()
{
    if (file_ && owned_)
        std::fclose(file_);
}

void InputFile::open(const std::string &path)
{
    path_ = path;
    if (is_stdio(path)) {
        file_ = stdin;
        owned_ = false;
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    } else {
        file_ = open_or_throw<UsageError>(path, "rb", path);
        owned_ = true;
    }
    struct stat st;
    size_ = -1;
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode))
        size_ = static_cast<long long>(st.st_size);
}

bool InputFile::read_upto(std::string *data, size_t limit)
{
    char buf[16384];
    while (data->size() <= limit) {
        size_t want = std::min(sizeof(buf), limit + 1 - data->size());
        size_t n = std::fread(buf, 1, want, file_);
        data->append(buf, n);
        if (n < want) {
            if (std::ferror(file_))
                throw UsageError("cannot read " + name() + ": " + errno_text());
            return true;
        }
    }
    return false;
}

LineReader::LineReader(std::FILE *f, std::string name, size_t max_line, size_t max_total,
                       std::string head)
    : file_(f), name_(std::move(name)), head_(std::move(head)), max_line_(max_line), max_total_(max_total)
{
}

bool LineReader::next(std::string *line)
{
    line->clear();
    line_no_++;
    auto take = [&](char c) {
        if (line->size() >= max_line_)
            throw UsageError(name_ + ":" + std::to_string(line_no_) + ": line longer than " +
                             std::to_string(max_line_) + " bytes");
        line->push_back(c);
    };
    while (pos_ < head_.size()) {
        char c = head_[pos_++];
        if (c == '\n')
            return true;
        take(c);
    }
    int c;
    while ((c = std::getc(file_)) != EOF) {
        if (++total_ > max_total_)
            throw UsageError(name_ + " is too large (more than " + std::to_string(max_total_) + " bytes)");
        if (c == '\n')
            return true;
        take(static_cast<char>(c));
    }
    if (std::ferror(file_))
        throw UsageError("cannot read " + name_ + ": " + errno_text());
    return !line->empty();
}

bool InputFile::rewindable()
{
    start_ = size_ >= 0 ? std::ftell(file_) : -1;
    return start_ >= 0;
}

void InputFile::rewind()
{
    std::clearerr(file_);
    if (std::fseek(file_, start_, SEEK_SET) != 0)
        throw Failure("cannot read " + name() + " again: " + errno_text());
}

std::string read_input(const std::string &path, size_t limit, const std::string &what)
{
    InputFile in;
    in.open(path);
    auto too_large = [&](const std::string &size) {
        return UsageError(in.name() + " is too large for " + what + " (" + size + "; at most " +
                          std::to_string(limit) + " bytes)");
    };
    if (in.size() > static_cast<long long>(limit))
        throw too_large(std::to_string(in.size()) + " bytes");
    std::string data;
    if (!in.read_upto(&data, limit))
        throw too_large("more than " + std::to_string(limit) + " bytes");
    return data;
}

std::FILE *anonymous_temp_file()
{
#ifdef _WIN32
    char dir[MAX_PATH + 1], name[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof(dir), dir);
    if (n == 0 || n > sizeof(dir) || !GetTempFileNameA(dir, "spt", 0, name))
        return nullptr;
    // "D": removed when closed.
    return std::fopen(name, "w+bD");
#else
    return std::tmpfile();
#endif
}

bool stderr_is_terminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------- identity

namespace {

struct Identity {
    bool named = false;  // a file, not standard output
    bool device = false; // a device or pipe: any number of outputs may share it
    bool exists = false;
    unsigned long long volume = 0, index = 0; // where the file exists
    std::string path;                          // normalised, otherwise
    bool operator==(const Identity &o) const
    {
        return named && o.named && exists == o.exists &&
               (exists ? volume == o.volume && index == o.index : path == o.path);
    }
};

// An absolute path with "." and ".." and repeated separators taken out;
// the directory resolved by the file system where it exists.
std::string normalise(const std::string &path)
{
#ifdef _WIN32
    char full[MAX_PATH * 2];
    std::string p = _fullpath(full, path.c_str(), sizeof(full)) ? full : path;
    for (char &c : p)
        c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return p;
#else
    auto [dir, base] = split_path(path);
    char resolved[PATH_MAX];
    if (base != "." && base != ".." && realpath(dir.c_str(), resolved))
        return std::string(resolved) + "/" + base;
    std::string abs = path;
    if (path.empty() || path[0] != '/') {
        char cwd[PATH_MAX];
        abs = std::string(getcwd(cwd, sizeof(cwd)) ? cwd : ".") + "/" + path;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= abs.size()) {
        size_t j = abs.find('/', i);
        if (j == std::string::npos)
            j = abs.size();
        std::string part = abs.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string &p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
#endif
}

Identity identity(const std::string &path)
{
    Identity id;
    id.named = true;
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(h, &info)) {
            id.exists = true;
            id.volume = info.dwVolumeSerialNumber;
            id.index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        }
        CloseHandle(h);
    }
#else
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = !S_ISREG(st.st_mode);
        id.volume = static_cast<unsigned long long>(st.st_dev);
        id.index = static_cast<unsigned long long>(st.st_ino);
    }
#endif
    if (!id.exists)
        id.path = normalise(link_target(path));
    return id;
}

} // namespace

void check_distinct_outputs(const std::vector<std::pair<std::string, std::string>> &outputs)
{
    std::vector<Identity> ids;
    for (const auto &[what, path] : outputs)
        ids.push_back(path.empty() || is_stdio(path) ? Identity{} : identity(path));
    for (size_t i = 0; i < outputs.size(); i++)
        for (size_t j = i + 1; j < outputs.size(); j++)
            if (ids[i].named && !ids[i].device && ids[i] == ids[j])
                throw UsageError(outputs[i].first + " and " + outputs[j].first + " name the same file (" +
                                 outputs[j].second + "); each output needs a file of its own");
}

} // namespace spitool

#include "text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace store {

namespace {

void setError(std::string* error, const std::string& what, int errnoValue) {
    if (error) *error = what + ": " + std::strerror(errnoValue);
}

// Writes everything, going on after partial writes and interrupted calls.
// Returns 0 or the errno of the failing write.
int writeAll(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;  // would spin forever otherwise
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

// close() may report a failed delayed write (NFS, full disk); it must not be
// retried on EINTR on Linux, the descriptor is gone either way.
int closeChecked(int fd) {
    return ::close(fd) == 0 ? 0 : errno;
}

// The permission bits a newly created file gets, read without changing the
// process umask (umask() would race with other threads creating files).
mode_t newFileMode() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return static_cast<mode_t>(0666 & ~mask);
}

// Overwrites an existing file from its start and cuts it to the new length.
// Not atomic: should a write fail, the old content is put back, which fits
// in the space the file already had. Fails without touching anything when
// the file does not exist or cannot be opened for writing.
bool rewriteInPlace(const std::string& path, std::string_view content, std::string* error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const auto old = ReadTextFile(path, static_cast<std::size_t>(st.st_size));
    if (!old) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;

    int err = writeAll(fd, content);
    if (!err && ::ftruncate(fd, static_cast<off_t>(content.size())) != 0) err = errno;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (err) {
        if (::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, *old) == 0) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, static_cast<off_t>(old->size()));
        }
        ::close(fd);
        setError(error, "cannot write " + path, err);
        return false;
    }
    if (const int closeErr = closeChecked(fd)) {
        setError(error, "cannot close " + path, closeErr);
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadTextFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;

    std::string content;
    std::vector<char> buffer(64 * 1024);
    bool ok = true;
    while (content.size() < maxBytes) {
        const std::size_t want = std::min(buffer.size(), maxBytes - content.size());
        const ssize_t n = ::read(fd, buffer.data(), want);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;  // EISDIR for a folder, EIO for a broken medium
            break;
        }
        if (n == 0) break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return content;
}

bool EnsureFileExists(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);

    // No O_TRUNC: should the file appear between stat and open, it is kept.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    return closeChecked(fd) == 0;
}

std::optional<unsigned long long> FileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return static_cast<unsigned long long>(st.st_size);
}

bool ReplaceFileContent(const std::string& target, std::string_view content, std::string* error) {
    // A link is saved through: the file it points to gets the new content
    // and the link stays a link.
    std::string path = target;
    for (int hops = 0; hops < 16; ++hops) {
        char linked[4096];
        const ssize_t n = ::readlink(path.c_str(), linked, sizeof linked - 1);
        if (n < 0) break;
        linked[n] = '\0';
        const std::size_t cut = path.rfind('/');
        path = linked[0] == '/' || cut == std::string::npos ? std::string(linked)
                                                            : path.substr(0, cut + 1) + linked;
    }
    // Renaming over a file needs only the folder to be writable; a file the
    // operator made read-only keeps its content, as a direct write would.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        setError(error, "cannot write " + path, errno);
        return false;
    }

    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        setError(error, "cannot replace " + path, EISDIR);
        return false;
    }

    // A hidden name beside the target: rename() only replaces atomically
    // within one file system, and a leftover after a crash is not mistaken
    // for a settings or table file.
    // The name is cut so that a target with a long (legal) name still gets a
    // temporary name the file system takes.
    std::string temp = folder + "." + name.substr(0, 64) + ".XXXXXX";
    std::vector<char> templ(temp.begin(), temp.end());
    templ.push_back('\0');
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) {
        const int err = errno;
        // A folder the operator may not write to can still hold a file he
        // may write (a shared install, a file made writable for him): the
        // save then goes into the file itself rather than failing for good.
        if (rewriteInPlace(path, content, error)) return true;
        if (error && error->empty())
            setError(error, "cannot create a temporary file for " + path, err);
        return false;
    }
    temp.assign(templ.data());

    const auto fail = [&](const std::string& what, int errnoValue, bool open) {
        if (open) ::close(fd);
        ::unlink(temp.c_str());
        setError(error, what, errnoValue);
        return false;
    };

    // mkstemp makes the file private (0600); a save must not change who may
    // read the settings, and a new file gets the usual permissions.
    struct stat st;
    const bool replacesFile = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const mode_t mode = replacesFile ? (st.st_mode & 07777) : newFileMode();
    if (::fchmod(fd, mode) != 0) return fail("cannot set the permissions of " + temp, errno, true);

    if (const int err = writeAll(fd, content)) return fail("cannot write " + temp, err, true);
    if (::fsync(fd) != 0) return fail("cannot flush " + temp, errno, true);
    if (const int err = closeChecked(fd)) return fail("cannot close " + temp, err, false);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail("cannot replace " + path, errno, false);

    // Make the rename itself durable. The new content is in place already,
    // so a folder that cannot be flushed is not a failed save.
    const int dirFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool AppendToFile(const std::string& path, std::string_view content, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        setError(error, "cannot open " + path, errno);
        return false;
    }
    const int writeErr = writeAll(fd, content);
    const int closeErr = closeChecked(fd);
    if (writeErr) {
        setError(error, "cannot write " + path, writeErr);
        return false;
    }
    if (closeErr) {
        setError(error, "cannot close " + path, closeErr);
        return false;
    }
    return true;
}

}  // namespace store

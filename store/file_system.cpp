#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace store::fsys {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

int ErrnoFromWindows(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

bool Stat(const std::string& path, struct _stat64* st) {
    return _wstat64(Wide(path).c_str(), st) == 0;
}

}  // namespace

Kind KindOf(const std::string& path) {
    struct _stat64 st;
    if (!Stat(path, &st)) return Kind::Missing;
    if (st.st_mode & _S_IFDIR) return Kind::Folder;
    return (st.st_mode & _S_IFREG) ? Kind::File : Kind::Other;
}

bool EntryExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<unsigned long long> SizeOf(const std::string& path) {
    struct _stat64 st;
    if (!Stat(path, &st) || (st.st_mode & _S_IFDIR)) return std::nullopt;
    return static_cast<unsigned long long>(st.st_size);
}

// Links are rare on Windows and need privileges to make; a save writes
// through to whatever the name opens.
std::optional<std::string> LinkTarget(const std::string&) {
    return std::nullopt;
}

bool Writable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

int OpenFile(const std::string& path, Open how, int* err) {
    int flags = _O_BINARY | _O_NOINHERIT;
    switch (how) {
        case Open::Read:
            flags |= _O_RDONLY;
            break;
        case Open::Write:
            flags |= _O_WRONLY;
            break;
        case Open::Append:
            flags |= _O_WRONLY | _O_CREAT | _O_APPEND;
            break;
        case Open::CreateKeep:
            flags |= _O_WRONLY | _O_CREAT;
            break;
    }
    int fd = -1;
    const errno_t e = _wsopen_s(&fd, Wide(path).c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (e != 0) {
        *err = e;
        return -1;
    }
    return fd;
}

int CreateUnique(std::string& path, int* err) {
    const std::size_t x = path.size() >= 6 ? path.size() - 6 : 0;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long seed = GetTickCount64() ^ (GetCurrentProcessId() * 2654435761ULL);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = x; i < path.size(); ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            path[i] = kLetters[(seed >> 33) % 36];
        }
        int fd = -1;
        const errno_t e = _wsopen_s(&fd, Wide(path).c_str(),
                                    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                    _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (e == 0) return fd;
        if (e != EEXIST) {
            *err = e;
            return -1;
        }
    }
    *err = EEXIST;
    return -1;
}

// The C runtime's _read may remember that it met the end of a file and go
// on answering 0 after another program appended to it; a log's reader that
// follows the file must see those rows, so the read goes to the system.
long ReadSome(int fd, char* buffer, std::size_t size, int* err) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) {
        *err = EBADF;
        return -1;
    }
    const DWORD chunk = size > 1u << 30 ? 1u << 30 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(h, buffer, chunk, &got, nullptr)) {
        *err = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
        return -1;
    }
    return static_cast<long>(got);
}

int WriteAll(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const unsigned chunk = left > 1u << 30 ? 1u << 30 : static_cast<unsigned>(left);
        const int n = _write(fd, p, chunk);
        if (n < 0) return errno;
        if (n == 0) return EIO;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

int Rewind(int fd) {
    return _lseeki64(fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

int Seek(int fd, unsigned long long offset) {
    return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0 ? errno : 0;
}

bool TryLockExclusive(int fd) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at{};
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                      &at) != 0;
}

std::optional<unsigned long long> FreeBytes(const std::string& path) {
    ULARGE_INTEGER free{};
    const std::size_t sep = LastSeparator(path);
    const std::string folder = sep == std::string::npos ? "." : path.substr(0, sep + 1);
    if (!GetDiskFreeSpaceExW(Wide(folder).c_str(), &free, nullptr, nullptr)) return std::nullopt;
    return free.QuadPart;
}

int Truncate(int fd, unsigned long long size) {
    return _chsize_s(fd, static_cast<long long>(size));
}

int Flush(int fd) {
    return _commit(fd) == 0 ? 0 : errno;
}

int LockExclusive(int fd, bool lock) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) return EBADF;
    OVERLAPPED whole{};
    const BOOL ok = lock ? LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)
                         : UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    return ok ? 0 : EACCES;
}

int Close(int fd) {
    return _close(fd) == 0 ? 0 : errno;
}

int Remove(const std::string& path) {
    return _wunlink(Wide(path).c_str()) == 0 ? 0 : errno;
}

int ReplaceWith(const std::string& from, const std::string& to) {
    // rename() refuses an existing target here; this replaces it in one step.
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    return ErrnoFromWindows(GetLastError());
}

// MOVEFILE_WRITE_THROUGH has made the rename durable already.
void FlushFolder(const std::string&) {}

std::optional<unsigned> ModeOf(const std::string&) {
    return std::nullopt;
}

int SetMode(int, unsigned) {
    return 0;
}

unsigned NewFileMode() {
    return 0666;
}

int MakeFolders(const std::string& path) {
    if (path.empty()) return ENOENT;
    if (KindOf(path) == Kind::Folder) return 0;
    const std::size_t cut = LastSeparator(path);
    // "C:" or "\\server\share" cannot be made; they exist or the path is wrong.
    if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':' && path[cut - 1] != '\\') {
        if (const int e = MakeFolders(path.substr(0, cut))) return e;
    }
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return 0;
    const DWORD code = GetLastError();
    return code == ERROR_ALREADY_EXISTS && KindOf(path) == Kind::Folder ? 0
                                                                        : ErrnoFromWindows(code);
}

#else  // POSIX

Kind KindOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Kind::Missing;
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    return S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

bool EntryExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<unsigned long long> SizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return static_cast<unsigned long long>(st.st_size);
}

std::optional<std::string> LinkTarget(const std::string& path) {
    char linked[4096];
    const ssize_t n = ::readlink(path.c_str(), linked, sizeof linked - 1);
    if (n < 0) return std::nullopt;
    return std::string(linked, static_cast<std::size_t>(n));
}

bool Writable(const std::string& path) {
    return ::access(path.c_str(), F_OK) != 0 || ::access(path.c_str(), W_OK) == 0;
}

std::size_t LastSeparator(const std::string& path) {
    return path.rfind('/');
}

int OpenFile(const std::string& path, Open how, int* err) {
    int flags = O_CLOEXEC;
    switch (how) {
        case Open::Read:
            flags |= O_RDONLY;
            break;
        case Open::Write:
            flags |= O_WRONLY;
            break;
        case Open::Append:
            flags |= O_WRONLY | O_CREAT | O_APPEND;
            break;
        case Open::CreateKeep:
            flags |= O_WRONLY | O_CREAT;
            break;
    }
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) *err = errno;
    return fd;
}

int CreateUnique(std::string& path, int* err) {
    std::vector<char> templ(path.begin(), path.end());
    templ.push_back('\0');
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    path.assign(templ.data());
    return fd;
}

long ReadSome(int fd, char* buffer, std::size_t size, int* err) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) {
            *err = errno;  // EISDIR for a folder, EIO for a broken medium
            return -1;
        }
    }
}

int WriteAll(int fd, std::string_view content) {
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

int Rewind(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

int Seek(int fd, unsigned long long offset) {
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

bool TryLockExclusive(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::optional<unsigned long long> FreeBytes(const std::string& path) {
    struct statvfs vfs {};
    const std::size_t sep = LastSeparator(path);
    const std::string folder = sep == std::string::npos ? "."
                               : sep == 0               ? "/"
                                                        : path.substr(0, sep);
    if (::statvfs(folder.c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
}

int Truncate(int fd, unsigned long long size) {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Flush(int fd) {
    return ::fsync(fd) == 0 ? 0 : errno;
}

int LockExclusive(int fd, bool lock) {
    while (::flock(fd, lock ? LOCK_EX : LOCK_UN) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// Not retried on EINTR: on Linux the descriptor is gone either way.
int Close(int fd) {
    return ::close(fd) == 0 ? 0 : errno;
}

int Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int ReplaceWith(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void FlushFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::optional<unsigned> ModeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<unsigned>(st.st_mode & 07777);
}

int SetMode(int fd, unsigned mode) {
    return ::fchmod(fd, static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

// Read without changing the process umask (umask() would race with other
// threads creating files).
unsigned NewFileMode() {
    unsigned mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = value;
                break;
            }
        }
        std::fclose(f);
    }
    return 0666 & ~mask;
}

int MakeFolders(const std::string& path) {
    if (path.empty()) return ENOENT;
    if (KindOf(path) == Kind::Folder) return 0;
    const std::size_t cut = path.find_last_not_of('/');
    const std::size_t slash = cut == std::string::npos ? cut : path.rfind('/', cut);
    if (slash != std::string::npos && slash > 0) {
        if (const int e = MakeFolders(path.substr(0, slash))) return e;
    }
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    return errno == EEXIST && KindOf(path) == Kind::Folder ? 0 : errno;
}

#endif

}  // namespace store::fsys

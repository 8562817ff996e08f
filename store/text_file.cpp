#include "text_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "file_system.h"

namespace store {

namespace {

void setError(std::string* error, const std::string& what, int errnoValue) {
    if (error) *error = what + ": " + std::strerror(errnoValue);
}

// Overwrites an existing file from its start and cuts it to the new length.
// Not atomic: should a write fail, the old content is put back, which fits
// in the space the file already had. Fails without touching anything when
// the file does not exist or cannot be opened for writing.
bool rewriteInPlace(const std::string& path, std::string_view content, std::string* error) {
    const auto size = fsys::SizeOf(path);
    if (!size || fsys::KindOf(path) != fsys::Kind::File) return false;
    const auto old = ReadTextFile(path, static_cast<std::size_t>(*size));
    if (!old) return false;
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::Write, &err);
    if (fd < 0) return false;

    err = fsys::WriteAll(fd, content);
    if (!err) err = fsys::Truncate(fd, content.size());
    if (!err) err = fsys::Flush(fd);
    if (err) {
        if (fsys::Rewind(fd) == 0 && fsys::WriteAll(fd, *old) == 0) fsys::Truncate(fd, old->size());
        fsys::Close(fd);
        setError(error, "cannot write " + path, err);
        return false;
    }
    if (const int closeErr = fsys::Close(fd)) {
        setError(error, "cannot close " + path, closeErr);
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadTextFile(const std::string& path, std::size_t maxBytes) {
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::Read, &err);
    if (fd < 0) return std::nullopt;

    std::string content;
    std::vector<char> buffer(64 * 1024);
    bool ok = true;
    while (content.size() < maxBytes) {
        const std::size_t want = std::min(buffer.size(), maxBytes - content.size());
        const long n = fsys::ReadSome(fd, buffer.data(), want, &err);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    fsys::Close(fd);
    if (!ok) return std::nullopt;
    return content;
}

bool EnsureFileExists(const std::string& path) {
    const fsys::Kind kind = fsys::KindOf(path);
    if (kind != fsys::Kind::Missing) return kind != fsys::Kind::Folder;

    // Never truncating: should the file appear meanwhile, it is kept.
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::CreateKeep, &err);
    if (fd < 0) return false;
    return fsys::Close(fd) == 0;
}

std::optional<unsigned long long> FileSize(const std::string& path) {
    return fsys::SizeOf(path);
}

namespace {

// The body of both replacements: a temporary file beside the target, filled
// by write (which gives an errno value, 0 when it wrote), then renamed over
// the target. content, when given, is what an in-place rewrite would write.
bool replaceVia(const std::string& target, const std::function<int(int fd)>& write,
                const std::string_view* content, std::string* error) {
    // A link is saved through: the file it points to gets the new content
    // and the link stays a link.
    std::string path = target;
    for (int hops = 0; hops < 16; ++hops) {
        const auto linked = fsys::LinkTarget(path);
        if (!linked) break;
        const std::size_t cut = fsys::LastSeparator(path);
        path = (!linked->empty() && (*linked)[0] == '/') || cut == std::string::npos
                   ? *linked
                   : path.substr(0, cut + 1) + *linked;
    }
    // Renaming over a file needs only the folder to be writable; a file the
    // operator made read-only keeps its content, as a direct write would.
    if (!fsys::Writable(path)) {
        setError(error, "cannot write " + path, EACCES);
        return false;
    }

    const std::size_t slash = fsys::LastSeparator(path);
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        setError(error, "cannot replace " + path, EISDIR);
        return false;
    }

    // A hidden name beside the target: a rename only replaces atomically
    // within one file system, and a leftover after a crash is not mistaken
    // for a settings or table file.
    // The name is cut so that a target with a long (legal) name still gets a
    // temporary name the file system takes.
    std::string temp = folder + "." + name.substr(0, 64) + ".XXXXXX";
    int err = 0;
    const int fd = fsys::CreateUnique(temp, &err);
    if (fd < 0) {
        // A folder the operator may not write to can still hold a file he
        // may write (a shared install, a file made writable for him): the
        // save then goes into the file itself rather than failing for good.
        if (content && rewriteInPlace(path, *content, error)) return true;
        if (error && error->empty())
            setError(error, "cannot create a temporary file for " + path, err);
        return false;
    }

    const auto fail = [&](const std::string& what, int errnoValue, bool open) {
        if (open) fsys::Close(fd);
        fsys::Remove(temp);
        setError(error, what, errnoValue);
        return false;
    };

    // The temporary file is private; a save must not change who may read
    // the settings, and a new file gets the usual permissions.
    const auto oldMode = fsys::ModeOf(path);
    if (const int e = fsys::SetMode(fd, oldMode ? *oldMode : fsys::NewFileMode()))
        return fail("cannot set the permissions of " + temp, e, true);

    if (const int e = write(fd)) return fail("cannot write " + temp, e, true);
    if (const int e = fsys::Flush(fd)) return fail("cannot flush " + temp, e, true);
    if (const int e = fsys::Close(fd)) return fail("cannot close " + temp, e, false);
    if (const int e = fsys::ReplaceWith(temp, path))
        return fail("cannot replace " + path, e, false);

    // Make the rename itself durable. The new content is in place already,
    // so a folder that cannot be flushed is not a failed save.
    fsys::FlushFolder(folder);
    return true;
}

}  // namespace

bool ReplaceFileContent(const std::string& target, std::string_view content, std::string* error) {
    return replaceVia(
        target, [content](int fd) { return fsys::WriteAll(fd, content); }, &content, error);
}

bool ReplaceFileStreamed(
    const std::string& target,
    const std::function<bool(const std::function<bool(std::string_view)>&)>& produce,
    std::string* error) {
    return replaceVia(
        target,
        [&produce](int fd) {
            // Written in blocks of about a megabyte: few calls, little memory.
            std::string block;
            int failed = 0;
            const auto put = [&](std::string_view text) {
                block.append(text);
                if (block.size() >= (1u << 20)) {
                    failed = fsys::WriteAll(fd, block);
                    block.clear();
                }
                return failed == 0;
            };
            if (!produce(put)) return failed ? failed : EIO;
            return failed ? failed : fsys::WriteAll(fd, block);
        },
        nullptr, error);
}

bool AppendToFile(const std::string& path, std::string_view content, std::string* error) {
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::Append, &err);
    if (fd < 0) {
        setError(error, "cannot open " + path, err);
        return false;
    }
    const int writeErr = fsys::WriteAll(fd, content);
    const int closeErr = fsys::Close(fd);
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

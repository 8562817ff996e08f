#pragma once

// The few file system calls the store makes, for POSIX systems and Windows.
// Paths are UTF-8; descriptors are plain ints; a failure gives an errno value
// (0 for success) so that messages read the same on both systems.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace store::fsys {

enum class Kind { Missing, File, Folder, Other };

// What the path names, following links.
Kind KindOf(const std::string& path);
// True also for a link whose target has gone.
bool EntryExists(const std::string& path);
std::optional<unsigned long long> SizeOf(const std::string& path);
// The text of a symbolic link, or nothing when the path is not one.
std::optional<std::string> LinkTarget(const std::string& path);
// False only for an existing file this process may not write.
bool Writable(const std::string& path);
// Where the folder part of a path ends: the last separator, or npos.
std::size_t LastSeparator(const std::string& path);

enum class Open { Read, Write, Append, CreateKeep };
// A descriptor, or -1 with the reason in *err. Files are opened as bytes,
// never with a newline translation, and are not inherited by child processes.
int OpenFile(const std::string& path, Open how, int* err);
// Creates a new file whose name is path with its trailing "XXXXXX" replaced;
// path holds the name made. Only the owner may read it until SetMode.
int CreateUnique(std::string& path, int* err);
// Bytes read (0 at the end), or -1 with the reason in *err.
long ReadSome(int fd, char* buffer, std::size_t size, int* err);
// Writes everything, going on after partial writes and interrupted calls.
int WriteAll(int fd, std::string_view content);
int Rewind(int fd);
// Moves the descriptor's position to offset bytes from the start.
int Seek(int fd, unsigned long long offset);
int Truncate(int fd, unsigned long long size);
// Has the system put the file's content on the disk.
int Flush(int fd);
// Takes (waiting for it) or gives back an exclusive lock on the whole file,
// advisory where the system has only those.
int LockExclusive(int fd, bool lock);
// Takes the exclusive lock only if nobody holds it: false when another
// process does.
bool TryLockExclusive(int fd);
// The bytes this process may still write on the disk that holds path.
std::optional<unsigned long long> FreeBytes(const std::string& path);
// The descriptor is gone afterwards whatever the result; a close may report
// a failed delayed write (NFS, full disk).
int Close(int fd);
int Remove(const std::string& path);
// Puts from in the place of to, replacing it atomically when it exists.
int ReplaceWith(const std::string& from, const std::string& to);
// Makes a rename in the folder durable, where the system knows of that.
void FlushFolder(const std::string& folder);

// Permission bits, where the system has them (nothing on Windows).
std::optional<unsigned> ModeOf(const std::string& path);
int SetMode(int fd, unsigned mode);
// What a newly created file gets: 0666 less the process's umask.
unsigned NewFileMode();

// Creates the folder and the folders above it that are missing.
int MakeFolders(const std::string& path);

}  // namespace store::fsys

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace store {

// Files are read and written as bytes; lines are ended by CR LF by the callers.

// The whole content of a file, or nothing when it cannot be opened or read.
// Files larger than maxBytes are read only up to maxBytes.
std::optional<std::string> ReadTextFile(const std::string& path,
                                        std::size_t maxBytes = 4 * 1024 * 1024);

// Creates an empty file when none exists; an existing file is left unchanged.
// False when the file can neither be found nor created.
bool EnsureFileExists(const std::string& path);

// Size in bytes, or nothing when the file does not exist or cannot be read.
std::optional<unsigned long long> FileSize(const std::string& path);

// Replaces the file's content only once the new content is completely written:
// writes a temporary file in the same folder, flushes it to disk, then renames
// it over the old one. On failure the old file is untouched, the temporary
// file removed, and the reason is put into *error when given. A symbolic link
// is saved through to the file it names; a file that cannot be written (read
// only) is left alone and the save fails. When no temporary file can be made
// (a folder that is not writable), an existing writable file is rewritten in
// place instead, which is not atomic.
bool ReplaceFileContent(const std::string& target, std::string_view content,
                        std::string* error = nullptr);

// ReplaceFileContent for content too large to hold: produce is handed a
// writer it calls with each piece, and returns false to give up (the old
// file then stays). No in-place fallback: a half-written file is never left.
bool ReplaceFileStreamed(
    const std::string& target,
    const std::function<bool(const std::function<bool(std::string_view)>&)>& produce,
    std::string* error = nullptr);

// Appends to the file (creating it when missing) and closes it again, also
// when writing fails.
bool AppendToFile(const std::string& path, std::string_view content, std::string* error = nullptr);

}  // namespace store

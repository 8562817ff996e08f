#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wire {

// Cuts the next complete reply line ("*" up to, not including, the next CR)
// out of the received text, reading from `consumed`, which is advanced past
// what the line took. A "*" that comes before the CR of the reply begun
// earlier starts a new reply: the unfinished one is dropped. Text before a
// "*" is discarded with the line. Nothing is cut while no "*" is followed by
// a CR; the text then stays for the next receive event. Cutting many lines
// this way and erasing once keeps a large receive event linear.
std::optional<std::string> CutReplyLine(const std::string& rxBuffer, std::size_t& consumed);

// Keeps the unconsumed received text bounded whatever the line brings,
// without changing how any reply is handled. Called once the line loop found
// no complete line:
//  - text that can no longer start a reply goes (everything when there is no
//    "*", everything before the last "*" when no CR follows the first);
//  - an unfinished reply keeps only the characters any reply kind reads
//    (kMaxReplyLength); the rest could never be looked at;
//  - a backlog of complete lines (left by a stopped line loop) is cut from
//    the front beyond kMaxBacklog.
void BoundReceivedText(std::string& rxBuffer);

constexpr std::size_t kMaxReplyLength = 64;  // the furthest position read is 41
constexpr std::size_t kMaxBacklog = 16 * 1024;

// A field of a reply line: the characters at 1-based positions first..last,
// shorter (or empty) where the line ends first.
std::string_view Field(std::string_view line, std::size_t first, std::size_t last);

// Two-character value k of a reply whose first value starts at position
// firstPos and whose values are 3 characters apart.
std::string_view Value(std::string_view line, std::size_t firstPos, int k);

}  // namespace wire

#include "reply_lines.h"

namespace wire {

std::optional<std::string> CutReplyLine(const std::string& rx, std::size_t& consumed) {
    // The CR that ends the reply begun at a "*" also ends every reply begun
    // at a later "*" before it, so it is searched for once, not per "*".
    std::size_t cr = std::string::npos;
    for (;;) {
        const std::size_t p1 = rx.find('*', consumed);
        if (p1 == std::string::npos) return std::nullopt;
        if (cr == std::string::npos || cr <= p1) cr = rx.find('\r', p1 + 1);
        if (cr == std::string::npos) return std::nullopt;
        const std::size_t p2 = rx.find('*', p1 + 1);
        if (p2 < cr) {
            // A new reply began before the previous one ended.
            consumed = p2;
            continue;
        }
        consumed = cr + 1;
        return rx.substr(p1, cr - p1);
    }
}

void BoundReceivedText(std::string& rx) {
    // Complete lines (a stopped line loop leaves them for the next receive
    // event) end at the last CR that follows a "*"; what comes after that CR
    // is an unfinished reply at most. Everything is cut in place: this runs
    // on every receive event.
    const std::size_t first = rx.find('*');
    if (first == std::string::npos) {
        rx.clear();
        return;
    }
    const std::size_t lastCr = rx.rfind('\r');
    const std::size_t tailStart = lastCr == std::string::npos || lastCr < first ? 0 : lastCr + 1;

    // Only the tail's last "*" can still begin the reply the next CR ends,
    // and no reply kind reads beyond its first kMaxReplyLength characters.
    const std::size_t star = rx.rfind('*');
    if (star != std::string::npos && star >= tailStart) {
        if (rx.size() - star > kMaxReplyLength) rx.resize(star + kMaxReplyLength);
        rx.erase(tailStart, star - tailStart);
    } else {
        rx.resize(tailStart);
    }

    if (tailStart > kMaxBacklog) {
        std::size_t cut = tailStart - kMaxBacklog;
        const std::size_t headStar = rx.find('*', cut);
        cut = headStar == std::string::npos || headStar > tailStart ? tailStart : headStar;
        rx.erase(0, cut);
    }
}

std::string_view Field(std::string_view line, std::size_t first, std::size_t last) {
    if (first < 1 || first > line.size() || last < first) return {};
    return line.substr(first - 1, last - first + 1);
}

std::string_view Value(std::string_view line, std::size_t firstPos, int k) {
    const std::size_t pos = firstPos + 3 * static_cast<std::size_t>(k - 1);
    return Field(line, pos, pos + 1);
}

}  // namespace wire

#include "reply_lines.h"

namespace wire {

std::optional<std::string> CutReplyLine(std::string& rx) {
    for (;;) {
        const std::size_t p1 = rx.find('*');
        if (p1 == std::string::npos) return std::nullopt;
        const std::size_t p2 = rx.find('*', p1 + 1);
        const std::size_t p3 = rx.find('\r', p1 + 1);
        if (p2 != std::string::npos && p3 != std::string::npos && p2 < p3) {
            // A new reply began before the previous one ended.
            rx.erase(0, p2);
            continue;
        }
        if (p3 == std::string::npos) return std::nullopt;
        std::string line = rx.substr(p1, p3 - p1);
        rx.erase(0, p3 + 1);
        return line;
    }
}

void BoundReceivedText(std::string& rx) {
    const std::size_t p1 = rx.find('*');
    if (p1 == std::string::npos) {
        rx.clear();
        return;
    }
    if (rx.find('\r', p1 + 1) == std::string::npos) {
        // Only the last "*" can still begin the reply that the next CR ends.
        rx.erase(0, rx.rfind('*'));
        if (rx.size() > kMaxReplyLength) rx.resize(kMaxReplyLength);
        return;
    }
    if (rx.size() > kMaxBacklog) {
        rx.erase(0, rx.size() - kMaxBacklog);
        const std::size_t star = rx.find('*');
        rx.erase(0, star == std::string::npos ? rx.size() : star);
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

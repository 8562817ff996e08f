#include "live_table.h"

#include <algorithm>
#include <functional>

namespace modsetup {

namespace {

// The characters of a UTF-8 text, each with its continuation bytes.
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> out;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80 && !out.empty()) {
            out.back() += c;
        } else {
            out.emplace_back(1, c);
        }
    }
    return out;
}

std::string Join(std::vector<std::string>::const_iterator from,
                 std::vector<std::string>::const_iterator to) {
    std::string out;
    for (auto i = from; i != to; ++i) out += *i;
    return out;
}

// Cut to width columns, marking the cut: a state keeps its start, a port
// its end (a by-id path ends in the adapter's serial and its port).
std::string CutEnd(const std::string& text, std::size_t width) {
    const std::vector<std::string> c = Characters(text);
    if (c.size() <= width) return text;
    if (width < 4) return Join(c.begin(), c.begin() + static_cast<long>(width));
    return Join(c.begin(), c.begin() + static_cast<long>(width - 3)) + "...";
}

std::string CutStart(const std::string& text, std::size_t width) {
    const std::vector<std::string> c = Characters(text);
    if (c.size() <= width) return text;
    if (width < 4) return Join(c.end() - static_cast<long>(width), c.end());
    return "..." + Join(c.end() - static_cast<long>(width - 3), c.end());
}

std::string ShownPort(const std::string& port) {
    // A port given as a path is known by its last part ("COM3", or the
    // by-id name of the adapter).
    const std::size_t slash = port.rfind('/');
    return slash == std::string::npos ? port : port.substr(slash + 1);
}

std::string ShownDevice(const std::string& device) {
    return device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
}

struct Column {
    const char* header;
    std::function<std::string(const TableRow&)> cell;
    bool keepEnd = false;  // cut from the start
    std::size_t min = 0;
    std::size_t natural = 0;
    std::size_t width = 0;
    bool shown = false;
};

// What the sockets that do not fit are doing: "writing" for "writing Ch2",
// "FAIL" for "FAIL: reason".
std::string StateGroup(const std::string& state) {
    std::string group = state.substr(0, state.find(':'));
    const std::size_t ch = group.rfind(" Ch");
    if (ch != std::string::npos && ch + 3 < group.size() &&
        group.find_first_not_of("0123456789", ch + 3) == std::string::npos) {
        group.erase(ch);
    }
    return group;
}

std::string Summary(std::vector<TableRow>::const_iterator from,
                    std::vector<TableRow>::const_iterator to) {
    struct Group {
        std::string name;
        int count = 0;
        std::string numbers;  // of the sockets that need the operator
    };
    std::vector<Group> groups;
    for (auto r = from; r != to; ++r) {
        const std::string name = StateGroup(r->state);
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&name](const Group& x) { return x.name == name; });
        if (g == groups.end()) g = groups.insert(groups.end(), Group{name, 0, {}});
        ++g->count;
        if (r->attention)
            g->numbers += (g->numbers.empty() ? "" : ", ") + std::to_string(r->number);
    }
    std::string line =
        "sockets " + std::to_string(from->number) + "-" + std::to_string((to - 1)->number) + ":";
    for (std::size_t i = 0; i < groups.size(); ++i) {
        line += (i ? ", " : " ") + std::to_string(groups[i].count) + " " + groups[i].name;
        if (!groups[i].numbers.empty()) line += " (" + groups[i].numbers + ")";
    }
    return line;
}

}  // namespace

std::size_t TextColumns(const std::string& text) {
    return Characters(text).size();
}

int TableLinesFor(int screenRows) {
    if (screenRows < 2) return 0;
    return screenRows - std::max(1, screenRows / 4);
}

std::vector<std::string> LayOutTable(const std::vector<TableRow>& rows, const std::string& totals,
                                     int width, int maxLines) {
    std::vector<std::string> lines;
    if (maxLines < 1 || width < 1) return lines;
    const auto w = static_cast<std::size_t>(width);

    enum { kSocket, kPort, kDevice, kState, kSerial, kLast, kTime };
    std::vector<Column> c = {
        {"socket", [](const TableRow& r) { return std::to_string(r.number); }},
        {"port", [](const TableRow& r) { return ShownPort(r.port); }, true},
        {"device", [](const TableRow& r) { return ShownDevice(r.device); }, true},
        {"state", [](const TableRow& r) { return r.state; }},
        {"serial", [](const TableRow& r) { return r.serial; }},
        {"last", [](const TableRow& r) { return r.result; }},
        {"time", [](const TableRow& r) { return r.time; }},
    };
    for (Column& col : c) {
        col.natural = TextColumns(col.header);
        for (const TableRow& r : rows)
            col.natural = std::max(col.natural, TextColumns(col.cell(r)));
        col.min = col.natural;
    }
    // The ports and devices stay the same through a run and so does the
    // screen, so the columns keep their places from one redraw to the next:
    // only these three shrink to make room, and a state's column is never
    // as wide as its text of the moment.
    c[kPort].min = std::min<std::size_t>(c[kPort].natural, 12);
    c[kPort].natural = std::min<std::size_t>(c[kPort].natural, 48);
    c[kDevice].min = std::min<std::size_t>(c[kDevice].natural, 8);
    c[kDevice].natural = std::min<std::size_t>(c[kDevice].natural, 16);
    c[kState].min = 12;
    c[kState].natural = 72;
    // Room for what comes, not only for what is shown now: a serial, a
    // duration of tens of seconds.
    c[kSerial].min = c[kSerial].natural = std::max<std::size_t>(c[kSerial].natural, 8);
    c[kTime].min = c[kTime].natural = std::max<std::size_t>(c[kTime].natural, 6);

    const std::size_t gap = w >= 100 ? 2 : 1;
    std::size_t used = 0;
    const auto show = [&](int i) {
        used += (used ? gap : 0) + c[static_cast<std::size_t>(i)].min;
        c[static_cast<std::size_t>(i)].shown = true;
        c[static_cast<std::size_t>(i)].width = c[static_cast<std::size_t>(i)].min;
    };
    for (const int i : {kSocket, kState, kSerial}) show(i);
    for (const int i : {kPort, kLast, kTime, kDevice}) {
        if (used + gap + c[static_cast<std::size_t>(i)].min <= w) show(i);
    }
    if (used > w) c[kState].width -= std::min(c[kState].width - 1, used - w);
    std::size_t spare = used < w ? w - used : 0;
    const auto grow = [&](int i, std::size_t upTo) {
        Column& col = c[static_cast<std::size_t>(i)];
        if (!col.shown || col.width >= upTo) return;
        const std::size_t more = std::min(spare, upTo - col.width);
        col.width += more;
        spare -= more;
    };
    grow(kState, 20);
    grow(kPort, c[kPort].natural);
    grow(kState, 30);
    grow(kDevice, c[kDevice].natural);
    grow(kState, c[kState].natural);

    const auto line = [&](const std::function<std::string(const Column&)>& text) {
        std::string out;
        for (const Column& col : c) {
            if (!col.shown) continue;
            const std::string t =
                col.keepEnd ? CutStart(text(col), col.width) : CutEnd(text(col), col.width);
            if (!out.empty()) out += std::string(gap, ' ');
            out += t + std::string(col.width - TextColumns(t), ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return CutEnd(out, w);
    };

    const auto socketLines = static_cast<std::size_t>(std::max(0, maxLines - 2));
    if (maxLines >= 3) lines.push_back(line([](const Column& col) { return col.header; }));
    if (rows.size() <= socketLines) {
        for (const TableRow& r : rows)
            lines.push_back(line([&r](const Column& col) { return col.cell(r); }));
    } else if (!rows.empty() && maxLines >= 2) {
        const std::size_t shown = maxLines >= 3 ? socketLines - 1 : 0;
        for (std::size_t i = 0; i < shown; ++i) {
            const TableRow& r = rows[i];
            lines.push_back(line([&r](const Column& col) { return col.cell(r); }));
        }
        lines.push_back(CutEnd(Summary(rows.begin() + static_cast<long>(shown), rows.end()), w));
    }
    lines.push_back(CutEnd(totals, w));
    return lines;
}

namespace {

std::string Csi(int n, char what) {
    return "\x1b[" + std::to_string(n) + what;
}

// Rows 1..rows scroll; the cursor goes home. Given in full, also for the
// whole screen: some terminals keep the old bottom for a bare "ESC [ r".
std::string ScrollRegion(int rows) {
    return "\x1b[1;" + std::to_string(rows) + "r";
}

std::string MoveTo(int row) {
    return "\x1b[" + std::to_string(row) + ";1H";
}

constexpr const char* kSaveCursor =
    "\x1b"
    "7";
constexpr const char* kRestoreCursor =
    "\x1b"
    "8";
constexpr const char* kClearLine = "\x1b[2K";
constexpr std::size_t kLogKept = 200;

}  // namespace

void LiveTable::Logged(const std::string& line) {
    log_.push_back(line);
    if (log_.size() > kLogKept) log_.pop_front();
}

std::string LiveTable::Draw(const std::vector<std::string>& linesIn, int width, int height) {
    if (height < 2 || linesIn.empty()) return {};
    // The messages keep a row at least.
    std::vector<std::string> lines(
        linesIn.end() - std::min<long>(static_cast<long>(linesIn.size()), height - 1),
        linesIn.end());
    const int n = static_cast<int>(lines.size());
    const int top = height - n + 1;  // the table's first row, 1-based
    std::string out;
    if (drawn_.empty() || width != width_ || height != height_ || lines.size() != drawn_.size()) {
        if (drawn_.empty()) {
            // Room below the cursor for the table: the screen scrolls up
            // when the cursor is too low, and the cursor comes back to the
            // row it was on, or to the last row the messages have.
            out += std::string(static_cast<std::size_t>(n), '\n') + Csi(n, 'A');
            out += kSaveCursor + ScrollRegion(top - 1) + kRestoreCursor;
        } else {
            // A new size: whatever the terminal made of the old screen, it is
            // laid out again, with the latest messages above the table.
            out += "\x1b[2J" + ScrollRegion(top - 1) + MoveTo(1);
            const std::size_t replay = std::min(log_.size(), static_cast<std::size_t>(top - 1));
            for (auto l = log_.end() - static_cast<long>(replay); l != log_.end(); ++l) {
                out += *l + "\n";
            }
        }
        width_ = width;
        height_ = height;
        drawn_.assign(lines.size(), std::string(1, '\0'));  // matches no line
    }
    std::string changed;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == drawn_[i]) continue;
        changed += MoveTo(top + static_cast<int>(i)) + kClearLine + lines[i];
        drawn_[i] = lines[i];
    }
    if (!changed.empty()) out += kSaveCursor + changed + kRestoreCursor;
    return out;
}

std::string LiveTable::Finish() {
    if (drawn_.empty()) return {};
    drawn_.clear();
    // Below the table, which the messages that follow scroll up with the
    // rest of the screen.
    return ScrollRegion(height_) + MoveTo(height_) + "\n";
}

}  // namespace modsetup

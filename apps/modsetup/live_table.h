#pragma once

// The live table of modsetup station on a terminal: a line per socket and
// the totals at the foot of the screen, the messages scrolling above it.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace modsetup {

// One socket as the table shows it.
struct TableRow {
    int number = 0;
    std::string port;    // as given: "COM3" or a device path
    std::string device;  // what it opens: "/dev/ttyUSB0"
    std::string state;   // "empty", "writing Ch2", "FAIL: reason", ...
    std::string serial;  // of the module the state is about; empty when none
    std::string result;  // the last attempt's result: "pass", "fail", ...
    std::string time;    // the last attempt's duration: "4.2 s"
    // A state the operator must act on (a FAIL to take out, an adapter to
    // plug in): named even when its line does not fit the screen.
    bool attention = false;
};

// How many columns a text takes on a terminal: one per character of its
// UTF-8 text.
std::size_t TextColumns(const std::string& text);

// The table as lines for a screen width columns wide, at most maxLines
// lines: the header, a line per socket, the totals last. Sockets that do not
// fit are summed up in one line ("sockets 17-24: 5 writing, 3 empty"). No
// line is wider than width; every line's columns start where the header's
// do, however long a port's path is. Nothing when maxLines < 1.
std::vector<std::string> LayOutTable(const std::vector<TableRow>& rows, const std::string& totals,
                                     int width, int maxLines);

// How many of a screen's rows the table may take: the rest, at least a
// quarter, keeps the messages.
int TableLinesFor(int screenRows);

// Draws the table at the foot of a terminal, below a scroll region in which
// the messages scroll; the table is drawn at fixed rows, so a message never
// lands in it and a redraw never overwrites a message. The texts it returns
// go to the terminal as they are, in order.
class LiveTable {
  public:
    // The bytes that bring the screen to these lines (from LayOutTable for
    // this size): the first time, and after the size or the table's height
    // changed, the screen is laid out again; then only the lines that
    // changed. Empty when nothing changed.
    std::string Draw(const std::vector<std::string>& lines, int width, int height);
    // A message line that went to the terminal, kept to be shown again when
    // a new size makes the screen be laid out again.
    void Logged(const std::string& line);
    // Gives the whole screen back: no scroll region, the cursor on a new
    // line below the table. Empty when nothing was drawn.
    std::string Finish();

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::string> drawn_;  // the lines at the foot, top first
    std::deque<std::string> log_;     // the latest messages
};

}  // namespace modsetup

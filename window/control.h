#pragma once

#include <string>
#include <vector>

namespace window {

// The colour set. NormalColour is the system's window background (the colour
// behind text in boxes); the others are fixed.
enum class Colour { Normal, Ok, RangeError, Blank, Inexact };

struct Rgb {
    int r, g, b;
};
// The fixed colours (NormalColour has no fixed value; the adapter asks the
// system).
Rgb ColourValue(Colour colour);

// What the toolkit would hold for one control: caption or text, background,
// enabled flag, tooltip, list items, check value. Each control uses the parts
// that apply to it.
struct Control {
    std::string text;
    Colour back = Colour::Normal;
    bool enabled = true;
    std::string toolTip;
    std::vector<std::string> items;
    std::vector<std::string> itemToolTips;  // one per item where the list has them
    int value = 0;                          // check box: 1 checked, 0 unchecked
};

enum class Alignment { Left, Centre };

// MSFlexGrid-like register grid: row 0 and column 0 are fixed headers.
struct Grid {
    int rows = 0;
    int cols = 0;
    std::vector<std::string> cells;
    std::vector<int> colWidth;  // twips
    std::vector<Alignment> colAlignment;

    void Resize(int r, int c) {
        rows = r;
        cols = c;
        cells.assign(static_cast<std::size_t>(r * c), std::string());
        colWidth.assign(static_cast<std::size_t>(c), 0);
        colAlignment.assign(static_cast<std::size_t>(c), Alignment::Left);
    }
    const std::string& Cell(int r, int c) const {
        return cells[static_cast<std::size_t>(r * cols + c)];
    }
    void SetCell(int r, int c, std::string text) {
        cells[static_cast<std::size_t>(r * cols + c)] = std::move(text);
    }
};

}  // namespace window

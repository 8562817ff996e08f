#include "readable_colour.h"

#include <algorithm>
#include <cmath>

namespace window {

namespace {

// The least contrast the status lines must reach on their background, with
// some room for the edges of anti-aliased glyphs, which never reach the
// full colour.
constexpr double kWantedContrast = 4.5;
constexpr double kRoom = 0.5;

double Luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableRed(const QColor& background) {
    const QColor red(255, 0, 0);
    const double wanted = kWantedContrast + kRoom;
    if (ContrastRatio(red, background) >= wanted) return red;
    // A background darker than red wants a lighter red (towards white), a
    // lighter one a darker red (towards black).
    const bool lighten = Luminance(background) < Luminance(red);
    QColor best = red;
    for (int k = 1; k <= 255; ++k) {
        const QColor c = lighten ? QColor(255, k, k) : QColor(255 - k, 0, 0);
        best = c;
        if (ContrastRatio(c, background) >= wanted) break;
    }
    return best;
}

}  // namespace window

#pragma once

#include <QColor>

namespace window {

// Contrast ratio of two colours as the accessibility guidelines define it,
// from their relative luminance: 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// The red the status lines are drawn in on this background: pure red where
// it reads well, otherwise the nearest red that does, lighter on a dark
// window and darker on a light one. Its hue stays red.
QColor ReadableRed(const QColor& background);

}  // namespace window

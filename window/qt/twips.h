#pragma once

namespace window {

// Sizes and positions are kept in twips (1/1440 inch) and turned into pixels
// through the screen's logical DPI.
double ScreenDpi();
int TwipsToPixels(long twips);
long PixelsToTwips(int pixels);

}  // namespace window

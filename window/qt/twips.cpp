#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace window {

double ScreenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

int TwipsToPixels(long twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * ScreenDpi() / 1440.0));
}

long PixelsToTwips(int pixels) {
    return std::lround(static_cast<double>(pixels) * 1440.0 / ScreenDpi());
}

}  // namespace window

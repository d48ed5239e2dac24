#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace zumilo::shell {

namespace {
double dpi()
{
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const double d = s->logicalDotsPerInchX();
        if (d > 0)
            return d;
    }
    return 96.0;
}
} // namespace

int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips * dpi() / 1440.0));
}

double pixelsToTwips(int pixels)
{
    return std::round(pixels * 1440.0 / dpi());
}

} // namespace zumilo::shell

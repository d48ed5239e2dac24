#include "splash.h"

#include <QApplication>
#include <QCursor>
#include <QFontInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>

namespace zumilo::app {

namespace {

// Where the splash shows: the screen under the pointer, as Qt places it.
QScreen* splashScreen()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

Splash::Splash() : Splash(splashScreen()) {}

Splash::Splash(QScreen* screen) : QSplashScreen(screen, picture(screen ? screen->devicePixelRatio() : 1.0))
{
    setObjectName(QStringLiteral("frmFirst"));
}

QPixmap Splash::picture(qreal ratio)
{
    // Drawn with every pixel the screen shows it with, not enlarged.
    const QSize size(545, 262);
    QPixmap pix(size * ratio);
    pix.setDevicePixelRatio(ratio);
    // At a ratio such as 1.5 the last pixel row and column lie half outside
    // the painted rectangle.
    pix.fill(QColor(0x2e, 0x86, 0x8c));
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient bg(0, 0, size.width(), size.height());
    bg.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
    bg.setColorAt(1, QColor(0x2e, 0x86, 0x8c));
    p.fillRect(QRect(QPoint(0, 0), size), bg);

    // A stack of note cards, the program's emblem.
    for (int i = 2; i >= 0; --i) {
        QPainterPath card;
        card.addRoundedRect(QRectF(40 + i * 10, 60 + i * 10, 120, 150), 10, 10);
        p.fillPath(card, QColor(255, 255, 255, 110 + i * 50));
    }
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    for (int l = 0; l < 5; ++l)
        p.drawLine(QPointF(72, 110 + l * 20), QPointF(160, 110 + l * 20));

    // Every line is the application's font, scaled: the main window needs
    // that font anyway, while each other size or weight would be a font
    // lookup of its own, several milliseconds of the start each. Scaled,
    // text grows in proportion, so one measurement fits it to its room.
    p.setPen(Qt::white);
    const QFont font = QApplication::font();
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const double basePoints = std::max(QFontInfo(font).pointSizeF(), 1.0);
    auto line = [&](const QRectF& room, const QString& text, double points, bool bold) {
        const double advance = metrics.horizontalAdvance(text);
        double scale = std::min(points / basePoints, room.height() / metrics.height());
        if (advance > 0)
            scale = std::min(scale, room.width() / advance);
        p.save();
        p.translate(room.left(), room.center().y() + (metrics.ascent() - metrics.descent()) * scale / 2);
        p.scale(scale, scale);
        p.drawText(QPointF(0, 0), text);
        // Bold as the letters drawn again a little to the right: a bold
        // face would be one more lookup.
        if (bold)
            p.drawText(QPointF(metrics.height() / 24, 0), text);
        p.restore();
    };
    line(QRectF(200, 55, 330, 70), QStringLiteral("Zumilo"), 40, true);
    line(QRectF(202, 130, 330, 40), QStringLiteral("日本語のメモを、分類して、すぐ探す"), 15, false);
    line(QRectF(202, 200, 330, 30), QStringLiteral("起動しています…"), 10, false);
    return pix;
}

} // namespace zumilo::app

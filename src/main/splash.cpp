#include "splash.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace zumilo::app {

Splash::Splash() : QSplashScreen(picture())
{
    setObjectName(QStringLiteral("frmFirst"));
}

QPixmap Splash::picture()
{
    QPixmap pix(545, 262);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient bg(0, 0, 545, 262);
    bg.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
    bg.setColorAt(1, QColor(0x2e, 0x86, 0x8c));
    p.fillRect(pix.rect(), bg);

    // A stack of note cards, the program's emblem.
    for (int i = 2; i >= 0; --i) {
        QPainterPath card;
        card.addRoundedRect(QRectF(40 + i * 10, 60 + i * 10, 120, 150), 10, 10);
        p.fillPath(card, QColor(255, 255, 255, 110 + i * 50));
    }
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    for (int l = 0; l < 5; ++l)
        p.drawLine(QPointF(72, 110 + l * 20), QPointF(160, 110 + l * 20));

    p.setPen(Qt::white);
    // Each line in the largest size up to `points` that fits its room,
    // whatever faces the machine has.
    auto line = [&p](const QRect& room, const QString& text, int points, bool bold) {
        QFont font = QApplication::font();
        font.setBold(bold);
        font.setPointSize(points);
        // Text grows about in proportion to its size: one measurement finds
        // where to start, so only hinting costs a step (each size is a font
        // lookup of its own, slow at start-up).
        const QFontMetricsF full(font);
        const double advance = full.horizontalAdvance(text);
        const double scale = advance > 0 ? std::min(room.width() / advance, room.height() / full.height()) : 1.0;
        const int start = std::clamp(int(points * scale) + 1, 7, points);
        for (font.setPointSize(start); font.pointSize() > 6; font.setPointSize(font.pointSize() - 1)) {
            const QFontMetrics metrics(font);
            if (metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height())
                break;
        }
        p.setFont(font);
        p.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    line(QRect(200, 55, 330, 70), QStringLiteral("Zumilo"), 40, true);
    line(QRect(202, 130, 330, 40), QStringLiteral("日本語のメモを、分類して、すぐ探す"), 15, false);
    line(QRect(202, 200, 330, 30), QStringLiteral("起動しています…"), 10, false);
    return pix;
}

} // namespace zumilo::app

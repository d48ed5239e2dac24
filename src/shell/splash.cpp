#include "splash.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zumilo::shell {

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
    QFont title = QApplication::font();
    title.setPointSize(40);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(200, 55, 330, 70), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zumilo"));

    QFont sub = QApplication::font();
    sub.setPointSize(15);
    p.setFont(sub);
    p.drawText(QRect(202, 130, 330, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("日本語のメモを、分類して、すぐ探す"));

    QFont small = QApplication::font();
    small.setPointSize(10);
    p.setFont(small);
    p.drawText(QRect(202, 200, 330, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("起動しています…"));
    return pix;
}

} // namespace zumilo::shell

#include "splitterhandle.h"

#include "twips.h"

#include <QMouseEvent>

namespace zumilo::shell {

SplitterHandle::SplitterHandle(Qt::Orientation movesAlong, const QString& name, QWidget* parent) : QWidget(parent)
{
    setObjectName(name);
    setCursor(movesAlong == Qt::Horizontal ? Qt::SplitHCursor : Qt::SplitVCursor);
    setAttribute(Qt::WA_NoSystemBackground);
}

void SplitterHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    emit pressed();
}

void SplitterHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_)
        return;
    const QPoint p = event->position().toPoint();
    emit moved(pixelsToTwips(p.x()), pixelsToTwips(p.y()));
}

void SplitterHandle::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragging_ || event->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    emit released();
}

SplitterBar::SplitterBar(const QString& name, QWidget* parent) : QFrame(parent)
{
    setObjectName(name);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    setPalette(p);
    hide();
}

} // namespace zumilo::shell

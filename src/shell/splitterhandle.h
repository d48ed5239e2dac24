#pragma once

#include <QFrame>
#include <QWidget>

namespace zumilo::shell {

// An invisible strip between two panes that the user drags; the window
// draws a bar while it moves and lays the panes out when it is released.
// Positions are reported in twips relative to the strip, as mouse
// positions on the strip.
class SplitterHandle : public QWidget {
    Q_OBJECT
public:
    SplitterHandle(Qt::Orientation movesAlong, const QString& name, QWidget* parent);

signals:
    void pressed();
    void moved(double xTwips, double yTwips);
    void released();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool dragging_ = false;
};

// The bar shown while a handle is dragged.
class SplitterBar : public QFrame {
    Q_OBJECT
public:
    SplitterBar(const QString& name, QWidget* parent);
};

} // namespace zumilo::shell

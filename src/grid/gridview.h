#pragma once

#include <QTableView>

namespace zumilo::grid {

// The grid DBGrid1: read-only cells, record selectors as row headers, one
// row height for all rows (the user may drag it), arrow keys that wrap from
// the end of a row to the next. Delete on a row selected by its record
// selector asks for the row's deletion; the right button asks for the
// pop-up menu.
class GridView : public QTableView {
    Q_OBJECT
public:
    explicit GridView(QWidget* parent = nullptr);

    int rowHeight() const;
    void setRowHeight(int pixels);

signals:
    void deleteRowRequested();
    void popupRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int draggedHeight_ = -1; // the height a row was dragged to, until release
    bool applyingHeight_ = false;
};

} // namespace zumilo::grid

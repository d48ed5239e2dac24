#include "gridview.h"

#include "shell/fonts.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace zumilo::grid {

GridView::GridView(QWidget* parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("DBGrid1"));
    setAccessibleName(QStringLiteral("データの一覧表"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSortingEnabled(false); // header clicks build statements instead

    const QFont font(shell::installedFamily(QStringLiteral("ＭＳ Ｐゴシック")), 9);
    setFont(font);
    QHeaderView* columns = horizontalHeader();
    columns->setFont(font);
    columns->setSectionsClickable(true);
    columns->setHighlightSections(false);
    // A click on a header sorts. Selecting the column would scroll a partly
    // hidden one into view under the pointer, and the click would be lost.
    disconnect(columns, &QHeaderView::sectionPressed, this, &QTableView::selectColumn);
    columns->setSortIndicatorShown(false);

    QHeaderView* rows = verticalHeader();
    rows->setFont(font);
    rows->setSectionResizeMode(QHeaderView::Interactive);
    rows->setMinimumSectionSize(4);
    rows->setMinimumWidth(16);
    rows->setDefaultAlignment(Qt::AlignCenter);
    // One height for all rows: the row the user drags gives it to the rest
    // when the button is released (resizing 100,000 rows on every mouse
    // move would drag).
    connect(rows, &QHeaderView::sectionResized, this, [this](int, int, int newSize) {
        if (!applyingHeight_)
            draggedHeight_ = newSize;
    });
    rows->viewport()->installEventFilter(this);
}

int GridView::rowHeight() const
{
    return verticalHeader()->defaultSectionSize();
}

void GridView::setRowHeight(int pixels)
{
    QHeaderView* rows = verticalHeader();
    applyingHeight_ = true;
    rows->setDefaultSectionSize(std::max(rows->minimumSectionSize(), pixels));
    applyingHeight_ = false;
}

bool GridView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == verticalHeader()->viewport() && event->type() == QEvent::MouseButtonRelease && draggedHeight_ > 0) {
        setRowHeight(draggedHeight_);
        draggedHeight_ = -1;
    }
    return QTableView::eventFilter(watched, event);
}

void GridView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier && selectionModel()) {
        const QModelIndex current = currentIndex();
        if (current.isValid() && selectionModel()->isRowSelected(current.row(), current.parent())) {
            emit deleteRowRequested();
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void GridView::mousePressEvent(QMouseEvent* event)
{
    // The right button opens the menu and leaves the current row alone.
    if (event->button() == Qt::RightButton) {
        emit popupRequested(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

QModelIndex GridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = currentIndex();
    if (model() && current.isValid()) {
        const int lastColumn = model()->columnCount() - 1;
        const int lastRow = model()->rowCount() - 1;
        if (cursorAction == MoveRight && current.column() == lastColumn && current.row() < lastRow)
            return model()->index(current.row() + 1, 0);
        if (cursorAction == MoveLeft && current.column() == 0 && current.row() > 0)
            return model()->index(current.row() - 1, lastColumn);
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

} // namespace zumilo::grid

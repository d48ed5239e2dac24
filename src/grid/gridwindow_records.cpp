// The grid window's rows at work: the commands on the record pane, the
// moves and the jump to the category tree.

#include "gridwindow.h"

#include "recordpane.h"

#include "store/error.h"
#include "store/recordset.h"

using zumilo::store::tryStep;

namespace zumilo::grid {

bool GridWindow::recordChanged() const
{
    return pane_->recordChanged();
}

void GridWindow::Data1_Reposition()
{
    pane_->reposition();
}

bool GridWindow::Data1_Validate(DataAction action)
{
    return pane_->validate(action);
}

// --- commands -------------------------------------------------------------------------

void GridWindow::mnuUpdate_Click()
{
    pane_->update();
}

void GridWindow::mnuDataDel_Click()
{
    pane_->deleteCurrent();
}

void GridWindow::mnuFileDataAdd_Click()
{
    pane_->add();
}

void GridWindow::mnuDouki_Click()
{
    if (!pane_->settleRow(DataAction::Bookmark))
        return;
    store::Recordset* rs = data_->recordset();
    if (!rs || data_->currentRow() < 0)
        return;
    QString bunID;
    qint64 id = 0;
    const store::StepResult read = tryStep([&] {
        const QVariant category = rs->value(QStringLiteral("bunID"));
        bunID = category.isNull() ? QStringLiteral("0") : QString::number(category.toLongLong());
        id = pane_->currentId();
    });
    if (!read) {
        pane_->tellUnread(*read.error());
        return;
    }
    const shell::JumpRequest request{bunID.toLongLong(), id};
    if (links_.showMainWindow)
        links_.showMainWindow(geometry());
    hide();
    if (links_.jump)
        links_.jump(request);
}

void GridWindow::mnuMoveFirst_Click()
{
    data_->moveFirst();
}

void GridWindow::mnuMoveMae_Click()
{
    data_->movePrevious();
}

void GridWindow::mnuMoveNext_Click()
{
    data_->moveNext();
}

void GridWindow::mnuMoveLast_Click()
{
    data_->moveLast();
}

} // namespace zumilo::grid

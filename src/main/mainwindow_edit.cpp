// Changing the category tree (add, rename, delete, move by drag and drop)
// and the commands on whole notes (move through the list, copy-save, delete).

#include "mainwindow.h"

#include "shell/prompts.h"
#include "shell/statuspanels.h"

#include "records/notesave.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "store/database.h"
#include "store/error.h"
#include "store/notes.h"
#include "store/recordset.h"
#include "tree/categorytree.h"

#include <QTreeWidgetItem>

using zumilo::store::StoreError;

namespace zumilo::app {

using namespace zumilo::shell;

namespace {

bool isUnder(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor)
{
    for (const QTreeWidgetItem* n = node; n; n = n->parent()) {
        if (n == ancestor)
            return true;
    }
    return false;
}

} // namespace

void MainWindow::reportStoreError(const QString& what, const QString& detail)
{
    st_.prompts().message(this, what + QStringLiteral("\n\n") + detail, Msg::Exclamation);
}

// --- categories ----------------------------------------------------------------

void MainWindow::mnuBunTuika_Click()
{
    if (!CurrentDatabase)
        return;
    const auto answer = st_.prompts().input(this, QStringLiteral("新しい分類名は？"), {}, QStringLiteral("新しい分類"));
    if (!answer || answer->isEmpty())
        return;
    QTreeWidgetItem* parent = tree_->node(tree::nodeKeyFor(st_.CurrentBunID));
    if (!parent)
        return;
    if (recordChanged() && !CheckToSave())
        return;

    qint64 number = 0;
    try {
        // Stored first: the tree shows only what the file holds.
        number = store::addCategory(*CurrentDatabase, *answer, st_.CurrentBunID.toLongLong());
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("分類を追加できませんでした。"), e.message());
        return;
    }
    QTreeWidgetItem* node = tree_->addNode(parent, tree::nodeKeyFor(QString::number(number)), *answer);
    parent->setExpanded(true);
    tree_->rootNode()->setExpanded(true);
    tree_->setCurrentItem(node);
    st_.CurrentBunID = QString::number(number);
    st_.CurrentBunName = node->text(0);
    RefreshRecordList();
}

void MainWindow::mnuBunRename_Click()
{
    tree_->beginRename(tree_->node(tree::nodeKeyFor(st_.CurrentBunID)));
}

void MainWindow::TreeView1_AfterLabelEdit(QTreeWidgetItem* node, const QString& oldText)
{
    const QString newText = node->text(0);
    const QString number = tree::numberOfKey(tree::CategoryTree::keyOf(node));
    if (!CurrentDatabase || number == QLatin1String("0") || newText.isEmpty()) {
        tree_->setNodeText(node, oldText);
        return;
    }
    try {
        store::renameCategory(*CurrentDatabase, number.toLongLong(), newText);
    } catch (const StoreError& e) {
        tree_->setNodeText(node, oldText);
        reportStoreError(QStringLiteral("分類名を変更できませんでした。"), e.message());
        return;
    }
    tree_->placeNode(node);
    editor_->categoryRenamed(number, newText);
    if (number == st_.CurrentBunID) {
        st_.CurrentBunName = newText;
        // The editor shows the category's name too; keep edits, refresh the rest.
        if (!recordChanged())
            RefreshRecordList();
    }
}

void MainWindow::mnuBunDel_Click()
{
    QTreeWidgetItem* node = tree_->currentItem();
    if (!CurrentDatabase || !node)
        return;
    if (node == tree_->rootNode()) {
        st_.prompts().message(this, QStringLiteral("ルート （一番上の親分類） は、削除できません"));
        return;
    }
    const qint64 number = tree::numberOfKey(tree::CategoryTree::keyOf(node)).toLongLong();
    const QString inUse = QStringLiteral(
        "子分類があるか、登録済み情報の中でこの分類を使用していますので、削除できません");
    try {
        if (store::categoryInUse(*CurrentDatabase, number)) {
            st_.prompts().message(this, inUse);
            return;
        }
        const int answer = st_.prompts().message(this,
                                                 QStringLiteral("「") + node->text(0)
                                                     + QStringLiteral("」 　本当にこの分類を削除していいですか？ "),
                                                 Msg::YesNo + Msg::Information + Msg::DefaultButton2,
                                                 QStringLiteral("削除確認"));
        if (answer != Msg::Yes)
            return;
        // Checked again with the delete: another window may have filed a note here meanwhile.
        if (!store::deleteCategory(*CurrentDatabase, number)) {
            st_.prompts().message(this, inUse);
            return;
        }
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("分類を削除できませんでした。"), e.message());
        return;
    }
    // The parent becomes the current category, and its notes are listed.
    QTreeWidgetItem* parent = node->parent() ? node->parent() : tree_->rootNode();
    tree_->removeNode(node);
    tree_->setCurrentItem(parent);
    st_.CurrentBunID = tree::numberOfKey(tree::CategoryTree::keyOf(parent));
    st_.CurrentBunName = parent == tree_->rootNode() ? QString() : parent->text(0);
    if (!recordChanged())
        RefreshRecordList();
}

void MainWindow::TreeView1_DropCategory(const QString& draggedKey, QTreeWidgetItem* target)
{
    QTreeWidgetItem* dragged = tree_->node(draggedKey);
    if (!target || !dragged || !CurrentDatabase)
        return;
    if (target->text(0) == dragged->text(0))
        return; // onto itself, or onto a node of the same name
    if (dragged == tree_->rootNode() || isUnder(target, dragged)) {
        st_.prompts().message(this, QStringLiteral("このフォルダをその下のフォルダの下に移動できません。"),
                              Msg::Exclamation);
        return;
    }
    const QString draggedNumber = tree::numberOfKey(draggedKey);
    const QString targetNumber = tree::numberOfKey(tree::CategoryTree::keyOf(target));
    try {
        store::moveCategory(*CurrentDatabase, draggedNumber.toLongLong(), targetNumber.toLongLong());
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("分類を移動できませんでした。"), e.message());
        return;
    }
    const bool wasCurrent = tree_->currentItem() == dragged;
    tree_->moveNode(dragged, target);
    target->setExpanded(true);
    if (wasCurrent)
        tree_->setCurrentItem(dragged);
}

void MainWindow::TreeView1_DropRecord(const QString& recordKey, QTreeWidgetItem* target)
{
    if (!target || !CurrentDatabase || recordKey.isEmpty())
        return;
    const QString id = tree::numberOfKey(recordKey);
    // The note being moved may hold unsaved edits: offer to save them first.
    if (recordChanged() && !CheckToSave())
        return;
    const QString targetNumber = tree::numberOfKey(tree::CategoryTree::keyOf(target));
    try {
        store::moveNote(*CurrentDatabase, id.toLongLong(), targetNumber.toLongLong(), target->text(0));
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("データを移動できませんでした。"), e.message());
        return;
    }
    RefreshRecordList();
}

// --- single-record windows ------------------------------------------------------------

void MainWindow::ListView1_DblClick()
{
    if (list_->count() == 0) {
        st_.prompts().message(this, QStringLiteral("現在、変更できるデータはありません）"));
        return;
    }
    const QString key = list_->selectedKey();
    if (key.isEmpty())
        return;
    currentIdeaId_ = tree::numberOfKey(key);
    watchSingleWindow(records::RecordWindow::open(st_, {currentIdeaId_.toLongLong()}));
}

void MainWindow::mnuDataAdd_Click()
{
    watchSingleWindow(records::RecordWindow::open(st_, {}));
}

// --- moving through the list ----------------------------------------------------------

void MainWindow::moveInList(const std::function<int(int, int)>& step, const QString& notice)
{
    const int count = list_->count();
    if (count == 0)
        return;
    if (recordChanged() && !CheckToSave())
        return;
    const int position = std::max(1, list_->selectedPosition());
    const int target = step(position, count);
    list_->selectPosition(target == 0 ? position : target);
    LvDataChange();
    if (target == 0)
        panels_->setText(1, statusCountText(ListPosition, count) + notice);
}

void MainWindow::mnuMoveFirst_Click()
{
    moveInList([](int, int) { return 1; }, {});
}

void MainWindow::mnuMoveLast_Click()
{
    moveInList([](int, int n) { return n; }, {});
}

void MainWindow::mnuMoveMae_Click()
{
    moveInList([](int p, int) { return p > 1 ? p - 1 : 0; }, QStringLiteral("    最初のデータです"));
}

void MainWindow::mnuMoveNext_Click()
{
    moveInList([](int p, int n) { return p < n ? p + 1 : 0; }, QStringLiteral("    最後のデータです"));
}

// --- copy-save and delete ------------------------------------------------------------

void MainWindow::mnuUpdateAs_Click()
{
    if (!CurrentDatabase || !ListRecordset || ListRecordset->recordCount() == 0) {
        // Nothing to copy from: the editor holds only the notice texts.
        st_.prompts().message(this, records::noRowToSaveMessage());
        return;
    }
    const records::SaveOutcome outcome = records::saveNote(*CurrentDatabase, editor_->snapshot(), st_.clock(),
                                                           records::SaveMode::Copy, 0);
    if (outcome.stored)
        showSaved(outcome);
    records::reportSave(st_.prompts(), this, *panels_, outcome);
}

void MainWindow::mnuListDel_Click()
{
    const QString key = list_->selectedKey();
    if (key.isEmpty() || !ListRecordset)
        return;
    currentIdeaId_ = tree::numberOfKey(key);
    const int answer = st_.prompts().message(this, QStringLiteral("本当にこのデータを削除していいですか？ "),
                                             Msg::YesNo + Msg::Information + Msg::DefaultButton2,
                                             QStringLiteral("削除確認"));
    if (answer != Msg::Yes)
        return;
    try {
        ListRecordset->moveFirst();
        if (!ListRecordset->findFirst(QStringLiteral("id= ") + currentIdeaId_))
            throw StoreError(store::ErrorKind::RowDeleted, currentIdeaId_);
        ListRecordset->deleteCurrent();
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("データを削除できませんでした。"), e.message());
        return;
    }
    const int position = list_->removeKey(key);
    editor_->setRecordChanged(false); // its edits went with it
    if (list_->count() == 0) {
        FieldsClear();
        return;
    }
    const int next = position > 1 ? position - 1 : 1;
    list_->selectPosition(next);
    ListPosition = next;
    showRecord(tree::numberOfKey(list_->keyAt(next)));
    setStatusCount();
}

} // namespace zumilo::app

#include "categoryedits.h"

#include "categorybrowser.h"
#include "mainpanes.h"
#include "openfilesession.h"

#include "shell/appstate.h"
#include "shell/prompts.h"

#include "records/recordeditor.h"
#include "store/database.h"
#include "store/error.h"
#include "store/notes.h"
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

CategoryEdits::CategoryEdits(AppState& state, QWidget& window, OpenFileSession& session, CategoryBrowser& browser,
                             MainPanes& panes)
    : st_(state), window_(window), session_(session), browser_(browser), tree_(panes.tree()), editor_(panes.editor())
{
    connect(tree_, &tree::CategoryTree::nodeRenamed, this, &CategoryEdits::TreeView1_AfterLabelEdit);
    connect(tree_, &tree::CategoryTree::categoryDropped, this, &CategoryEdits::TreeView1_DropCategory);
    connect(tree_, &tree::CategoryTree::recordDropped, this, &CategoryEdits::TreeView1_DropRecord);
}

void CategoryEdits::mnuBunTuika_Click()
{
    if (!session_.database())
        return;
    const auto answer = st_.prompts().input(&window_, QStringLiteral("新しい分類名は？"), {},
                                            QStringLiteral("新しい分類"));
    if (!answer || answer->isEmpty())
        return;
    QTreeWidgetItem* parent = tree_->node(tree::nodeKeyFor(st_.CurrentBunID));
    if (!parent)
        return;
    if (!browser_.mayLeaveNote())
        return;

    qint64 number = 0;
    try {
        // Stored first: the tree shows only what the file holds.
        number = store::addCategory(*session_.database(), *answer, st_.CurrentBunID.toLongLong());
    } catch (const StoreError& e) {
        browser_.reportStoreError(QStringLiteral("分類を追加できませんでした。"), e.message());
        return;
    }
    QTreeWidgetItem* node = tree_->addNode(parent, tree::nodeKeyFor(QString::number(number)), *answer);
    parent->setExpanded(true);
    tree_->rootNode()->setExpanded(true);
    tree_->setCurrentItem(node);
    st_.CurrentBunID = QString::number(number);
    st_.CurrentBunName = node->text(0);
    browser_.RefreshRecordList();
}

void CategoryEdits::mnuBunRename_Click()
{
    tree_->beginRename(tree_->node(tree::nodeKeyFor(st_.CurrentBunID)));
}

void CategoryEdits::TreeView1_AfterLabelEdit(QTreeWidgetItem* node, const QString& oldText)
{
    const QString newText = node->text(0);
    const QString number = tree::numberOfKey(tree::CategoryTree::keyOf(node));
    if (!session_.database() || number == QLatin1String("0") || newText.isEmpty()) {
        tree_->setNodeText(node, oldText);
        return;
    }
    try {
        store::renameCategory(*session_.database(), number.toLongLong(), newText);
    } catch (const StoreError& e) {
        tree_->setNodeText(node, oldText);
        browser_.reportStoreError(QStringLiteral("分類名を変更できませんでした。"), e.message());
        return;
    }
    tree_->placeNode(node);
    editor_->categoryRenamed(number, newText);
    if (number == st_.CurrentBunID) {
        st_.CurrentBunName = newText;
        // The editor shows the category's name too; keep edits, refresh the rest.
        if (!browser_.recordChanged())
            browser_.RefreshRecordList();
    }
}

void CategoryEdits::mnuBunDel_Click()
{
    QTreeWidgetItem* node = tree_->currentItem();
    if (!session_.database() || !node)
        return;
    if (node == tree_->rootNode()) {
        st_.prompts().message(&window_, QStringLiteral("ルート （一番上の親分類） は、削除できません"));
        return;
    }
    const qint64 number = tree::numberOfKey(tree::CategoryTree::keyOf(node)).toLongLong();
    const QString inUse = QStringLiteral(
        "子分類があるか、登録済み情報の中でこの分類を使用していますので、削除できません");
    try {
        if (store::categoryInUse(*session_.database(), number)) {
            st_.prompts().message(&window_, inUse);
            return;
        }
        const int answer = st_.prompts().message(&window_,
                                                 QStringLiteral("「") + node->text(0)
                                                     + QStringLiteral("」 　本当にこの分類を削除していいですか？ "),
                                                 Msg::YesNo + Msg::Information + Msg::DefaultButton2,
                                                 QStringLiteral("削除確認"));
        if (answer != Msg::Yes)
            return;
        // Checked again with the delete: another window may have filed a note here meanwhile.
        if (!store::deleteCategory(*session_.database(), number)) {
            st_.prompts().message(&window_, inUse);
            return;
        }
    } catch (const StoreError& e) {
        browser_.reportStoreError(QStringLiteral("分類を削除できませんでした。"), e.message());
        return;
    }
    // The parent becomes the current category, and its notes are listed.
    QTreeWidgetItem* parent = node->parent() ? node->parent() : tree_->rootNode();
    tree_->removeNode(node);
    tree_->setCurrentItem(parent);
    st_.CurrentBunID = tree::numberOfKey(tree::CategoryTree::keyOf(parent));
    st_.CurrentBunName = parent == tree_->rootNode() ? QString() : parent->text(0);
    if (!browser_.recordChanged())
        browser_.RefreshRecordList();
}

void CategoryEdits::TreeView1_DropCategory(const QString& draggedKey, QTreeWidgetItem* target)
{
    QTreeWidgetItem* dragged = tree_->node(draggedKey);
    if (!target || !dragged || !session_.database())
        return;
    if (target->text(0) == dragged->text(0))
        return; // onto itself, or onto a node of the same name
    if (dragged == tree_->rootNode() || isUnder(target, dragged)) {
        st_.prompts().message(&window_, QStringLiteral("このフォルダをその下のフォルダの下に移動できません。"),
                              Msg::Exclamation);
        return;
    }
    const QString draggedNumber = tree::numberOfKey(draggedKey);
    const QString targetNumber = tree::numberOfKey(tree::CategoryTree::keyOf(target));
    try {
        store::moveCategory(*session_.database(), draggedNumber.toLongLong(), targetNumber.toLongLong());
    } catch (const StoreError& e) {
        browser_.reportStoreError(QStringLiteral("分類を移動できませんでした。"), e.message());
        return;
    }
    const bool wasCurrent = tree_->currentItem() == dragged;
    tree_->moveNode(dragged, target);
    target->setExpanded(true);
    if (wasCurrent)
        tree_->setCurrentItem(dragged);
}

void CategoryEdits::TreeView1_DropRecord(const QString& recordKey, QTreeWidgetItem* target)
{
    if (!target || !session_.database() || recordKey.isEmpty())
        return;
    const QString id = tree::numberOfKey(recordKey);
    // The note being moved may hold unsaved edits: offer to save them first.
    if (!browser_.mayLeaveNote())
        return;
    const QString targetNumber = tree::numberOfKey(tree::CategoryTree::keyOf(target));
    try {
        store::moveNote(*session_.database(), id.toLongLong(), targetNumber.toLongLong(), target->text(0));
    } catch (const StoreError& e) {
        browser_.reportStoreError(QStringLiteral("データを移動できませんでした。"), e.message());
        return;
    }
    browser_.RefreshRecordList();
}

} // namespace zumilo::app

// The main window's tree, list and editor working together: choosing a
// category, listing its notes, showing, tracking and saving the chosen one.

#include "mainwindow.h"

#include "shell/prompts.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"

#include "grid/gridwindow.h"
#include "records/notesave.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"
#include "tree/categorysearch.h"
#include "tree/categorytree.h"

#include <QApplication>
#include <QTreeWidgetItem>
#include <utility>

using zumilo::store::StepResult;
using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::app {

namespace {

const QString kListUnread = QStringLiteral("一覧を読み込めませんでした。");
const QString kNoteUnread = QStringLiteral("データを読み込めませんでした。");

} // namespace

using namespace zumilo::shell;

bool MainWindow::recordChanged() const
{
    return editor_ && editor_->RecordChanged();
}

void MainWindow::setStatusCount()
{
    if (list_->count() > 0)
        panels_->setText(1, statusCountText(ListPosition, list_->count()));
}

// --- tree ----------------------------------------------------------------------

void MainWindow::LoadCategoryTree()
{
    tree_->clearTree();
    if (!CurrentDatabase)
        return;
    tree_->LoadCategoryTree(*CurrentDatabase, st_.DatabaseFileName);
}

void MainWindow::NodeClick(QTreeWidgetItem* node)
{
    const QString previousKey = tree::nodeKeyFor(st_.CurrentBunID);
    if (recordChanged() && !CheckToSave()) {
        // The note could not be saved: stay on it and on its category.
        if (QTreeWidgetItem* back = tree_->node(previousKey))
            tree_->setCurrentItem(back);
        return;
    }
    if (node) {
        st_.CurrentBunID = tree::numberOfKey(tree::CategoryTree::keyOf(node));
        st_.CurrentBunName = node == tree_->rootNode() ? QString() : node->text(0);
    }
    RefreshRecordList();
}

void MainWindow::mnuTreeRefresh_Click()
{
    tree_->setCurrentItem(tree_->rootNode());
    st_.CurrentBunID = QStringLiteral("0");
    st_.CurrentBunName.clear();
    RefreshRecordList();
}

void MainWindow::mnuTreeAllOpen_Click()
{
    tree_->expandAllNodes();
}

void MainWindow::mnuTreeAllClose_Click()
{
    tree_->collapseAllNodes();
    mnuTreeRefresh_Click();
}

bool MainWindow::Douki_Bun(const shell::JumpRequest& request)
{
    const QString key = tree::nodeKeyFor(QString::number(request.category));
    QTreeWidgetItem* node = tree_->node(key);
    if (!node)
        return false;
    if (recordChanged() && !CheckToSave())
        return false;
    tree_->setCurrentItem(node);
    tree_->scrollToItem(node);
    st_.CurrentBunID = tree::numberOfKey(key);
    st_.CurrentBunName = node == tree_->rootNode() ? QString() : node->text(0);
    RefreshRecordList();
    tree_->setFocus();
    return true;
}

bool MainWindow::Douki(const shell::JumpRequest& request)
{
    if (!Douki_Bun(request))
        return false;
    const QString note = request.note ? QString::number(*request.note) : QString();
    if (!note.isEmpty() && list_->selectKey(records::itemKeyFor(note))) {
        showRecord(note);
        ListPosition = list_->selectedPosition();
        setStatusCount();
    }
    return true;
}

void MainWindow::jumpTo(const shell::JumpRequest& request)
{
    pendingJump_ = request;
    Douki(request);
}

void MainWindow::mnuTreeBunFind_Click()
{
    const auto text = st_.prompts().input(this, QStringLiteral("検索する分類名は？"));
    if (!text || text->isEmpty())
        return;
    OpenCategorySearch(*text);
}

void MainWindow::OpenCategorySearch(const QString& text)
{
    if (!search_) {
        search_ = std::make_unique<tree::CategorySearchWindow>(st_, [this](const shell::JumpRequest& request) {
            if (!tree_->node(tree::nodeKeyFor(QString::number(request.category))))
                return false;
            // The jump may come while the grid stands in this window's place.
            if (grid_ && grid_->isVisible()) {
                setGeometry(grid_->geometry());
                grid_->hide();
            }
            show();
            raise();
            activateWindow();
            const auto previous = std::exchange(pendingJump_, request);
            if (Douki_Bun(request))
                return true;
            pendingJump_ = previous;
            return false;
        });
    }
    // Beside the window in view: the grid may have moved since it took this
    // window's place.
    search_->openSearch(text, grid_ && grid_->isVisible() ? grid_->frameGeometry() : frameGeometry());
}

// --- list ------------------------------------------------------------------------

void MainWindow::RefreshRecordList()
{
    ListNotes = records::categoryNotes(st_.CurrentBunID.toLongLong(), 0, 0);
    ListRecordset.reset();
    StepResult read;
    if (CurrentDatabase) {
        read = tryStep([&] { ListRecordset = CurrentDatabase->openView(ListNotes, store::RecordsetType::Dynaset); });
    }
    if (read)
        read = FillRecordList();
    else
        list_->listModel()->setSource(nullptr);
    // The first note of the list is the one shown, and it is selected.
    showFirstRecord();
    if (!read)
        panels_->setText(1, kListUnread); // not an empty category
    else if (list_->count() == 0)
        panels_->setText(1, QStringLiteral("0  つのｱｲﾃﾞｱ")); // the count stays in view
    tellReadFailure(read, kListUnread);
}

StepResult MainWindow::FillRecordList()
{
    int count = 0;
    StepResult read;
    if (ListRecordset)
        read = tryStep([&] { count = list_->FillRecordList(ListRecordset); });
    if (!ListRecordset || !read)
        list_->listModel()->setSource(nullptr);
    // Not an empty category: the notes could not be read.
    panels_->setText(1, read ? QString::number(count) + QStringLiteral("  つのｱｲﾃﾞｱ") : kListUnread);
    return read;
}

void MainWindow::tellReadFailure(const StepResult& read, const QString& what)
{
    if (!read)
        shell::showFailure(st_.prompts(), this, what, st_.DatabasePath, *read.error());
}

QList<qint64> MainWindow::shownNotes() const
{
    QList<qint64> ids;
    for (int i = 0; i < list_->count(); ++i)
        ids << list_->listModel()->idAt(i);
    return ids;
}

void MainWindow::findInAllNotes(const QString& term, bool inBodies)
{
    st_.CurrentTab = QStringLiteral("FindTab");
    ShowGridWindow();
    grid_->findInAllNotes(term, inBodies);
    OpenCategorySearch(term);
}

void MainWindow::ColumnClick(int column)
{
    list_->ColumnClick(column);
}

void MainWindow::TabStrip1_Click(int index)
{
    const QString key = TabStrip::keys().value(index);
    if (key.isEmpty() || key == QLatin1String("BunTab"))
        return;
    st_.CurrentTab = key;
    ShowGridWindow();
}

void MainWindow::ShowGridWindow()
{
    if (!grid_) {
        grid::GridLinks links;
        links.showMainWindow = [this](const QRect& place) {
            tabStrip_->selectKey(QStringLiteral("BunTab"));
            setGeometry(place);
            show();
            raise();
            activateWindow();
        };
        links.jump = [this](const shell::JumpRequest& request) { jumpTo(request); };
        links.endProgram = [this] { close(); };
        grid_ = std::make_unique<grid::GridWindow>(st_, std::move(links));
    }
    // The grid takes over: a jump not yet completed here is given up.
    pendingJump_.reset();
    grid_->showInPlaceOf(geometry());
    hide();
}

// --- editor -------------------------------------------------------------------------

bool MainWindow::findRecord(const QString& id)
{
    bool isNumber = false;
    const qint64 number = id.toLongLong(&isNumber);
    if (!ListRecordset || !isNumber)
        return false;
    bool found = false;
    const StepResult read = tryStep([&] {
        ListRecordset->moveFirst();
        found = ListRecordset->findFirst(QStringLiteral("id= ") + QString::number(number));
    });
    if (!read) {
        // The editor shows no note rather than the one left.
        FieldsClear();
        tellReadFailure(read, kNoteUnread);
    }
    return found;
}

bool MainWindow::showRecord(const QString& id)
{
    if (!findRecord(id))
        return false;
    UpdateFields();
    return true;
}

void MainWindow::showFirstRecord()
{
    ListPosition = 1;
    if (list_->count() == 0) {
        FieldsClear();
        return;
    }
    list_->selectPosition(1);
    showRecord(tree::numberOfKey(list_->keyAt(1)));
}

void MainWindow::UpdateFields()
{
    if (!ListRecordset)
        return;
    const StepResult read = tryStep([&] { editor_->UpdateFields(*ListRecordset); });
    if (!read) {
        FieldsClear();
        tellReadFailure(read, kNoteUnread);
    }
}

void MainWindow::FieldsClear()
{
    editor_->FieldsClear();
}

void MainWindow::LvDataChange()
{
    const QString key = list_->selectedKey();
    if (recordChanged()) {
        if (!CheckToSave()) {
            // Stay on the note that could not be saved.
            list_->selectKey(records::itemKeyFor(editor_->stamps().id));
            return;
        }
        list_->selectKey(key); // the save refilled the list
    }
    if (key.isEmpty())
        return;
    currentIdeaId_ = tree::numberOfKey(key);
    showRecord(currentIdeaId_);
    ListPosition = list_->selectedPosition();
    setStatusCount();
}

bool MainWindow::UpdateRecordSet()
{
    bool current = false;
    qint64 id = 0;
    const StepResult read = tryStep([&] {
        current = CurrentDatabase && ListRecordset && ListRecordset->hasCurrent();
        if (current)
            id = ListRecordset->value(QStringLiteral("ID")).toLongLong();
    });
    if (!read) {
        records::SaveOutcome unread;
        unread.error = store::failureCause(*read.error(), st_.DatabasePath);
        unread.errorKind = read.error()->kind();
        return records::reportSave(st_.prompts(), this, *panels_, unread);
    }
    if (!current) {
        st_.prompts().message(this, records::noRowToSaveMessage());
        return false;
    }
    const records::SaveOutcome outcome = records::saveNote(*CurrentDatabase, editor_->snapshot(), st_.clock(),
                                                           records::SaveMode::Update, id);
    if (outcome.stored) {
        SavedRecordID = outcome.id;
        showSaved(outcome);
    }
    return records::reportSave(st_.prompts(), this, *panels_, outcome);
}

void MainWindow::showSaved(const records::SaveOutcome& outcome)
{
    // The list shows what is stored now, with the saved note chosen.
    StepResult read = tryStep([&] { ListRecordset->requery(); });
    if (read)
        read = FillRecordList();
    if (!read) {
        // Stored: the editor keeps what it shows, the list shows no rows
        // of before, and no later save lands on a row not read.
        list_->listModel()->setSource(nullptr);
        ListRecordset.reset();
        tellReadFailure(read, QStringLiteral("保存しましたが、") + kListUnread);
        return;
    }
    const QString id = QString::number(outcome.id);
    currentIdeaId_ = id;
    if (!list_->selectKey(records::itemKeyFor(id))) {
        // Filed under another category: it leaves this list, unless what
        // the user typed would go with it.
        if (outcome.failures.isEmpty())
            showFirstRecord();
        return;
    }
    ListPosition = std::max(1, list_->selectedPosition());
    if (!findRecord(id))
        return;
    const StepResult shown = tryStep([&] { editor_->UpdateFields(*ListRecordset, outcome.failures); });
    if (!shown) {
        FieldsClear();
        tellReadFailure(shown, kNoteUnread);
    }
}

bool MainWindow::CheckToSave()
{
    return !records::askToSave(st_.prompts(), this) || UpdateRecordSet();
}

void MainWindow::mnuUpdate_Click()
{
    if (!ListRecordset || ListRecordset->recordCount() == 0) {
        st_.prompts().message(this, records::noRowToSaveMessage());
        FieldsClear();
        return;
    }
    UpdateRecordSet();
}

} // namespace zumilo::app

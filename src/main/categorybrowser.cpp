#include "categorybrowser.h"

#include "mainpanes.h"
#include "openfilesession.h"

#include "shell/appstate.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"

#include "records/notesave.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"
#include "tree/categorytree.h"

#include <QTreeWidgetItem>
#include <utility>

using zumilo::store::StepResult;
using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::app {

namespace {

const QString kListUnread = QStringLiteral("一覧を読み込めませんでした。");

} // namespace

using namespace zumilo::shell;

CategoryBrowser::CategoryBrowser(AppState& state, QWidget& window, OpenFileSession& session, MainPanes& panes,
                                 StatusPanels& panels)
    : st_(state), window_(window), session_(session), panels_(panels), tree_(panes.tree()), list_(panes.list()),
      editor_(panes.editor())
{
    connect(tree_, &tree::CategoryTree::nodePressed, this, &CategoryBrowser::NodeClick);
    connect(list_, &records::RecordList::itemChosen, this, &CategoryBrowser::LvDataChange);
    connect(list_, &records::RecordList::deletePressed, this, &CategoryBrowser::mnuListDel_Click);
    connect(list_, &records::RecordList::sortChanged, this, [this](int column, int order) {
        st_.LastSortColumn = column;
        st_.LastSortOrder = order;
    });
}

CategoryBrowser::~CategoryBrowser() = default;

bool CategoryBrowser::recordChanged() const
{
    return editor_ && editor_->RecordChanged();
}

void CategoryBrowser::setStatusCount()
{
    if (list_->count() > 0)
        panels_.setText(1, statusCountText(ListPosition, list_->count()));
}

// --- tree ----------------------------------------------------------------------

void CategoryBrowser::LoadCategoryTree()
{
    tree_->clearTree();
    if (!session_.database())
        return;
    tree_->LoadCategoryTree(*session_.database(), st_.DatabaseFileName);
}

void CategoryBrowser::NodeClick(QTreeWidgetItem* node)
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

void CategoryBrowser::mnuTreeRefresh_Click()
{
    tree_->setCurrentItem(tree_->rootNode());
    st_.CurrentBunID = QStringLiteral("0");
    st_.CurrentBunName.clear();
    RefreshRecordList();
}

void CategoryBrowser::mnuTreeAllOpen_Click()
{
    tree_->expandAllNodes();
}

void CategoryBrowser::mnuTreeAllClose_Click()
{
    tree_->collapseAllNodes();
    mnuTreeRefresh_Click();
}

bool CategoryBrowser::Douki_Bun(const shell::JumpRequest& request)
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

bool CategoryBrowser::Douki(const shell::JumpRequest& request)
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

void CategoryBrowser::jumpTo(const shell::JumpRequest& request)
{
    pendingJump_ = request;
    Douki(request);
}

bool CategoryBrowser::jumpToCategory(const shell::JumpRequest& request)
{
    const auto previous = std::exchange(pendingJump_, request);
    if (Douki_Bun(request))
        return true;
    pendingJump_ = previous;
    return false;
}

// --- the open file -----------------------------------------------------------------

void CategoryBrowser::showCategories()
{
    const StepResult read = tryStep([&] {
        CategoryRecordset = session_.database()->openRecordset(QStringLiteral("T_bunrui"),
                                                               store::RecordsetType::Dynaset);
        LoadCategoryTree();
    });
    FieldsClear();
    tellReadFailure(read, QStringLiteral("分類を読み込めませんでした。"));
    tree_->setCurrentItem(tree_->rootNode());
    st_.CurrentBunID = QStringLiteral("0");
    st_.CurrentBunName.clear();
}

void CategoryBrowser::dropReaders()
{
    CategoryRecordset.reset();
    list_->listModel()->setSource(nullptr);
    ListRecordset.reset();
}

// --- list ------------------------------------------------------------------------

void CategoryBrowser::RefreshRecordList()
{
    ListNotes = records::categoryNotes(st_.CurrentBunID.toLongLong(), 0, 0);
    ListRecordset.reset();
    StepResult read;
    if (session_.database()) {
        read = tryStep(
            [&] { ListRecordset = session_.database()->openView(ListNotes, store::RecordsetType::Dynaset); });
    }
    if (read)
        read = FillRecordList();
    else
        list_->listModel()->setSource(nullptr);
    // The first note of the list is the one shown, and it is selected.
    showFirstRecord();
    if (!read)
        panels_.setText(1, kListUnread); // not an empty category
    else if (list_->count() == 0)
        panels_.setText(1, QStringLiteral("0  つのｱｲﾃﾞｱ")); // the count stays in view
    tellReadFailure(read, kListUnread);
}

StepResult CategoryBrowser::FillRecordList()
{
    int count = 0;
    StepResult read;
    if (ListRecordset)
        read = tryStep([&] { count = list_->FillRecordList(ListRecordset); });
    if (!ListRecordset || !read)
        list_->listModel()->setSource(nullptr);
    // Not an empty category: the notes could not be read.
    panels_.setText(1, read ? QString::number(count) + QStringLiteral("  つのｱｲﾃﾞｱ") : kListUnread);
    return read;
}

void CategoryBrowser::tellReadFailure(const StepResult& read, const QString& what)
{
    if (!read)
        shell::showFailure(st_.prompts(), &window_, what, st_.DatabasePath, *read.error());
}

QList<qint64> CategoryBrowser::shownNotes() const
{
    QList<qint64> ids;
    for (int i = 0; i < list_->count(); ++i)
        ids << list_->listModel()->idAt(i);
    return ids;
}

void CategoryBrowser::reportStoreError(const QString& what, const QString& detail)
{
    st_.prompts().message(&window_, what + QStringLiteral("\n\n") + detail, Msg::Exclamation);
}

// --- moving through the list, copy-save and delete -----------------------------------

void CategoryBrowser::moveInList(const std::function<int(int, int)>& step, const QString& notice)
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
        panels_.setText(1, statusCountText(ListPosition, count) + notice);
}

void CategoryBrowser::mnuMoveFirst_Click()
{
    moveInList([](int, int) { return 1; }, {});
}

void CategoryBrowser::mnuMoveLast_Click()
{
    moveInList([](int, int n) { return n; }, {});
}

void CategoryBrowser::mnuMoveMae_Click()
{
    moveInList([](int p, int) { return p > 1 ? p - 1 : 0; }, QStringLiteral("    最初のデータです"));
}

void CategoryBrowser::mnuMoveNext_Click()
{
    moveInList([](int p, int n) { return p < n ? p + 1 : 0; }, QStringLiteral("    最後のデータです"));
}

void CategoryBrowser::mnuUpdateAs_Click()
{
    if (!session_.database() || !ListRecordset || ListRecordset->recordCount() == 0) {
        // Nothing to copy from: the editor holds only the notice texts.
        st_.prompts().message(&window_, records::noRowToSaveMessage());
        return;
    }
    const records::SaveOutcome outcome = records::saveNote(*session_.database(), editor_->snapshot(), st_.clock(),
                                                           records::SaveMode::Copy, 0);
    if (outcome.stored)
        showSaved(outcome);
    records::reportSave(st_.prompts(), &window_, panels_, outcome);
}

void CategoryBrowser::mnuListDel_Click()
{
    const QString key = list_->selectedKey();
    if (key.isEmpty() || !ListRecordset)
        return;
    currentIdeaId_ = tree::numberOfKey(key);
    const int answer = st_.prompts().message(&window_, QStringLiteral("本当にこのデータを削除していいですか？ "),
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

// --- editor -------------------------------------------------------------------------

bool CategoryBrowser::findRecord(const QString& id)
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

bool CategoryBrowser::showRecord(const QString& id)
{
    if (!findRecord(id))
        return false;
    UpdateFields();
    return true;
}

void CategoryBrowser::showFirstRecord()
{
    ListPosition = 1;
    if (list_->count() == 0) {
        FieldsClear();
        return;
    }
    list_->selectPosition(1);
    showRecord(tree::numberOfKey(list_->keyAt(1)));
}

void CategoryBrowser::UpdateFields()
{
    if (!ListRecordset)
        return;
    const StepResult read = tryStep([&] { editor_->UpdateFields(*ListRecordset); });
    if (!read) {
        FieldsClear();
        tellReadFailure(read, kNoteUnread);
    }
}

void CategoryBrowser::FieldsClear()
{
    editor_->FieldsClear();
}

void CategoryBrowser::LvDataChange()
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

bool CategoryBrowser::UpdateRecordSet()
{
    bool current = false;
    qint64 id = 0;
    const StepResult read = tryStep([&] {
        current = session_.database() && ListRecordset && ListRecordset->hasCurrent();
        if (current)
            id = ListRecordset->value(QStringLiteral("ID")).toLongLong();
    });
    if (!read) {
        records::SaveOutcome unread;
        unread.error = store::failureCause(*read.error(), st_.DatabasePath);
        unread.errorKind = read.error()->kind();
        return records::reportSave(st_.prompts(), &window_, panels_, unread);
    }
    if (!current) {
        st_.prompts().message(&window_, records::noRowToSaveMessage());
        return false;
    }
    const records::SaveOutcome outcome = records::saveNote(*session_.database(), editor_->snapshot(), st_.clock(),
                                                           records::SaveMode::Update, id);
    if (outcome.stored) {
        SavedRecordID = outcome.id;
        showSaved(outcome);
    }
    return records::reportSave(st_.prompts(), &window_, panels_, outcome);
}

void CategoryBrowser::showSaved(const records::SaveOutcome& outcome)
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

bool CategoryBrowser::CheckToSave()
{
    return !records::askToSave(st_.prompts(), &window_) || UpdateRecordSet();
}

void CategoryBrowser::mnuUpdate_Click()
{
    if (!ListRecordset || ListRecordset->recordCount() == 0) {
        st_.prompts().message(&window_, records::noRowToSaveMessage());
        FieldsClear();
        return;
    }
    UpdateRecordSet();
}

// --- coming back from another window -------------------------------------------------

bool CategoryBrowser::rebuild(const QString& returned)
{
    RefreshRecordList();

    auto completeJump = [&](const QString& key) {
        list_->selectKey(key);
        showRecord(tree::numberOfKey(key));
        ListPosition = list_->selectedPosition();
        return list_->count() > 0;
    };
    const bool jumped = pendingJump_.has_value();
    if (pendingJump_) {
        const std::optional<qint64> note = pendingJump_->note;
        if (!completeJump(note ? records::itemKeyFor(QString::number(*note)) : QString()))
            return false;
        setStatusCount();
        pendingJump_.reset();
    }
    if (singleWindowReturned_) {
        currentIdeaId_ = returned;
        if (!completeJump(records::itemKeyFor(returned)))
            return false;
        setStatusCount();
        singleWindowReturned_ = false;
    } else if (!jumped && !returned.isEmpty() && list_->selectKey(records::itemKeyFor(returned))) {
        // Back from another of our windows, the user is still on the note
        // they left; the rebuild must not move what they type next to the
        // list's first note.
        currentIdeaId_ = returned;
        completeJump(records::itemKeyFor(returned));
        setStatusCount();
    }
    return true;
}

void CategoryBrowser::singleWindowReturned(const std::optional<qint64>& note)
{
    currentIdeaId_ = note ? QString::number(*note) : QString();
    singleWindowReturned_ = true;
}

} // namespace zumilo::app

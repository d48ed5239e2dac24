#include "recordpane.h"

#include "gridview.h"

#include "records/notesave.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/prompts.h"
#include "shell/recordsetmodel.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QItemSelectionModel>
#include <QPlainTextEdit>

using zumilo::shell::Msg::Exclamation;
using zumilo::shell::Msg::Ok;
using zumilo::shell::Msg::OkCancel;
using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::grid {

namespace {

const QString kChangeQuestion = QStringLiteral("内容が変更されました。更新しますか？");
const QString kDeleteQuestion = QStringLiteral("現在のレコードを削除します。よろしいですか？");
const QString kDateFormat = QStringLiteral("yyyy/MM/dd");

} // namespace

RecordPane::RecordPane(records::RecordEditor& editor, DataControl& data, GridView& grid, shell::StatusPanels& panels,
                       shell::AppState& state, QWidget* window, std::function<store::Database*()> gridDatabase)
    : editor_(editor), data_(data), grid_(grid), panels_(panels), st_(state), window_(window),
      gridDatabase_(std::move(gridDatabase))
{
}

bool RecordPane::recordChanged() const
{
    return data_.isAdding() || editor_.RecordChanged();
}

qint64 RecordPane::noteId() const
{
    return data_.isAdding() ? 0 : paneId_;
}

void RecordPane::reportStoreError(const QString& what, const QString& detail)
{
    st_.prompts().message(window_, what + QStringLiteral("\n\n") + detail, Exclamation);
}

void RecordPane::tellUnread(const StoreError& e)
{
    shell::showFailure(st_.prompts(), window_, shell::kNoteUnread, st_.DatabasePath, e);
}

// --- the current row -------------------------------------------------------------

qint64 RecordPane::currentId() const
{
    store::Recordset* rs = data_.recordset();
    if (rs->fieldIndex(QStringLiteral("id")) >= 0)
        return rs->value(QStringLiteral("id")).toLongLong();
    return rs->bookmark(); // the table's rowid is its id
}

void RecordPane::reposition()
{
    loadPane();
    syncGridToData();
}

void RecordPane::loadPane()
{
    if (data_.isAdding())
        return;
    paneId_ = 0;
    if (data_.currentRow() < 0 || !data_.database()) {
        editor_.FieldsClear();
        return;
    }
    qint64 id = 0;
    bool current = false;
    const store::StepResult read = tryStep([&] {
        id = currentId();
        // The whole row: the views leave out fields the pane shows (the due
        // time), so the pane reads and writes the row itself.
        auto row = data_.database()->openView(store::oneNote(id), store::RecordsetType::Dynaset);
        current = row->hasCurrent();
        // What a save refused stays as typed.
        if (current)
            editor_.UpdateFields(*row, std::exchange(keepTyped_, {}));
    });
    paneId_ = read ? id : 0; // nothing is saved over a note not read
    if (!current) {
        editor_.FieldsClear(); // deleted meanwhile by another window, or not readable
        records::NoteStamps stamps;
        stamps.id = id ? QString::number(id) : QString();
        editor_.setStamps(stamps);
    }
    if (!read)
        tellUnread(*read.error());
}

void RecordPane::syncGridToData()
{
    QItemSelectionModel* selection = grid_.selectionModel();
    if (!selection)
        return;
    const int row = data_.currentRow();
    const auto following = gridFollows();
    if (row < 0) {
        selection->clearSelection();
        selection->clearCurrentIndex();
    } else if (grid_.currentIndex().row() != row) {
        const QModelIndex at = data_.model()->index(row, std::max(0, grid_.currentIndex().column()));
        selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
        grid_.scrollTo(at);
    }
}

void RecordPane::onGridRowChanged(int row)
{
    if (syncing_ || row < 0)
        return;
    if (!data_.moveTo(row))
        syncGridToData(); // the row could not be left: the grid goes back to it
}

// --- validation --------------------------------------------------------------------

bool RecordPane::validate(DataAction action)
{
    if (action == DataAction::Delete)
        return st_.prompts().message(window_, kDeleteQuestion, OkCancel + Exclamation) == Ok;
    if (!recordChanged())
        return true;
    if (st_.prompts().message(window_, kChangeQuestion, OkCancel + Exclamation) == Ok)
        return writePane();
    dropEdits();
    return true;
}

bool RecordPane::settleRow(DataAction action)
{
    const bool adding = data_.isAdding();
    savedNewRow_ = false;
    if (!validate(action))
        return false;
    if (adding && savedNewRow_)
        data_.setCurrentRow(data_.recordCount() - 1);
    else if (adding)
        data_.setCurrentRow(data_.currentRow());
    return true;
}

void RecordPane::dropEdits()
{
    editor_.setRecordChanged(false);
    if (data_.isAdding())
        data_.endAdd(false);
    loadPane();
}

bool RecordPane::writePane()
{
    store::Database* db = data_.database();
    if (!db) {
        records::SaveOutcome failed;
        failed.error = store::japaneseMessage(store::ErrorKind::NoCurrentRecord);
        return records::reportSave(st_.prompts(), window_, panels_, failed);
    }
    const bool adding = data_.isAdding();
    // The stamps the save leaves to the window: a note never updated
    // before is created today, and a note without a category is filed at
    // the root.
    records::NoteStamps stamps = editor_.stamps();
    if (stamps.updatedDate.isEmpty()) {
        stamps.created = st_.clock().today().toString(kDateFormat);
        editor_.setStamps(stamps);
    }
    if (editor_.text(3).isEmpty())
        editor_.setText(7, QStringLiteral("0"));

    const records::SaveOutcome outcome = records::saveNote(*db, editor_.snapshot(), st_.clock(),
                                                           adding ? records::SaveMode::New : records::SaveMode::Update,
                                                           adding ? newId_ : paneId_);
    if (outcome.stored) {
        paneId_ = outcome.id;
        stamps = editor_.stamps();
        stamps.id = QString::number(outcome.id);
        editor_.setStamps(stamps);
        // Refused fields keep what was typed, and the user stays on the row.
        keepTyped_ = outcome.failures;
        if (adding) {
            // Shown at the end of the grid's rows, as a row added there is.
            store::Recordset* view = data_.recordset();
            const bool appended = view && view->isUpdatable() && tryStep([&] { view->include(outcome.id); });
            data_.endAdd(appended);
            savedNewRow_ = appended;
            if (appended && !outcome.complete())
                data_.setCurrentRow(data_.recordCount() - 1);
        } else {
            data_.rowWritten();
            if (!outcome.complete())
                loadPane();
        }
        if (outcome.complete())
            editor_.setRecordChanged(false);
    }
    return records::reportSave(st_.prompts(), window_, panels_, outcome);
}

// --- commands -------------------------------------------------------------------------

void RecordPane::update()
{
    if (!recordChanged())
        return;
    const bool adding = data_.isAdding();
    if (!settleRow(DataAction::Update))
        return;
    // The user stays on the row just saved, shown as stored.
    if (!adding)
        data_.setCurrentRow(data_.currentRow());
}

void RecordPane::deleteCurrent()
{
    // Removing the row moves the grid's cursor; that is no choice of the user's.
    const auto following = gridFollows();
    try {
        data_.deleteCurrent();
    } catch (const StoreError& e) {
        reportStoreError(QStringLiteral("データを削除できませんでした。"), e.message());
    }
}

void RecordPane::add()
{
    if (!data_.database() || !data_.beginAdd())
        return;
    qint64 id = 1;
    try {
        store::Database* gridDb = gridDatabase_();
        store::Database* db = gridDb ? gridDb : data_.database();
        const QVariant max = db->scalar(QStringLiteral("Select max(ID) as MaxID from T_idea"));
        id = max.isNull() ? 1 : max.toLongLong() + 1;
    } catch (const StoreError& e) {
        data_.endAdd(false);
        data_.setCurrentRow(data_.currentRow());
        reportStoreError(QStringLiteral("新しいデータを追加できませんでした。"), e.message());
        return;
    }
    newId_ = id;
    editor_.FieldsClear();
    syncGridToData();
    const QString today = st_.clock().today().toString(kDateFormat);
    editor_.setStamps({QString::number(id), QStringLiteral("0"), today, st_.clock().timeStamp(), today});
    if (editor_.text(3).isEmpty())
        editor_.setText(7, QStringLiteral("0"));
    editor_.setRecordChanged(true);
    editor_.titleBox()->setFocus();
}

} // namespace zumilo::grid

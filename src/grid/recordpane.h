#pragma once

#include "datacontrol.h"

#include "records/editednote.h"

#include <QList>
#include <QScopedValueRollback>
#include <QString>
#include <functional>

class QWidget;

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
class StoreError;
} // namespace zumilo::store

namespace zumilo::records {
class RecordEditor;
}

namespace zumilo::grid {

class GridView;

// The grid window's record pane at work: the editor below the grid follows
// the data control's current row, and the grid follows it back; the
// questions before a row is left or deleted; saving, deleting and adding a
// row.
class RecordPane {
public:
    // `gridDatabase` is the window's own handle (GridDatabase), null while
    // the file is not open.
    RecordPane(records::RecordEditor& editor, DataControl& data, GridView& grid, shell::StatusPanels& panels,
               shell::AppState& state, QWidget* window, std::function<store::Database*()> gridDatabase);

    // The pane holds edits not yet written, or a new row.
    bool recordChanged() const;
    // The note the pane edits, 0 for a new one.
    qint64 noteId() const;
    // The ID of the data control's current row.
    qint64 currentId() const;

    // Data1_Reposition: the pane shows the current row, the grid selects it.
    void reposition();
    void syncGridToData();
    void onGridRowChanged(int row);
    // While held, the grid follows the data control, not the user.
    [[nodiscard]] QScopedValueRollback<bool> gridFollows() { return QScopedValueRollback<bool>(syncing_, true); }

    // Asked before the current row is left or deleted: confirms, stamps and
    // writes a changed row, or drops its edits; asks before a delete. False
    // when the row must stay current (refused delete, failed write).
    bool validate(DataAction action);
    // Validates the row about to be left; a new row just written becomes
    // current. False when the row must stay.
    bool settleRow(DataAction action);

    void update();
    void deleteCurrent();
    void add();

    // Rows or a note that could not be read, told once.
    void tellUnread(const store::StoreError& e);

private:
    void loadPane();
    bool writePane();
    void dropEdits();
    void reportStoreError(const QString& what, const QString& detail);

    records::RecordEditor& editor_;
    DataControl& data_;
    GridView& grid_;
    shell::StatusPanels& panels_;
    shell::AppState& st_;
    QWidget* window_;
    std::function<store::Database*()> gridDatabase_;

    qint64 paneId_ = 0;                      // ID of the row in the record pane
    qint64 newId_ = 0;                       // ID given to the row being added
    bool savedNewRow_ = false;               // the last write added a row to the grid's end
    QList<records::FieldFailure> keepTyped_; // refused by the last save, shown as typed
    bool syncing_ = false;                   // the grid follows the data control, not the user
};

} // namespace zumilo::grid

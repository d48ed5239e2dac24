#pragma once

#include "store/views.h"

#include <QFrame>
#include <QString>
#include <functional>
#include <memory>

class QLabel;
class QToolButton;

namespace zumilo::store {
class Database;
class Recordset;
} // namespace zumilo::store

namespace zumilo::shell {
class RecordsetModel;
}

namespace zumilo::grid {

// What is about to happen to the current row, as the data control's
// validation is told (the numbering is that of the file format's tools).
enum class DataAction {
    MoveFirst = 1,
    MovePrevious = 2,
    MoveNext = 3,
    MoveLast = 4,
    AddNew = 5,
    Update = 6,
    Delete = 7,
    Bookmark = 9, // another row chosen in the grid
    Close = 10,   // the rows are read afresh (refresh)
    Unload = 11,  // the window closes
};

// The data control (Data1): a record source (a SELECT over T_idea) read
// through a connection into an updatable recordset, the current row of it,
// and a small bar with the first/previous/next/last buttons and the caption
// "n / m". The grid shows its rows through model().
//
// Every step away from the current row asks the validator first; when it
// answers false the row stays current and nothing else happens. After a
// row became current, repositioned() is emitted.
class DataControl : public QFrame {
    Q_OBJECT
public:
    explicit DataControl(QWidget* parent = nullptr);
    ~DataControl() override;

    // The connection the rows are read through, and the file name it was
    // opened on (compared with DatabasePath by the window).
    void setConnection(std::shared_ptr<store::Database> db, const QString& databaseName);
    void closeConnection();
    const QString& databaseName() const { return databaseName_; }
    store::Database* database() const { return db_.get(); }

    void setView(const store::NoteView& view) { view_ = view; }
    const store::NoteView& view() const { return view_; }

    // Reads the record source afresh; its first row becomes current. False
    // when the validator refused. Throws store::StoreError when the
    // statement fails; the rows shown before then stay.
    bool refresh();

    store::Recordset* recordset() const { return rs_.get(); }
    shell::RecordsetModel* model() const { return model_; }
    int recordCount() const;
    // The current row, -1 when there is none or a new row is being added.
    int currentRow() const { return adding_ ? -1 : current_; }

    using Validator = std::function<bool(DataAction)>;
    void setValidator(Validator validator) { validator_ = std::move(validator); }

    // The moves. Each validates, then makes the row current; a move past
    // either end stops at the end. False when refused or without rows.
    bool moveFirst();
    bool movePrevious();
    bool moveNext();
    bool moveLast();
    bool moveTo(int row);

    // Makes a row current without validation (after the window itself
    // wrote or dropped the changes).
    void setCurrentRow(int row);

    // Deletes the current row after validation; the next row, or else the
    // last, becomes current. False when refused. Throws store::StoreError
    // when the store could not delete; the row then stays.
    bool deleteCurrent();

    // A new row begins (after validation): there is no current row until
    // endAdd(). `appended` says whether the new row was added to the
    // recordset's end.
    bool beginAdd();
    bool isAdding() const { return adding_; }
    void endAdd(bool appended);

    // The current row was written elsewhere: show it as stored now.
    void rowWritten();
    // Shows no rows: those shown are not the answer to the last read.
    void dropRows();

    // "3 / 120": the current position (0 while adding) and the row count.
    QString caption() const;

signals:
    void repositioned();

private:
    bool move(DataAction action, const std::function<int()>& target);
    void updateCaption();

    std::shared_ptr<store::Database> db_;
    QString databaseName_;
    store::NoteView view_;
    std::unique_ptr<store::Recordset> rs_;
    shell::RecordsetModel* model_;
    Validator validator_;
    int current_ = -1;
    bool adding_ = false;

    QLabel* caption_;
    QToolButton* buttons_[4];
};

} // namespace zumilo::grid

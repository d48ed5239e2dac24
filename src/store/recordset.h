#pragma once

#include "columntype.h"
#include "database.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

namespace zumilo::store {

using Bookmark = qint64; // the row's rowid

enum class EditMode { None, Edit, AddNew };

// A recordset over a table or a SELECT, in the manner of a DAO dynaset.
//
// Over a single table the rows are a keyset: the rowids in statement order,
// read once at open and at requery; each row's fields are fetched when
// needed, so a set of 100,000 notes opens fast and stays small. Other
// statements (aggregates, joins) are read whole and are read-only.
//
// Positions: 0..recordCount()-1; BOF is before the first row and EOF after
// the last (both when empty). Moves never throw: moving past an end stops
// at BOF/EOF. Field access without a current row throws NoCurrentRecord.
class Recordset {
public:
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // --- position -------------------------------------------------------
    bool isBOF() const;
    bool isEOF() const;
    // Neither BOF nor EOF nor on a deleted row; throws when the row cannot be read.
    bool hasCurrent() const;
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    int recordCount() const;      // exact
    int absolutePosition() const; // 0-based, -1 without a current row
    void setAbsolutePosition(int position);

    // Makes the first row (in recordset order) matching `criterion` current,
    // e.g. "id= 57". Returns false and leaves the position when none
    // matches (noMatch() is then true). Throws on an invalid criterion.
    bool findFirst(const QString& criterion);
    bool noMatch() const { return noMatch_; }

    Bookmark bookmark() const;           // current row; throws without one
    void setBookmark(Bookmark bookmark); // throws RowDeleted when gone
    Bookmark lastModified() const;       // row last added or updated here

    // --- fields -----------------------------------------------------------
    int fieldCount() const;
    QString fieldName(int index) const;
    int fieldIndex(const QString& name) const; // case-insensitive, -1 if none
    ColumnType fieldType(int index) const;

    // Values of the current row (or of the pending edit buffer).
    // See fromStorage() for the types returned.
    QVariant value(const QString& name) const;
    QVariant value(int index) const;
    // displayText(value(...)): Null as "", dates as yyyy/MM/dd.
    QString text(const QString& name) const;
    // A whole number of the current row, nullopt for Null. Text or a
    // fraction (a file from elsewhere may hold them) throws TypeMismatch
    // naming the field, where value(...).toLongLong() would read 0.
    std::optional<qint64> integer(const QString& name) const;

    // The row at `row` without moving (for grids); null when deleted.
    QVariant valueAt(int row, int index) const;
    QString textAt(int row, int index) const;
    bool isRowDeleted(int row) const; // deleted by this or another connection
    // The bookmark of the row at `row`, without reading the row; 0 outside.
    Bookmark bookmarkAt(int row) const;
    // The display text of a field of the row with this bookmark, wherever
    // it now stands; "" when it is gone.
    QString textOf(Bookmark bookmark, int index) const;
    // True when the field is the table's rowid (an INTEGER PRIMARY KEY), so
    // that bookmarks are its values.
    bool isRowidField(const QString& name) const;

    // The display texts of a few fields for every row, in recordset order,
    // read in one pass (filling a list of thousands of rows): row after row,
    // fields.size() texts each. Rows deleted meanwhile are left out;
    // `rowIndexes`, when given, receives the position of each row returned.
    std::vector<QString> columnTexts(const QStringList& fields, std::vector<int>* rowIndexes = nullptr) const;

    // --- editing ----------------------------------------------------------
    bool isUpdatable() const;
    EditMode editMode() const { return editMode_; }
    // Starts a new row. The row current before stays current; after
    // update() lastModified() names the new row, which is appended to the
    // recordset. A pending new row or edit is given up.
    void addNew();
    void edit();
    // Sets a field of the pending row. Converts at once and throws
    // (TypeMismatch, InvalidDate, TooLong, UnknownField) leaving the
    // buffer as it was, so one bad field never blocks the others.
    void setValue(const QString& name, const QVariant& value);
    // setValue(name, valueFromText(text)): "" stores Null.
    void setText(const QString& name, const QString& text);
    // Writes the pending row. Edit of a row deleted meanwhile throws
    // RowDeleted. On failure the edit stays pending.
    void update();
    void cancelUpdate();
    // Deletes the current row. The position stays between its neighbours:
    // moveNext() goes to the row after it, movePrevious() to the one before.
    void deleteCurrent();

    // Adds a row stored through another recordset at the end of this one,
    // as a row added here would be; nothing when it is already here.
    void include(Bookmark rowid);

    // Reads the keyset again; the first row becomes current.
    void requery();

    const QString& source() const { return source_; }
    Database& database() const { return *db_; }

private:
    friend class Database;
    Recordset(std::shared_ptr<Database> db, QString source, const QVariantList& params, RecordsetType type);
    Recordset(std::shared_ptr<Database> db, const detail::Query& query, RecordsetType type);
    void open(bool simple, RecordsetType type);
    // Taken before this recordset first changes rows in a transaction, so
    // that a rollback leaves it as it was.
    void keepForRollback();
    void databaseClosed(); // statements released; later calls throw
    // Waits until every row of the set is known (see Impl::pending).
    void finishReading();
    std::vector<QString> fallbackColumnTexts(const std::vector<int>& columns, std::vector<int>* rowIndexes) const;
    void moveTo(int position);
    // Throws unless rows can be changed here (and, with onRow, one is current).
    void requireUpdatable(bool onRow) const;

    struct Impl;
    std::unique_ptr<Impl> d_;
    std::shared_ptr<Database> db_;
    QString source_;
    EditMode editMode_ = EditMode::None;
    bool noMatch_ = false;
};

} // namespace zumilo::store

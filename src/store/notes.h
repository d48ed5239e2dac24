#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>

namespace zumilo::store {

class Database;

// The changes to categories and notes that the windows make, each one
// transaction: all of it is stored or none. All throw StoreError.

// The number the next note gets: the largest ID plus one, or 1. Call it
// inside the transaction that stores the note, so that no other window can
// take the same number in between.
qint64 nextNoteNumber(Database& db);

// The name a category has now; nullopt for the root (0) and for a number
// no category has.
std::optional<QString> categoryName(Database& db, qint64 bunID);

// A note as the editor shows its stamp and category (Recordset::text);
// nullopt when no note has the number.
struct NoteState {
    QString updatedDate;
    QString updatedTime;
    QString bunID;
    QString categoryName;
};
std::optional<NoteState> noteState(Database& db, qint64 id);

// A new category under `parent`, numbered the largest number plus one (or
// 1); returns its number.
qint64 addCategory(Database& db, const QString& name, qint64 parent);

// The category and its notes' copy of its name together.
void renameCategory(Database& db, qint64 bunID, const QString& name);

// Whether a category has categories or notes below it.
bool categoryInUse(Database& db, qint64 bunID);

// Deletes a category that nothing uses; false (and nothing deleted) when a
// category or a note has come below it meanwhile.
bool deleteCategory(Database& db, qint64 bunID);

void moveCategory(Database& db, qint64 bunID, qint64 newParent);

// Files a note under another category, with the copy of its name.
void moveNote(Database& db, qint64 noteID, qint64 bunID, const QString& categoryName);

// Reads `columns` of the notes `ids`, in that order, as Recordset::value()
// gives them; a number no note has is passed over. `row` returns false to
// stop.
void readNotes(Database& db, const QStringList& columns, const QList<qint64>& ids,
               const std::function<bool(qint64 id, const QVariantList& values)>& row);

} // namespace zumilo::store

#pragma once

#include <QString>
#include <QStringList>
#include <vector>
#include <memory>

namespace zumilo::store {

class Database;

// The creation statements of a database file, exactly as the file format
// defines them (run through the Jet dialect layer).
QString createIdeaTableSql();
QString createCategoryTableSql();
QString createOptionTableSql();
QString seedIdeaSql();

struct StarterCategory {
    int bunID;
    const char* name; // UTF-8
    int parent;
};
// The fifteen starter categories of "新規ＤＢの作成 分類付き", in order.
const std::vector<StarterCategory>& starterCategories();

// Creates a complete database file at `path`: the three tables, the seed
// note, and optionally the starter categories, plus the indexes that keep
// tree and list loading fast. All or nothing: on failure no file is left
// and StoreError is thrown (FileExists when the file is already there).
void createZumiloDatabase(const QString& path, bool withStarterCategories);
// The indexes that give the grid's important, due and recent notes
// without reading every note; new files have them, older ones get them when their
// search index is rebuilt (which reads every note anyway).
void addViewIndexes(Database& db);

// True when the database holds the tables T_idea, T_bunrui and T_option
// (case-sensitive names; system tables are skipped).
bool hasZumiloTables(const Database& db);

// Refuses a file whose T_idea or T_bunrui lacks a column the program reads
// or declares one with a type it cannot use (MissingColumn, ColumnType,
// naming "table.column"). Tables that are not there are left to
// hasZumiloTables(). Database::open() runs it on every file.
void checkZumiloColumns(const Database& db);
// Refuses a file whose category numbers or note numbers are not all whole
// numbers (ColumnValue): the windows put these numbers into statements.
// Cheap enough for every open: the categories are few, and note numbers
// are read only where they are not the table's rowid.
void checkZumiloValues(const Database& db);

} // namespace zumilo::store

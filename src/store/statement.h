#pragma once

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace zumilo::store::detail {

// One prepared statement. Never left stepping: step() to the end or
// reset() before control returns to the caller, so that no connection
// holds a read lock between calls.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const QString& sql); // throws StoreError
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    void bind(int index, const QVariant& value); // 1-based
    void bindAll(const QVariantList& values);
    // True for a row, false at the end. Throws (after a reset) on failure.
    bool step();
    void reset();
    void finalize();

    int columnCount() const;
    QVariant column(int index) const;
    qint64 columnInt(int index) const;

    // Text after the first statement, other than blanks and semicolons.
    bool hasTrailingText() const { return trailing_; }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    bool trailing_ = false;
};

// The StoreError for an SQLite result code and the engine's message;
// `db`, when given, is the connection whose file the error is about.
[[noreturn]] void throwSqlite(int rc, const QString& message, const QString& context, sqlite3* db = nullptr);
// The path of the connection's main file, empty for none.
QString databaseFile(sqlite3* db);

// An ORDER BY clause over `table` as the program's lists order their rows:
// titles and names by their sort key, rows that sort alike by rowid.
struct ListOrder {
    QString sql;
    // Set when the order is one text column alone, which a recordset may
    // sort itself by the same key: the column as written.
    QString textKey;
    bool descending = false;
};
ListOrder listOrder(sqlite3* db, const QString& table, const QString& orderBy);

// The column that is `table`'s rowid, as the engine decides it (a lone
// INTEGER PRIMARY KEY), case-folded; empty when there is none.
QString rowidColumn(sqlite3* db, const QString& table);

// The value as SQLite stores it: bool as -1/0 (Jet's true), dates as ISO text.
QVariant storageValue(const QVariant& value);

} // namespace zumilo::store::detail

#pragma once

#include "statement.h"

#include <QString>
#include <functional>

namespace zumilo::store::detail {

// A statement that writes a text file (SELECT ... INTO) as the plain
// SELECT of its rows, ordered as the program's lists order them.
QString exportStatement(sqlite3* db, const QString& sql);

// Writes the rows of `rows` as the new CSV file `fileName` in `folder`: a
// header of column names, RFC 4180 quoting, UTF-8 with BOM, CRLF, dates
// yyyy/MM/dd. Written aside and renamed when whole; `progress`, told the
// rows written every few hundred, stops it (Cancelled) by answering false.
void writeTextFile(Statement& rows, const QString& folder, const QString& fileName,
                   const std::function<bool(qint64 rows)>& progress);

} // namespace zumilo::store::detail

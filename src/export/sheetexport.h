#pragma once

#include <QList>
#include <QString>
#include <functional>

class QMainWindow;

namespace zumilo::store {
class Database;
}

namespace zumilo::exporting {

// mnuExpExl of the main and grid windows: the notes the window shows, in
// its order, in a new workbook opened with the desktop's spreadsheet
// program.
void SheetExport(QMainWindow& window);

struct SheetColumn {
    QString field;
    QString header;
};

// Writes a new workbook at `path`: one sheet, a header row (none when
// `ids` is empty) and a row per note in the order of `ids`. Numbers become
// numbers, dates dates shown yyyy/mm/dd, text text with its line breaks;
// text longer than a cell holds is cut to fit and its note's number added
// to `shortened`. `progress`, when given, hears the notes written so far
// now and then and stops the work by returning false. Throws StoreError:
// reading failed, writing failed (Io), or stopped (Cancelled); no file is
// left then.
void writeNoteSheet(store::Database& db, const QList<SheetColumn>& columns, const QList<qint64>& ids,
                    const QString& path, const std::function<bool(qint64 notes)>& progress = {},
                    QList<qint64>* shortened = nullptr);

// The five columns of the spreadsheet export.
const QList<SheetColumn>& noteSheetColumns();

// Where the workbooks for the spreadsheet program are written: a folder of
// the user's cache.
QString sheetFolder();

} // namespace zumilo::exporting

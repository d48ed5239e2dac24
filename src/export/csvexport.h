#pragma once

#include <QString>

class QMainWindow;

namespace zumilo::exporting {

// The main window's CSV export through the store's text-file statement;
// mode "bunOnly" (the notes of the category shown), "Alldata" or
// "AlldataAllcol" (all notes, five or all columns).
void CsvExport(QMainWindow& window, const QString& mode);
// The grid window's: the rows of its current view, in its order.
void GridCsvExport(QMainWindow& window);

} // namespace zumilo::exporting

#include "exportcommands.h"

#include "csvexport.h"
#include "sheetexport.h"

#include "records/commandwindow.h"
#include "shell/commands.h"

namespace zumilo::exporting {

void addExportCommands(shell::SharedCommands& commands)
{
    auto kindOf = [](QMainWindow& window) {
        const records::CommandWindow* w = records::commandWindow(window);
        return w ? w->windowKind() : shell::WindowKind::Single;
    };
    commands.add(QStringLiteral("mnuExpCsv"), [kindOf](QMainWindow& window) {
        if (kindOf(window) == shell::WindowKind::Grid)
            GridCsvExport(window);
        else if (kindOf(window) == shell::WindowKind::Main)
            CsvExport(window, QStringLiteral("bunOnly"));
    });
    commands.add(QStringLiteral("mnuExpCsv2"),
                 [](QMainWindow& window) { CsvExport(window, QStringLiteral("Alldata")); });
    commands.add(QStringLiteral("mnuExpCsvALL"),
                 [](QMainWindow& window) { CsvExport(window, QStringLiteral("AlldataAllcol")); });
    commands.add(QStringLiteral("mnuExpExl"), [kindOf](QMainWindow& window) {
        if (kindOf(window) != shell::WindowKind::Single)
            SheetExport(window);
    });
}

} // namespace zumilo::exporting

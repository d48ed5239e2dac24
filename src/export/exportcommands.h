#pragma once

namespace zumilo::shell {
class SharedCommands;
}

namespace zumilo::exporting {

// The export commands of the main and grid windows: mnuExpCsv,
// mnuExpCsv2, mnuExpCsvALL and mnuExpExl.
void addExportCommands(shell::SharedCommands& commands);

} // namespace zumilo::exporting

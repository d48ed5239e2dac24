#pragma once

class QMainWindow;

namespace zumilo::shell {
class SharedCommands;
}

namespace zumilo::print {

// mnuPrint1 (print the window's note, with a preview; without a printer,
// into a PDF file) and mnuPrintOp, mnuToolOpt (the options dialog), the
// same in the three windows.
void addPrintCommands(shell::SharedCommands& commands);

void mnuPrint1_Click(QMainWindow& window);
void mnuPrintOp_Click(QMainWindow& window);

} // namespace zumilo::print

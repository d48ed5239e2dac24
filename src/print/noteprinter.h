#pragma once

#include "printoptions.h"

#include <QString>

class QPrinter;

namespace zumilo::print {

// What one printout shows, as the window shows it.
struct NoteContent {
    QString category;   // Text1(3)
    QString updateDate; // status panel 4
    QString updateTime; // status panel 5
    QString title;      // Text1(0)
    QString body;       // the body box that is shown
};

// PrintSetup: paper, orientation and the whole sheet (margins are counted
// from its edges) on `printer`. Returns what keeps the print from starting
// (a paper the printer refuses, margins that leave no room for a line),
// empty when it can start.
QString PrintSetup(QPrinter& printer, const PrintOptions& options);

// Prints the note on `printer` as set up: the header line with the
// category and the update stamp, a rule, the title, a second rule, the
// body; lines broken at the print width, pages at the bottom margin.
// False when the printer (or the file) could not be started.
bool printNote(QPrinter& printer, const PrintOptions& options, const NoteContent& note);

} // namespace zumilo::print

#pragma once

#include "printoptions.h"

#include <QFont>
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

// The font of the whole printout.
QFont printFont(const PrintOptions& options);

// Where a printout goes on the sheet the printer has now (paper and
// orientation), in twips: the margins, PrintWidth and PrintHeight, and
// the height of a line in the print font.
struct PrintArea {
    PrintArea(const QPrinter& printer, const PrintOptions& options);
    double scale = 1; // the printer's units per twip
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    double lineHeight = 0;
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

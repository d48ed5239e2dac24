#pragma once

#include "printoptions.h"

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QPointF>
#include <QString>

class QPaintDevice;
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

// One thing printed on a sheet: a line of text whose top left corner is
// `at`, or a rule of the print width from `at`; in twips from the sheet's
// corner.
struct SheetItem {
    QPointF at;
    QString text;
    bool rule = false;
};
using Sheet = QList<SheetItem>;

// The note laid out on the sheets of `printer` as set up: the one layout
// the preview, the printer and the PDF file all show.
QList<Sheet> layoutNote(const QPrinter& printer, const PrintOptions& options, const NoteContent& note);

// A line of text in `font` as `device` shapes it, its glyphs placed from
// the line's top left corner, in the device's units; with `from`, only the
// glyphs of those characters, placed as in the whole line.
QList<QGlyphRun> shapeLine(const QString& text, const QFont& font, QPaintDevice* device, int from = -1,
                           int length = -1);

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

#pragma once

#include "noteprinter.h"

namespace zumilo::print {

enum class PdfResult { Written, CannotWrite, FontUnavailable };

// Writes the note into a PDF file at `path`, laid out on the sheets of
// `printer` (a PDF printer set up by PrintSetup) exactly as the preview
// shows it. Each glyph carries the text it stands for, so the file's text
// can be searched and copied as the note holds it. The file is replaced
// only once it is whole. FontUnavailable: a glyph's font cannot be
// embedded from the same file the layout used, or cairo is missing;
// nothing is written.
PdfResult writePdf(const QString& path, QPrinter& printer, const PrintOptions& options, const NoteContent& note);

// Prints the note on the print system's queue `printer` names, as such a
// PDF file with the paper and orientation of `printer`, so that a queue
// that keeps PDF files (cups-pdf) keeps the note's text as well.
// CannotWrite when the queue refuses the job; FontUnavailable as above,
// and where there is no such print system (libcups is missing).
PdfResult printPdf(QPrinter& printer, const PrintOptions& options, const NoteContent& note);

} // namespace zumilo::print

#include "printcommands.h"

#include "noteprinter.h"
#include "optionsdialog.h"
#include "pdfwriter.h"

#include "records/commandwindow.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/commands.h"
#include "shell/desktop.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QPrinter>
#include <QPrinterInfo>

namespace zumilo::print {

using shell::Msg::Exclamation;
using shell::Msg::Yes;
using shell::Msg::YesNo;

namespace {

// The hourglass for as long as this lives, however the work ends.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

NoteContent noteOf(records::CommandWindow& w)
{
    const records::RecordEditor& e = *w.editor();
    return {e.text(3), w.statusPanels().text(4), w.statusPanels().text(5), e.text(0), e.text(e.isWrapped() ? 2 : 1)};
}

bool hasUsablePrinter()
{
    const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
    return !printer.isNull() && printer.state() != QPrinter::Error;
}

// Without a printer the printout can go into a PDF file: which one, or
// nullopt when the user does not want that.
std::optional<QString> choosePdfFile(shell::AppState& st, QWidget* parent)
{
    shell::Prompts& prompts = st.prompts();
    if (prompts.message(parent,
                        QStringLiteral("プリンターが見つかりません。\n印刷する内容を PDF ファイルに保存しますか？"),
                        YesNo | shell::Msg::Question)
        != Yes)
        return std::nullopt;
    std::optional<QString> path = prompts.saveFile(parent, shell::userFilesFolder(st.DatabasePath),
                                                   QStringLiteral("*.pdf"));
    if (!path || path->isEmpty())
        return std::nullopt;
    if (QFileInfo(*path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
        *path += QStringLiteral(".pdf");
    if (QFileInfo::exists(*path)
        && prompts.message(parent, *path + QStringLiteral(" は既にあります。\n上書きしますか？"),
                           YesNo | Exclamation | shell::Msg::DefaultButton2)
               != Yes)
        return std::nullopt;
    return path;
}

} // namespace

void mnuPrint1_Click(QMainWindow& window)
{
    records::CommandWindow* w = records::commandWindow(window);
    if (!w || !w->editor())
        return;
    shell::AppState& st = w->state();
    shell::Prompts& prompts = st.prompts();
    const NoteContent note = noteOf(*w);
    const ReadOptions read = readPrintOptions(st.settings());
    if (!read.error.isEmpty()) {
        prompts.message(&window, read.error, Exclamation);
        return;
    }

    const bool toPrinter = hasUsablePrinter();
    QPrinter printer(QPrinter::HighResolution);
    if (!toPrinter)
        printer.setOutputFormat(QPrinter::PdfFormat);
    QString problem;
    {
        BusyPointer busy;
        problem = PrintSetup(printer, read.options);
    }
    if (!problem.isEmpty()) {
        prompts.message(&window, problem, Exclamation);
        return;
    }
    if (!toPrinter) {
        const std::optional<QString> path = choosePdfFile(st, &window);
        if (!path)
            return;
        printer.setOutputFileName(*path);
    }

    // The preview paints the note as often as it needs; its print button
    // only closes it, and the note is then printed with the same set-up
    // and layout, which no printer dialog can change meanwhile.
    const bool accepted = prompts.printPreview(&window, &printer, [&](QPrinter* target) {
        BusyPointer busy;
        printNote(*target, read.options, note);
    });
    if (!accepted)
        return;
    const QString file = QDir::toNativeSeparators(printer.outputFileName());
    bool printed = false;
    {
        BusyPointer busy;
        const PdfResult result = toPrinter ? printPdf(printer, read.options, note)
                                           : writePdf(printer.outputFileName(), printer, read.options, note);
        // A font cairo cannot take the glyphs from: Qt's own print engine.
        printed = result == PdfResult::Written
                  || (result == PdfResult::FontUnavailable && printNote(printer, read.options, note));
    }
    if (!printed) {
        prompts.message(&window,
                        toPrinter ? QStringLiteral("印刷を始められませんでした。\nプリンターの状態を確かめてください。")
                                  : QStringLiteral("PDF ファイルを書き込めませんでした。\n") + file
                                        + QStringLiteral("\n\n保存先のフォルダーに書き込めるか確かめてください。"),
                        Exclamation);
    } else if (!toPrinter) {
        prompts.message(&window, QStringLiteral("PDF ファイルに保存しました。\n") + file);
    }
}

void mnuPrintOp_Click(QMainWindow& window)
{
    records::CommandWindow* w = records::commandWindow(window);
    if (!w)
        return;
    // The owner becomes active again when the dialog closes, and takes the
    // screen font then; the other windows when they are next activated.
    if (showOptions(w->state(), &window) && w->editor())
        records::applyScreenFont(*w, w->windowKind() == shell::WindowKind::Main ? 10.5 : 10);
}

void addPrintCommands(shell::SharedCommands& commands)
{
    commands.add(QStringLiteral("mnuPrint1"), mnuPrint1_Click);
    commands.add(QStringLiteral("mnuPrintOp"), mnuPrintOp_Click);
    commands.add(QStringLiteral("mnuToolOpt"), mnuPrintOp_Click);
}

} // namespace zumilo::print

#include "exportflow.h"

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"
#include "store/error.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

namespace zumilo::exporting {

StatusText::StatusText(shell::StatusPanels& panels, const QString& text) : panels_(panels)
{
    panels_.setText(1, text);
    // Seen at once, though no events run until the export is over.
    panels_.label(1)->repaint();
}

StatusText::~StatusText()
{
    panels_.setText(1, QStringLiteral(" "));
}

BusyPointer::BusyPointer()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyPointer::~BusyPointer()
{
    QApplication::restoreOverrideCursor();
}

std::unique_ptr<shell::Progress> exportProgress(QMainWindow& window, records::CommandWindow& w, qint64 notes)
{
    if (notes <= kProgressFromNotes)
        return nullptr;
    return w.state().prompts().progress(&window, QStringLiteral("エクスポート中です・・・"), notes);
}

QString failureReason(const store::StoreError& e, const QString& folder)
{
    if (e.kind() == store::ErrorKind::ReadOnly)
        return QStringLiteral("フォルダー「%1」に書き込む権限がありません。").arg(QDir::toNativeSeparators(folder));
    return e.message();
}

void reportExportFailure(QMainWindow& window, records::CommandWindow& w, const QString& reason)
{
    w.state().prompts().message(&window, QStringLiteral("エクスポートできませんでした。\r") + reason,
                                shell::Msg::Exclamation);
}

} // namespace zumilo::exporting

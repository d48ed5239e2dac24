#include "exportflow.h"

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/desktop.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"
#include "store/error.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <filesystem>

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
    return w.state().prompts().progress(&window, QStringLiteral("エクスポート中です・・・"), notes, true);
}

std::optional<ExportTarget> chooseExportTarget(QMainWindow& window, shell::AppState& st, const QString& extension)
{
    const std::optional<QString> chosen = st.prompts().saveFile(&window, shell::userFilesFolder(st.DatabasePath),
                                                                QStringLiteral("*.") + extension);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    QString path = *chosen;
    // The name is looked at, not the folders it lies in.
    if (!QFileInfo(path).fileName().toUpper().contains(QLatin1Char('.') + extension.toUpper()))
        path += QLatin1Char('.') + extension;
    const QFileInfo info(path);
    ExportTarget target{info.absoluteFilePath(), info.absolutePath(), info.fileName(),
                        info.exists() || info.isSymLink()};
    if (target.replaces
        && st.prompts().message(&window, QStringLiteral("このファイル名は既に存在します。上書きしますか？"),
                                shell::Msg::YesNo + shell::Msg::DefaultButton2, QStringLiteral("確認"))
               != shell::Msg::Yes) {
        st.prompts().message(&window, kExportCancelled);
        return std::nullopt;
    }
    return target;
}

QString sideName(const QString& folder)
{
    for (;;) {
        const QString name =
            QStringLiteral(".zumilo-%1.part").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const QFileInfo side(QDir(folder).filePath(name));
        if (!side.exists() && !side.isSymLink())
            return name;
    }
}

bool replaceFile(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()),
                            error);
    return !error;
}

QString failureReason(const store::StoreError& e, const QString& path)
{
    const QFileInfo file(path);
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    const QString notWritten = QStringLiteral("ファイル「%1」を書き出せませんでした。\r").arg(file.fileName());
    switch (e.kind()) {
    case store::ErrorKind::ReadOnly:
        return QStringLiteral("フォルダー「%1」に書き込む権限がありません。").arg(folder);
    case store::ErrorKind::DiskFull:
        return notWritten + store::japaneseMessage(e.kind());
    case store::ErrorKind::Io:
        if (!file.absoluteDir().exists())
            return notWritten + QStringLiteral("フォルダー「%1」が見つかりません。").arg(folder);
        return notWritten + store::japaneseMessage(e.kind());
    default:
        return e.message();
    }
}

std::optional<QList<qint64>> readShownNotes(QMainWindow& window, records::CommandWindow& w)
{
    try {
        return w.shownNotes();
    } catch (const store::StoreError& e) {
        reportExportFailure(window, w, store::failureCause(e, w.state().DatabasePath));
        return std::nullopt;
    }
}

void reportExportFailure(QMainWindow& window, records::CommandWindow& w, const QString& reason)
{
    w.state().prompts().message(&window, QStringLiteral("エクスポートできませんでした。\r") + reason,
                                shell::Msg::Exclamation);
}

void reportExportDone(QMainWindow& window, records::CommandWindow& w, const QString& fileName)
{
    w.state().prompts().message(&window, QStringLiteral("エクスポートが完了しました！  \rﾌｧｲﾙ名： ") + fileName,
                                shell::Msg::Information);
}

} // namespace zumilo::exporting

#include "csvexport.h"

#include "exportflow.h"

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/prompts.h"
#include "store/database.h"
#include "store/error.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <functional>
#include <optional>

namespace zumilo::exporting {

using records::CommandWindow;
namespace Msg = shell::Msg;

namespace {

const QString kExporting = QStringLiteral("エクスポート中です・・・");

// Writes the notes of `view` to the file and tells the user how it went.
void writeCsv(QMainWindow& window, CommandWindow& w, const ExportTarget& target, const store::NoteView& view,
              const QString& statusText)
{
    store::Database* connection = w.database();
    if (!connection) {
        reportExportFailure(window, w, store::japaneseMessage(store::ErrorKind::FileNotFound));
        return;
    }
    store::Database& db = *connection;
    qint64 notes = 0;
    // The count only decides whether a progress box comes up; the export
    // itself meets the same failure and names it.
    store::tryStep([&] { notes = db.count(view); }).ignoreFailure("told by the export");
    StatusText status(w.statusPanels(), statusText);
    const QString written = target.replaces ? sideName(target.folder) : target.fileName;
    QString failure;
    bool cancelled = false;
    {
        BusyPointer busy;
        const std::unique_ptr<shell::Progress> progress = exportProgress(window, w, notes);
        if (progress)
            db.setExportProgress([&](qint64 rows) { return progress->advance(rows); });
        const auto noProgress = qScopeGuard([&] { db.setExportProgress({}); });
        try {
            db.exportText(view, target.folder, written);
            if (target.replaces && !replaceFile(QDir(target.folder).filePath(written), target.path))
                failure = QStringLiteral("ファイル「%1」を置き換えられませんでした。").arg(target.fileName);
        } catch (const store::StoreError& e) {
            cancelled = e.kind() == store::ErrorKind::Cancelled;
            failure = failureReason(e, target.path);
        }
        if (target.replaces && !failure.isEmpty())
            QFile::remove(QDir(target.folder).filePath(written));
    }
    if (cancelled)
        w.state().prompts().message(&window, kExportCancelled);
    else if (!failure.isEmpty())
        reportExportFailure(window, w, failure);
    else
        reportExportDone(window, w, target.fileName);
}

const QStringList kFiveFields = {QStringLiteral("id"), QStringLiteral("title"), QStringLiteral("naiyo"),
                                 QStringLiteral("bunid"), QStringLiteral("bunrui")};

store::NoteView csvView(const QString& mode, qint64 bunID)
{
    store::NoteView v;
    if (mode == QLatin1String("bunOnly")) {
        v.notes = store::NoteView::Notes::Category;
        v.number = bunID;
        v.fields = kFiveFields;
        return v;
    }
    v.sortFields = QStringList{QStringLiteral("id")};
    v.fields = mode == QLatin1String("Alldata")
                   ? kFiveFields
                   : QString::fromLatin1(
                         "id,title,naiyo,bunID,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,kanryoCK,"
                         "kanryodate,sinkidate,oyaID")
                         .split(QLatin1Char(','));
    return v;
}

} // namespace

void CsvExport(QMainWindow& window, const QString& mode)
{
    CommandWindow* w = records::commandWindow(window);
    if (!w)
        return;
    shell::AppState& st = w->state();
    const bool bunOnly = mode == QLatin1String("bunOnly");
    if (bunOnly) {
        const auto shown = readShownNotes(window, *w);
        if (!shown)
            return;
        if (shown->isEmpty()) {
            st.prompts().message(&window, QStringLiteral("この分類には、データが無いので処理を取り消します"),
                                 Msg::Information);
            return;
        }
    }
    const std::optional<ExportTarget> target = chooseExportTarget(window, st, QStringLiteral("csv"));
    if (!target)
        return;
    writeCsv(window, *w, *target, csvView(mode, st.CurrentBunID.toLongLong()), kExporting);
}

void GridCsvExport(QMainWindow& window)
{
    CommandWindow* w = records::commandWindow(window);
    if (!w)
        return;
    store::NoteView view = w->view();
    view.fields = kFiveFields;
    const std::optional<ExportTarget> target = chooseExportTarget(window, w->state(), QStringLiteral("csv"));
    if (!target)
        return;
    writeCsv(window, *w, *target, view, kExporting);
}

} // namespace zumilo::exporting

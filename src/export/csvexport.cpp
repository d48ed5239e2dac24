#include "csvexport.h"

#include "exportflow.h"

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/prompts.h"
#include "store/database.h"
#include "store/error.h"
#include "store/jetsql.h"

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

// Writes the file through `statement` (given the text-file target) on the
// window's connection and tells the user how it went. `countSql` counts
// the rows, for the progress box.
void writeCsv(QMainWindow& window, CommandWindow& w, const ExportTarget& target, const QString& countSql,
              const QString& statusText, const std::function<QString(const QString& into)>& statement)
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
    store::tryStep([&] { notes = db.scalar(countSql).toLongLong(); }).ignoreFailure("told by the export");
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
            db.execute(statement(store::textTarget(target.folder, written)), store::FailOnError);
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

QString csvStatement(const QString& mode, const QString& into, const QString& bunID)
{
    if (mode == QLatin1String("bunOnly"))
        return QStringLiteral("select id,title,naiyo,bunid,bunrui into ") + into + QStringLiteral(" from  [T_idea]  where  bunid= ")
               + bunID;
    if (mode == QLatin1String("Alldata"))
        return QStringLiteral("select id,title,naiyo,bunid,bunrui into ") + into + QStringLiteral(" from  [T_idea]   order by id  ");
    return QStringLiteral("select  id,title,naiyo,bunID,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,kanryoCK,kanryodate,"
                          "sinkidate,oyaID    into  ")
           + into + QStringLiteral(" from  [T_idea]   order by id  ");
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
    const QString bunID = st.CurrentBunID;
    writeCsv(window, *w, *target,
             QStringLiteral("select count(*) from T_idea") + (bunOnly ? QStringLiteral(" where bunid= ") + bunID : QString()),
             kExporting, [&](const QString& into) { return csvStatement(mode, into, bunID); });
}

void GridCsvExport(QMainWindow& window)
{
    CommandWindow* w = records::commandWindow(window);
    if (!w)
        return;
    // ViewTail: the table, the condition and the order of the view.
    const QString source = w->viewSource();
    const qsizetype at = source.indexOf(QLatin1String("[T_idea]"));
    const QString viewTail = at < 0 ? QString() : source.mid(at);
    const std::optional<ExportTarget> target = chooseExportTarget(window, w->state(), QStringLiteral("csv"));
    if (!target)
        return;
    writeCsv(window, *w, *target, QStringLiteral("select count(*) from ") + viewTail,
             kExporting + QLatin1Char('\'') + viewTail + QLatin1Char('\''), [&](const QString& into) {
                 return QStringLiteral("select id,title,naiyo,bunid,bunrui into ") + into + QStringLiteral(" from ") + viewTail;
             });
}

} // namespace zumilo::exporting

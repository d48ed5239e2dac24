#include "sheetexport.h"

#include "exportflow.h"

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/desktop.h"
#include "shell/lazylibrary.h"
#include "shell/prompts.h"
#include "store/error.h"
#include "store/notes.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStorageInfo>
#include <QStandardPaths>
#include <memory>
#include <xlsxwriter.h>

namespace zumilo::exporting {

using records::CommandWindow;
namespace Msg = shell::Msg;

namespace {

// libxlsxwriter is loaded the first time a workbook is written.
#define XLSXWRITER_FUNCTIONS(F)                                                                                        \
    F(format_set_num_format)                                                                                           \
    F(lxw_strerror)                                                                                                    \
    F(lxw_workbook_free)                                                                                               \
    F(workbook_add_format)                                                                                             \
    F(workbook_add_worksheet)                                                                                          \
    F(workbook_close)                                                                                                  \
    F(workbook_new_opt)                                                                                                \
    F(worksheet_write_datetime)                                                                                        \
    F(worksheet_write_number)                                                                                          \
    F(worksheet_write_string)

struct Xlsx {
    XLSXWRITER_FUNCTIONS(ZUMILO_LAZY_FUNCTION)
};

const Xlsx* xlsx()
{
    return shell::loadFunctions<Xlsx>(ZUMILO_XLSXWRITER_LIBRARY, [](shell::LazyLibrary& library, Xlsx& api) {
        XLSXWRITER_FUNCTIONS(ZUMILO_LAZY_RESOLVE)
    });
}

const QString kNoSheetLibrary = QStringLiteral("表計算のファイルを書くためのライブラリ（%1）が見つかりません。")
                                    .arg(QLatin1String(ZUMILO_XLSXWRITER_LIBRARY));

// The most characters a spreadsheet cell holds.
constexpr qsizetype kCellCharacters = 32767;
// Workbooks older than this are taken away when the next one is written;
// the spreadsheet program has long read them by then.
constexpr qint64 kSheetKeepSeconds = 24 * 60 * 60;
constexpr qint64 kProgressEvery = 256;
// Less room than this on the disk when writing fails counts as a full disk.
constexpr qint64 kRoomForWriting = 1 << 20;

class Workbook {
public:
    explicit Workbook(const QString& path) : x_(library()), path_(path), name_(QFile::encodeName(path))
    {
        lxw_workbook_options options{};
        // Rows go to the file as they are written: 100,000 notes stay small.
        options.constant_memory = LXW_TRUE;
        book_.reset(x_.workbook_new_opt(name_.constData(), &options));
        if (!book_)
            fail(LXW_ERROR_MEMORY_MALLOC_FAILED);
        sheet_ = x_.workbook_add_worksheet(book_.get(), nullptr);
        if (!sheet_)
            fail(LXW_ERROR_CREATING_TMPFILE);
        date_ = x_.workbook_add_format(book_.get());
        x_.format_set_num_format(date_, "yyyy/mm/dd");
        dateTime_ = x_.workbook_add_format(book_.get());
        x_.format_set_num_format(dateTime_, "yyyy/mm/dd hh:mm:ss");
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // Returns false when text had to be cut to fit the cell.
    bool write(lxw_row_t row, lxw_col_t column, const QVariant& value)
    {
        lxw_error error = LXW_NO_ERROR;
        bool whole = true;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            return true;
        case QMetaType::Bool:
            error = x_.worksheet_write_number(sheet_, row, column, value.toBool() ? -1 : 0, nullptr); // as stored
            break;
        case QMetaType::QDate:
        case QMetaType::QDateTime: {
            const QDateTime at = value.toDateTime();
            const bool timed = value.typeId() == QMetaType::QDateTime;
            if (at.date().year() < 1900) // before the spreadsheet's calendar
                return write(row, column, at.toString(timed ? u"yyyy/MM/dd hh:mm:ss" : u"yyyy/MM/dd"));
            lxw_datetime d{at.date().year(), at.date().month(),  at.date().day(),
                           at.time().hour(), at.time().minute(), double(at.time().second())};
            error = x_.worksheet_write_datetime(sheet_, row, column, &d, timed ? dateTime_ : date_);
            break;
        }
        case QMetaType::QString: {
            QString text = value.toString();
            if (text.isEmpty())
                return true;
            // A cell breaks its lines at LF alone.
            text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
            if (text.size() > kCellCharacters) {
                text.truncate(text.at(kCellCharacters - 1).isHighSurrogate() ? kCellCharacters - 1 : kCellCharacters);
                whole = false;
            }
            error = x_.worksheet_write_string(sheet_, row, column, text.toUtf8().constData(), nullptr);
            break;
        }
        default:
            if (value.canConvert<double>())
                error = x_.worksheet_write_number(sheet_, row, column, value.toDouble(), nullptr);
            else
                error = x_.worksheet_write_string(sheet_, row, column, value.toString().toUtf8().constData(), nullptr);
            break;
        }
        if (error != LXW_NO_ERROR)
            fail(error);
        return whole;
    }

    void close()
    {
        const lxw_error error = x_.workbook_close(book_.release());
        if (error != LXW_NO_ERROR) {
            QFile::remove(path_);
            fail(error);
        }
    }

private:
    static const Xlsx& library()
    {
        if (const Xlsx* x = xlsx())
            return *x;
        throw store::StoreError(store::ErrorKind::Io, kNoSheetLibrary);
    }

    [[noreturn]] void fail(lxw_error error) const
    {
        // The library does not tell a full disk from other failures; the
        // room left does.
        const bool full = QStorageInfo(QFileInfo(path_).absolutePath()).bytesAvailable() < kRoomForWriting;
        throw store::StoreError(full ? store::ErrorKind::DiskFull : store::ErrorKind::Io,
                                QStringLiteral("%1: %2").arg(path_, QString::fromUtf8(x_.lxw_strerror(error))));
    }

    const Xlsx& x_;
    QString path_;
    QByteArray name_;
    // Freed unwritten when the work stops on the way.
    std::unique_ptr<lxw_workbook, void (*)(lxw_workbook*)> book_{nullptr, x_.lxw_workbook_free};
    lxw_worksheet* sheet_ = nullptr;
    lxw_format* date_ = nullptr;
    lxw_format* dateTime_ = nullptr;
};

void removeOldSheets(const QString& folder)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo& file : QDir(folder).entryInfoList({QStringLiteral("*.xlsx")}, QDir::Files)) {
        if (file.lastModified().secsTo(now) > kSheetKeepSeconds)
            QFile::remove(file.absoluteFilePath());
    }
}

QString newSheetPath(const QString& folder, const QDateTime& now)
{
    const QString stem = QDir(folder).filePath(QStringLiteral("ｴｸｽﾎﾟｰﾄ ") + now.toString(u"yyyy-MM-dd hhmmss"));
    QString path = stem + QStringLiteral(".xlsx");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral(" (%1).xlsx").arg(n);
    return path;
}

QString shortenedMessage(const QList<qint64>& ids)
{
    QStringList numbers;
    for (qint64 id : ids.mid(0, 10))
        numbers << QString::number(id);
    if (ids.size() > 10)
        numbers << QStringLiteral("…");
    return QStringLiteral("内容が長すぎて表計算のセルに入りきらないデータがあります（id: %1）。\r"
                          "先頭から%2文字までを書き出しました。全文は「CSV形式でｴｸｽﾎﾟｰﾄ」で書き出せます。")
        .arg(numbers.join(QStringLiteral(", ")))
        .arg(kCellCharacters);
}

// The desktop had no program for the workbook: says where it is and
// offers to save a copy where the user keeps files.
void offerWorkbook(QMainWindow& window, CommandWindow& w, const QString& path)
{
    shell::AppState& st = w.state();
    const QString where = QStringLiteral("表計算ソフトでブックを開けませんでした。\r"
                                         "ブックは次の場所に書き出してあります。\r%1\r\r別の場所に保存しますか？")
                              .arg(QDir::toNativeSeparators(path));
    if (st.prompts().message(&window, where, Msg::YesNo + Msg::Exclamation) != Msg::Yes)
        return;
    const std::optional<ExportTarget> target = chooseExportTarget(window, st, QStringLiteral("xlsx"));
    if (!target)
        return;
    const QString side = QDir(target->folder).filePath(sideName(target->folder));
    // The copy is the user's, to change: not read-only like the one here.
    const bool copied = QFile::copy(path, side)
                        && QFile::setPermissions(side, QFile::permissions(side) | QFileDevice::WriteOwner)
                        && replaceFile(side, target->path);
    if (!copied) {
        QFile::remove(side);
        const bool full = QStorageInfo(target->folder).bytesAvailable() < QFileInfo(path).size();
        reportExportFailure(window, w,
                            failureReason(store::StoreError(full ? store::ErrorKind::DiskFull : store::ErrorKind::Io,
                                                            side),
                                          target->path));
        return;
    }
    reportExportDone(window, w, target->fileName);
}

// Writes the workbook of `ids` and hands it to the spreadsheet program.
void writeAndOpen(QMainWindow& window, CommandWindow& w, const QList<qint64>& ids)
{
    if (!xlsx()) {
        reportExportFailure(window, w, kNoSheetLibrary);
        return;
    }
    shell::AppState& st = w.state();
    const QString folder = sheetFolder();
    const QString path = newSheetPath(folder, st.clock().now());
    QString failure;
    bool cancelled = false;
    QList<qint64> shortened;
    {
        BusyPointer busy;
        const std::unique_ptr<shell::Progress> progress = exportProgress(window, w, ids.size());
        try {
            store::Database* db = w.database();
            if (!db)
                throw store::StoreError(store::ErrorKind::FileNotFound, st.DatabasePath);
            if (!QDir().mkpath(folder))
                throw store::StoreError(store::ErrorKind::ReadOnly, folder);
            removeOldSheets(folder);
            std::function<bool(qint64)> advance;
            if (progress)
                advance = [&](qint64 notes) { return progress->advance(notes); };
            writeNoteSheet(*db, noteSheetColumns(), ids, path, advance, &shortened);
        } catch (const store::StoreError& e) {
            cancelled = e.kind() == store::ErrorKind::Cancelled;
            failure = failureReason(e, path);
        }
    }
    if (cancelled) {
        st.prompts().message(&window, kExportCancelled, Msg::Information);
        return;
    }
    if (!failure.isEmpty()) {
        reportExportFailure(window, w, failure);
        return;
    }
    // The user saves a changed sheet elsewhere; this copy goes away.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!shortened.isEmpty())
        st.prompts().message(&window, shortenedMessage(shortened), Msg::Exclamation);
    const QPointer<QMainWindow> from(&window);
    auto cannotOpen = [from, path] {
        if (CommandWindow* still = from ? records::commandWindow(*from) : nullptr)
            offerWorkbook(*from, *still, path);
    };
    if (!st.desktop().openDocument(path, cannotOpen))
        cannotOpen();
}

void moveFirst(const CommandWindow& w)
{
    if (QAction* first = w.action(QStringLiteral("mnuMoveFirst")))
        first->trigger();
}

} // namespace

const QList<SheetColumn>& noteSheetColumns()
{
    static const QList<SheetColumn> columns{{QStringLiteral("id"), QStringLiteral("id")},
                                            {QStringLiteral("title"), QStringLiteral("タイトル")},
                                            {QStringLiteral("naiyo"), QStringLiteral("内容")},
                                            {QStringLiteral("bunid"), QStringLiteral("分類id")},
                                            {QStringLiteral("bunrui"), QStringLiteral("分類名")}};
    return columns;
}

QString sheetFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).filePath(QStringLiteral("exports"));
}

void writeNoteSheet(store::Database& db, const QList<SheetColumn>& columns, const QList<qint64>& ids,
                    const QString& path, const std::function<bool(qint64)>& progress, QList<qint64>* shortened)
{
    Workbook book(path);
    if (!ids.isEmpty()) {
        for (qsizetype c = 0; c < columns.size(); ++c)
            book.write(0, lxw_col_t(c), columns.at(c).header);
    }
    QStringList fields;
    for (const SheetColumn& column : columns)
        fields << column.field;
    lxw_row_t row = 0;
    store::readNotes(db, fields, ids, [&](qint64 id, const QVariantList& values) {
        ++row;
        bool whole = true;
        for (qsizetype c = 0; c < values.size(); ++c)
            whole = book.write(row, lxw_col_t(c), values.at(c)) && whole;
        if (!whole && shortened)
            shortened->append(id);
        if (row % kProgressEvery == 0 && progress && !progress(row))
            throw store::StoreError(store::ErrorKind::Cancelled, path);
        return true;
    });
    book.close();
}

void SheetExport(QMainWindow& window)
{
    CommandWindow* w = records::commandWindow(window);
    if (!w)
        return;
    shell::AppState& st = w->state();
    QList<qint64> ids;
    if (w->windowKind() == shell::WindowKind::Grid) {
        if (st.prompts().message(&window,
                                 QStringLiteral("この処理は遅いですが、処理を行ってもいいですか？\r"
                                                "データ数が多い場合は、「CSV形式でｴｸｽﾎﾟｰﾄ」をしましょう！"),
                                 Msg::YesNo + Msg::DefaultButton2, QStringLiteral("確認"))
            != Msg::Yes) {
            st.prompts().message(&window, kExportCancelled, Msg::Information);
            return;
        }
        moveFirst(*w);
        // An empty view gives an empty sheet, without a message.
        const auto shown = readShownNotes(window, *w);
        if (!shown)
            return;
        ids = *shown;
    } else {
        const auto shown = readShownNotes(window, *w);
        if (!shown)
            return;
        ids = *shown;
        if (ids.isEmpty()) {
            st.prompts().message(&window, QStringLiteral("データ数が０件です。処理を中止します。"), Msg::Information);
            return;
        }
        moveFirst(*w);
    }
    writeAndOpen(window, *w, ids);
    moveFirst(*w);
}

} // namespace zumilo::exporting

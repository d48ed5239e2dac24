// Timings of the store on a large synthetic database.
//
//   zumilo_bench [--notes N] [--categories C] [--db PATH] [--only NAME[,NAME]]
//                [--runs R] [--list]

#include "datagen.h"
#include "postings.h"

#include "export/sheetexport.h"
#include "grid/datacontrol.h"
#include "shell/recordsetmodel.h"
#include "grid/gridview.h"
#include "grid/gridwindow.h"

#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/desktop.h"
#include "shell/draftjournal.h"
#include "shell/fonts.h"
#include "main/mainwindow.h"
#include "print/linebreaker.h"
#include "print/noteprinter.h"
#include "print/pdfwriter.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/error.h"
#include "store/filestate.h"
#include "store/jetlike.h"
#include "store/jetsql.h"
#include "store/query.h"
#include "store/recordset.h"
#include "tree/categorytree.h"

#include <QApplication>
#include <QLabel>
#include <QPrinter>
#include <QTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidgetItemIterator>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

struct Dataset {
    QString path;
    bench::DatasetInfo info;
};

struct Sample {
    double ms = 0;
    std::optional<double> peakMb; // growth of the resident set during the timed part
    qint64 rows = -1;
    std::optional<double> rawMs; // the same search by the engine alone, in the same run
    qint64 rawRows = -1;
    // Processor time and pages first touched (minor faults) of the timed
    // thread, which other programs' load changes far less than the clock.
    double cpuMs = 0;
    long faults = 0;
    double rawCpuMs = 0;
    long rawFaults = 0;
};

// --- memory -----------------------------------------------------------------

// A field of /proc/self/status in kB, or -1.
long statusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Lets VmHWM start again from the current resident size, so that each run
// sees its own peak rather than the largest one so far.
bool resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// Times `work` and records how far the resident set peaked above where it
// started. Setup that should not count belongs outside.
template <class F>
Sample measure(F&& work)
{
    const bool peakReset = resetPeak();
    const long before = statusKb("VmRSS");
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const long faults = usage.ru_minflt;
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    const double cpuBefore = double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) / 1e6;
    QElapsedTimer timer;
    timer.start();
    const qint64 rows = work();
    Sample s;
    s.ms = double(timer.nsecsElapsed()) / 1e6;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    s.cpuMs = double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) / 1e6 - cpuBefore;
    getrusage(RUSAGE_THREAD, &usage);
    s.faults = usage.ru_minflt - faults;
    s.rows = rows;
    const long peak = statusKb(peakReset ? "VmHWM" : "VmRSS");
    if (before >= 0 && peak >= 0)
        s.peakMb = double(std::max(0L, peak - before)) / 1024.0;
    return s;
}

// --- measurements -------------------------------------------------------------

const QString kAllByTitle = QStringLiteral("select * from T_idea  order by title ");

Sample openAll(const Dataset& d)
{
    std::shared_ptr<store::Database> db;
    std::unique_ptr<store::Recordset> rs;
    return measure([&] {
        db = store::Database::open(d.path);
        rs = db->openRecordset(kAllByTitle);
        rs->moveLast();
        rs->moveFirst();
        return qint64(rs->recordCount());
    });
}

Sample openCategory(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    std::unique_ptr<store::Recordset> rs;
    const QString sql = QStringLiteral("select * from T_idea where bunid=%1 order by title ").arg(d.info.bigCategoryId);
    return measure([&] {
        rs = db->openRecordset(sql);
        return qint64(rs->recordCount());
    });
}

Sample likeBody(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    std::unique_ptr<store::Recordset> rs;
    const QString sql = QStringLiteral(
        "select title,naiyo,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,sinkidate,kanryoCK,kanryodate,"
        "bunID,oyaID,id  from [T_idea]    where  title like '*' and  naiyo like '*会議*' ");
    return measure([&] {
        rs = db->openRecordset(sql);
        return qint64(rs->recordCount());
    });
}

// --- searches, beside the engine's own LIKE -------------------------------------

// Rows of `sql` on a plain connection of the engine: its own LIKE, none of
// our functions or layers.
qint64 rawRows(sqlite3* db, const QByteArray& sql)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
    qint64 rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
        ++rows;
    sqlite3_finalize(st);
    return rows;
}

// The statements `sql` (rows of the last counted) timed on a plain
// connection to the file: no functions and no layers of ours.
Sample onEngine(const Dataset& d, const QByteArray& sql, bool write = false)
{
    sqlite3* plain = nullptr;
    sqlite3_open_v2(QFile::encodeName(d.path).constData(), &plain, write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY,
                    nullptr);
    const QList<QByteArray> statements = sql.split(';');
    const Sample engine = measure([&] {
        qint64 rows = 0;
        for (const QByteArray& one : statements) {
            if (const qint64 n = rawRows(plain, one); n > 0)
                rows = n;
        }
        return rows;
    });
    sqlite3_close(plain);
    return engine;
}

Sample besideEngine(Sample ours, const Sample& engine)
{
    ours.rawMs = engine.ms;
    ours.rawRows = engine.rows;
    ours.rawCpuMs = engine.cpuMs;
    ours.rawFaults = engine.faults;
    return ours;
}

// A search as the windows run it, timed beside the engine's LIKE on the
// same file: the grid's statement over the notes, or the category search
// window's over the categories (ordered by name).
Sample search(const Dataset& d, const QString& column, const QString& word, bool categories = false)
{
    store::detail::Query query;
    if (categories) {
        query = store::detail::query(store::CategoryView{
            {}, word, store::CategoryView::Order::ByName, {QStringLiteral("bunrui"), QStringLiteral("bunid")}});
    } else {
        query.table = QStringLiteral("T_idea");
        query.fields = QStringLiteral("title,naiyo,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,sinkidate,kanryoCK,"
                                      "kanryodate,bunID,oyaID,id")
                           .split(QLatin1Char(','));
        query.conditions.push_back(store::detail::contains(column, word));
    }
    const QByteArray raw = QStringLiteral("SELECT rowid FROM %1 WHERE %2 LIKE '%%3%'%4")
                               .arg(categories ? QStringLiteral("T_bunrui") : QStringLiteral("T_idea"), column, word,
                                    categories ? QStringLiteral(" ORDER BY bunrui") : QString())
                               .toUtf8();
    const Sample engine = onEngine(d, raw);
    auto db = store::Database::open(d.path);
    std::unique_ptr<store::Recordset> rs;
    return besideEngine(measure([&] {
                            rs = db->openRecordset(query, store::RecordsetType::Default);
                            return qint64(rs->recordCount());
                        }),
                        engine);
}

Sample indexRebuild(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    return measure([&] {
        db->rebuildSearchIndex();
        return db->scalar(QStringLiteral("select count(*) from T_idea")).toLongLong();
    });
}

// A word of 10,000 characters that almost matches everywhere in a body of
// 1 MB: a search that steps back in the text takes seconds.
Sample likeLongWord(const Dataset&)
{
    const QString body(1 << 20, QLatin1Char('a'));
    const QString word = QString(9999, QLatin1Char('a')) + QLatin1Char('b');
    return measure([&] { return qint64(store::jetLikeMatch(QLatin1Char('*') + word + QLatin1Char('*'), body)); });
}

Sample scrollAll(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    auto rs = db->openRecordset(kAllByTitle);
    qint64 chars = 0;
    Sample s = measure([&] {
        qint64 rows = 0;
        for (rs->moveFirst(); !rs->isEOF(); rs->moveNext()) {
            chars += rs->value(QStringLiteral("title")).toString().size();
            ++rows;
        }
        return rows;
    });
    // Also keeps the reads from being optimised away.
    if (s.rows > 1 && chars == 0)
        throw std::runtime_error("every title read back empty");
    return s;
}

// --- export ---------------------------------------------------------------------

// The five columns of the CSV and spreadsheet exports, all notes by id.
const QString kExportColumns = QStringLiteral("id,title,naiyo,bunid,bunrui");

Sample csvExport(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    QTemporaryDir dir;
    const QString sql = QStringLiteral("select %1 into %2 from  [T_idea]   order by id  ")
                            .arg(kExportColumns, store::textTarget(dir.path(), QStringLiteral("all.csv")));
    const qint64 rows = db->scalar(QStringLiteral("select count(*) from T_idea")).toLongLong();
    return measure([&] {
        db->execute(sql, store::FailOnError);
        return rows;
    });
}

// The same rows by the engine's own shell, for comparison.
Sample csvSqliteShell(const Dataset& d)
{
    QTemporaryDir dir;
    QProcess shell;
    shell.setStandardOutputFile(dir.filePath(QStringLiteral("all.csv")));
    Sample s = measure([&] {
        shell.start(QStringLiteral("sqlite3"),
                    {QStringLiteral("-csv"), QStringLiteral("-header"), QStringLiteral("-readonly"), d.path,
                     QStringLiteral("select %1 from T_idea order by id").arg(kExportColumns)});
        if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
            throw std::runtime_error("sqlite3 failed: " + shell.readAllStandardError().toStdString());
        return qint64(-1);
    });
    s.rows = d.info.notes;
    return s;
}

Sample xlsxExport(const Dataset& d)
{
    auto db = store::Database::open(d.path);
    QTemporaryDir dir;
    QList<qint64> ids;
    for (qint64 id = 1; ids.size() < 10000 && id <= d.info.notes + 1; ++id)
        ids << id;
    return measure([&] {
        exporting::writeNoteSheet(*db, exporting::noteSheetColumns(), ids, dir.filePath(QStringLiteral("notes.xlsx")));
        return qint64(ids.size());
    });
}

// --- the main window ------------------------------------------------------------

// Prompts that must not appear while measuring.
class NoPrompts : public shell::Prompts {
public:
    int message(QWidget*, const QString& text, int, const QString&) override { fail(text); }
    std::optional<QString> input(QWidget*, const QString& p, const QString&, const QString&) override { fail(p); }
    std::optional<int> choose(QWidget*, const QString& p, const QStringList&, const QString&) override { fail(p); }
    std::optional<QList<bool>> chooseEach(QWidget*, const QString& p, const QStringList&, const QString&,
                                          const QString&, const QString&) override
    {
        fail(p);
    }
    std::optional<QString> openFile(QWidget*, const QString&, const QString&) override { fail(QStringLiteral("open")); }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&) override { fail(QStringLiteral("save")); }
    std::optional<QFont> font(QWidget*, const QFont&) override { fail(QStringLiteral("font")); }
    bool printerSetup(QWidget*, QPrinter*) override { fail(QStringLiteral("printer")); }
    bool printPreview(QWidget*, QPrinter*, const std::function<void(QPrinter*)>&) override
    {
        fail(QStringLiteral("preview"));
    }
    int dialog(QDialog&) override { fail(QStringLiteral("dialog")); }
    std::unique_ptr<shell::Progress> progress(QWidget*, const QString& label, qint64, bool) override { fail(label); }

private:
    [[noreturn]] static void fail(const QString& what)
    {
        throw std::runtime_error("unexpected prompt: " + what.toStdString());
    }
};

// The benchmarks open and start nothing.
struct NoDesktop : shell::Desktop {
    bool open(const QString&) override { return false; }
    bool start(const QString&, const QStringList&) override { return false; }
    bool openDocument(const QString&, const std::function<void()>&) override { return false; }
};

// Settings and services of their own, on the dataset, with the stored font
// names mapped onto real faces as the program does at start-up.
struct BenchApp {
    QTemporaryDir dir;
    NoPrompts prompts;
    shell::SystemClock clock;
    NoDesktop desktop;
    std::unique_ptr<shell::SettingsStore> settings;
    std::unique_ptr<shell::AppState> state;

    explicit BenchApp(const QString& path)
    {
        static const bool fonts = (shell::installJapaneseFonts(), true);
        Q_UNUSED(fonts);
        settings = shell::SettingsStore::atFile(dir.filePath(QStringLiteral("zumilo.ini")));
        settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), path);
        state = std::make_unique<shell::AppState>(shell::Services{&prompts, &clock, &desktop, settings.get(), nullptr});
        state->ProgramFolder = dir.path();
        state->DatabasePath = path;
    }
};

// A main window on the dataset. The window checks the search index after
// each open, seconds of a processor on a large file, which a user meets
// once: the window's own measurements are of a window at rest, as the
// engine's are, and so the check does not begin.
struct Window : BenchApp {
    explicit Window(const QString& path) : BenchApp(path), quiet(store::detail::identify(path).path) {}
    store::detail::WriteComing quiet;
    std::unique_ptr<app::MainWindow> window;

    void load()
    {
        window = std::make_unique<app::MainWindow>(*state);
        window->Form_Load();
        window->show();
        QCoreApplication::processEvents();
        // A widget's first grab sends the resize events its window keeps
        // for hidden widgets (the menus measure every entry then), which
        // painting a shown window never needs: sent here, outside the
        // timed parts.
        paintList();
    }
    void chooseCategory(int id)
    {
        state->CurrentBunID = QString::number(id);
        window->RefreshRecordList();
    }
    // The list reads the rows it shows when painted.
    void paintList() const { window->recordList()->grab(); }
};

Sample startup(const Dataset& d)
{
    Window w(d.path);
    return measure([&] {
        w.load();
        return qint64(w.window->listRecordset() ? w.window->listRecordset()->recordCount() : 0);
    });
}

// What the main list shows of a category, by title, read whole by the engine.
QByteArray rawCategoryList(const Dataset& d)
{
    return QStringLiteral("SELECT id, title, kijitudate, kousindate, kousintime, sinkidate FROM T_idea "
                          "WHERE bunID = %1 ORDER BY title, id")
        .arg(d.info.bigCategoryId)
        .toUtf8();
}

Sample refreshCategory(const Dataset& d)
{
    const Sample engine = onEngine(d, rawCategoryList(d));
    Window w(d.path);
    w.load();
    return besideEngine(measure([&] {
                            w.chooseCategory(d.info.bigCategoryId);
                            w.paintList();
                            return qint64(w.window->listRecordset()->recordCount());
                        }),
                        engine);
}

Sample saveNote(const Dataset& d)
{
    Window w(d.path);
    w.load();
    w.chooseCategory(d.info.bigCategoryId);
    records::RecordEditor& editor = *w.window->editor();
    const QString title = editor.text(0);
    editor.setText(0, title.endsWith(QLatin1Char('+')) ? title.chopped(1) : title + QLatin1Char('+'));
    const qint64 id = w.window->listRecordset()->value(QStringLiteral("id")).toLongLong();
    const Sample ours = measure([&] {
        w.window->mnuUpdate_Click();
        w.paintList();
        return qint64(w.window->listRecordset()->recordCount());
    });
    w.window.reset();
    // Rolled back: a change committed by another program would have the
    // next open rebuild the search index.
    return besideEngine(
        ours, onEngine(d,
                       QStringLiteral("BEGIN;UPDATE T_idea SET kousinTime = kousinTime WHERE id = %1;").arg(id).toUtf8()
                           + rawCategoryList(d) + ";ROLLBACK",
                       true));
}

qint64 treeCount(const Window& w)
{
    qint64 n = 0;
    QTreeWidgetItemIterator it(w.window->categoryTree());
    while (*it) {
        ++n;
        ++it;
    }
    return n;
}

// Loading a tree of C categories; run at 1,000 and 10,000 to see growth.
Sample treeLoad(const QString& path)
{
    Window w(path);
    w.load();
    return measure([&] {
        w.window->LoadCategoryTree();
        return treeCount(w);
    });
}

Sample treeLoad1k(const Dataset& d)
{
    return treeLoad(d.path);
}

Sample treeLoad10k(const Dataset&)
{
    static const QString path = [] {
        const QString p = QDir::temp().filePath(
            QStringLiteral("zumilo_bench_v%1_tree_10000.zmd").arg(bench::kGeneratorVersion));
        if (!QFileInfo::exists(p))
            bench::generateDatabase(p, 1000, 10000);
        return p;
    }();
    return treeLoad(path);
}

// --- the grid window ---------------------------------------------------------------

// A grid window on the dataset, loaded on the important view.
struct GridBench : BenchApp {
    using BenchApp::BenchApp;
    std::unique_ptr<grid::GridWindow> window;

    void show(const QString& tab)
    {
        state->CurrentTab = tab;
        window = std::make_unique<grid::GridWindow>(*state, grid::GridLinks{});
        window->showInPlaceOf(QRect(0, 0, 1200, 800));
        paint();
    }
    // Paints the grid now, reading the rows it shows.
    void paint() const { window->grid()->grab(); }
    qint64 rows() const { return window->data()->recordCount(); }
};

// The whole program's resident set (not a growth) with the main window
// listing the largest category and the grid showing every note, both
// painted; in `rows`, kB.
Sample resident(const Dataset& d)
{
    Window w(d.path);
    GridBench g(d.path);
    return measure([&] {
        w.load();
        w.chooseCategory(d.info.bigCategoryId);
        w.paintList();
        g.show(QStringLiteral("FindTab"));
        return qint64(statusKb("VmRSS"));
    });
}

Sample gridSearchAll(const Dataset& d)
{
    GridBench g(d.path);
    g.show(QStringLiteral("JyuyoTab"));
    return measure([&] {
        g.window->TabStrip1_Click(1); // FindTab: every note
        g.paint();
        return g.rows();
    });
}

// A view tab of the grid (2 重要, 3 予定, 4 最近) chosen, first rows
// painted, beside choosing the search view of every note in the same run.
Sample gridTab(const Dataset& d, int tab)
{
    GridBench g(d.path);
    g.show(QStringLiteral("BunTab"));
    auto choose = [&](int index) {
        return measure([&] {
            g.window->TabStrip1_Click(index);
            g.paint();
            return g.rows();
        });
    };
    const Sample all = choose(1);
    g.window->TabStrip1_Click(0);
    return besideEngine(choose(tab), all);
}

Sample gridOpen(const Dataset& d)
{
    // The engine lists the number of every note in order.
    const Sample engine = onEngine(d, "SELECT id FROM T_idea ORDER BY id");
    GridBench g(d.path);
    return besideEngine(measure([&] {
                            g.show(QStringLiteral("FindTab"));
                            return g.rows();
                        }),
                        engine);
}

Sample gridSortTitle(const Dataset& d)
{
    GridBench g(d.path);
    g.show(QStringLiteral("FindTab"));
    const int title = g.window->data()->model()->columnOf(QStringLiteral("title"));
    return measure([&] {
        g.window->DBGrid1_HeadClick(title);
        g.paint();
        return g.rows();
    });
}

Sample gridScroll(const Dataset& d)
{
    GridBench g(d.path);
    g.show(QStringLiteral("FindTab"));
    QScrollBar* bar = g.window->grid()->verticalScrollBar();
    constexpr int kPages = 500;
    return measure([&] {
        qint64 shown = 0;
        for (int i = 1; i <= kPages; ++i) {
            bar->setValue(int(qint64(bar->maximum()) * i / kPages));
            g.paint();
            shown += g.window->grid()->rowAt(g.window->grid()->viewport()->height() - 1) - g.window->grid()->rowAt(0)
                     + 1;
        }
        return shown;
    });
}

Sample gridSearchBody(const Dataset& d)
{
    GridBench g(d.path);
    g.show(QStringLiteral("FindTab"));
    return measure([&] {
        g.window->searchBox(1)->setText(QStringLiteral("会議"));
        g.window->cmdRCFind_Click(0);
        g.paint();
        return g.rows();
    });
}

// --- printing -------------------------------------------------------------------

// A PDF printer set up as the print command sets it up with the default
// options, and a note of 1 MB in long lines of mixed full and half width.
struct PrintBench {
    QTemporaryDir dir;
    QPrinter printer{QPrinter::HighResolution};
    print::PrintOptions options;

    PrintBench()
    {
        static const bool fonts = (shell::installJapaneseFonts(), true);
        Q_UNUSED(fonts);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("note.pdf")));
        options = print::readPrintOptions(*shell::SettingsStore::atFile(dir.filePath(QStringLiteral("z.ini")))).options;
        const QString problem = print::PrintSetup(printer, options);
        if (!problem.isEmpty())
            throw std::runtime_error(problem.toStdString());
    }
    static const QString& note()
    {
        static const QString text = bench::generateLongNote(1024 * 1024);
        return text;
    }
    static QStringList lines(qsizetype characters) { return note().left(characters).split(QLatin1Char('\n')); }
    QFontMetricsF metrics() const { return QFontMetricsF(print::printFont(options), &printer); }
    qreal width() const
    {
        const print::PrintArea area(printer, options);
        return area.width * area.scale;
    }
};

// How the pieces were first cut: a run grown one character at a time, each
// step measured whole.
qint64 growingRuns(const QString& line, const QFontMetricsF& metrics, qreal width)
{
    qint64 pieces = 0;
    for (qsizetype start = 0; start < line.size(); ++pieces) {
        qsizetype n = 1;
        while (start + n < line.size() && metrics.horizontalAdvance(line.mid(start, n + 1)) < width)
            ++n;
        start += n;
    }
    return pieces;
}

Sample printLayout(qsizetype characters, bool growing)
{
    PrintBench b;
    const QStringList lines = PrintBench::lines(characters);
    const QFontMetricsF metrics = b.metrics();
    const qreal width = b.width();
    return measure([&] {
        qint64 pieces = 0;
        print::LineBreaker breaker(metrics, width);
        for (const QString& line : lines)
            pieces += growing ? growingRuns(line, metrics, width) : breaker.pieces(line).size();
        return pieces;
    });
}

Sample printPdf(const Dataset&)
{
    PrintBench b;
    const print::NoteContent note{QStringLiteral("会議"), QStringLiteral("2026/12/01"), QStringLiteral("09:15:00"),
                                  QStringLiteral("長いメモ"), PrintBench::note()};
    Sample s = measure([&] {
        return qint64(print::writePdf(b.printer.outputFileName(), b.printer, b.options, note)
                      == print::PdfResult::Written);
    });
    s.rows = QFileInfo(b.printer.outputFileName()).size() / 1024;
    return s;
}

constexpr qsizetype kPrintSample = 20000; // characters, about 55 KB

// --- opening and backups ------------------------------------------------------------

// A copy of the dataset, so that each run opens a file this run has not seen.
struct FreshCopy {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("copy.zmd"));
    explicit FreshCopy(const Dataset& d)
    {
        if (!QFile::copy(d.path, path))
            throw std::runtime_error("cannot copy the dataset");
    }
};

// The first save of a run, once the file's pages have passed their check
// (as when the user saves after the window shows), with or without the
// backup that starts then and copies the file meanwhile; raw: the next save.
Sample firstSave(const Dataset& d, bool backup)
{
    FreshCopy copy(d);
    store::setBackupFolder(backup ? copy.dir.filePath(QStringLiteral("backups")) : QString());
    auto db = store::Database::open(copy.path);
    store::Database::passPageCheck(copy.path);
    auto save = [&] {
        return measure([&] {
            db->execute(QStringLiteral("update T_idea set title = title where id = 1"));
            return qint64(db->changes());
        });
    };
    const Sample first = save();
    const Sample later = save();
    db.reset();
    store::finishBackups();
    store::setBackupFolder({});
    return besideEngine(first, later);
}

// A copy whose index must be built afresh (its change log no longer
// whole, as after an older build of the program changed it).
struct NeedingABuild : FreshCopy {
    explicit NeedingABuild(const Dataset& d) : FreshCopy(d)
    {
        sqlite3* plain = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &plain);
        const int rc = sqlite3_exec(plain, "DROP TRIGGER zumilo_log_t_idea_delete", nullptr, nullptr, nullptr);
        sqlite3_close(plain);
        if (rc != SQLITE_OK)
            throw std::runtime_error("cannot drop the change log's trigger");
    }
};

Sample openOnce(const QString& path)
{
    return measure([&] {
        store::Database::open(path)->close();
        return qint64(1);
    });
}

// The open of a file whose index must be built afresh, which indexes a
// first part itself (raw: the open of a copy in step).
Sample openToBuild(const Dataset& d)
{
    store::setBackupFolder({});
    const Sample inStep = openOnce(FreshCopy(d).path);
    return besideEngine(openOnce(NeedingABuild(d).path), inStep);
}

// Saves made every tenth of a second during the first ten seconds of a
// build in the background: the longest wait (rows: the saves, all made);
// raw: a save of a copy in step.
Sample saveDuringBuild(const Dataset& d)
{
    store::setBackupFolder({});
    const auto save = [](store::Database& db) {
        return measure([&] {
            db.execute(QStringLiteral("update T_idea set title = title where id = 1"));
            return qint64(db.changes());
        });
    };
    Sample atRest;
    {
        FreshCopy copy(d);
        auto db = store::Database::open(copy.path);
        store::Database::passPageCheck(copy.path);
        save(*db);
        atRest = save(*db);
    }
    NeedingABuild copy(d);
    auto db = store::Database::open(copy.path);
    store::Database::passPageCheck(copy.path);
    Sample longest;
    longest.rows = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && db->searchIndexBuilding()) {
        longest.ms = std::max(longest.ms, save(*db).ms);
        ++longest.rows;
        QThread::msleep(100);
    }
    return besideEngine(longest, atRest);
}

// Opening a file the run has not opened before; its pages are checked
// later, once the window shows.
Sample openFirst(const Dataset& d)
{
    FreshCopy copy(d);
    store::setBackupFolder({});
    return measure([&] {
        store::Database::open(copy.path)->close();
        return qint64(1);
    });
}

// A save made at once after opening a file new to the run: it waits for the
// check of the file's pages.
Sample saveAtOnce(const Dataset& d)
{
    FreshCopy copy(d);
    store::setBackupFolder({});
    return measure([&] {
        auto db = store::Database::open(copy.path);
        db->execute(QStringLiteral("update T_idea set title = title where id = 1"));
        return qint64(db->changes());
    });
}

// Opening the file after a plain connection of the engine (any other
// program) changed the bodies of `notes` notes, beside opening it
// unchanged in the same run. The change is made before the timed part.
Sample openChanged(const Dataset& d, int notes)
{
    store::setBackupFolder({});
    auto openOnce = [&] {
        return measure([&] {
            store::Database::open(d.path)->close();
            return qint64(notes);
        });
    };
    const Sample unchanged = openOnce();
    onEngine(d,
             QStringLiteral(
                 "WITH RECURSIVE k(id) AS (SELECT %1 UNION ALL SELECT id + %1 FROM k LIMIT %2) "
                 "UPDATE T_idea SET naiyo = CASE WHEN naiyo LIKE '%+' THEN substr(naiyo, 1, length(naiyo) - 1) "
                 "ELSE naiyo || '+' END WHERE id IN k")
                 .arg(d.info.notes / notes)
                 .arg(notes)
                 .toUtf8(),
             true);
    return besideEngine(openOnce(), unchanged);
}

// Rows: the backup's size in MB.
Sample backupDone(const Dataset& d)
{
    FreshCopy copy(d);
    store::setBackupFolder(copy.dir.filePath(QStringLiteral("backups")));
    const Sample s = measure([&] {
        store::Database::open(copy.path);
        store::Database::passPageCheck(copy.path);
        store::finishBackups();
        const auto list = store::listBackups(copy.path);
        return list.empty() ? qint64(0) : list.front().size >> 20;
    });
    store::setBackupFolder({});
    return s;
}

// Starts a program offscreen until it says its first window is shown: the
// time from its start to that word (its end is not timed).
Sample startProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProgram(program);
    p.setArguments(arguments);
    const Sample s = measure([&] {
        p.start();
        QByteArray out;
        while (!out.contains("shown") && p.waitForReadyRead(300000))
            out += p.readAllStandardOutput();
        if (!out.contains("shown"))
            throw std::runtime_error("no window shown by " + program.toStdString());
        return qint64(1);
    });
    p.waitForFinished(300000);
    return s;
}

// The program started on the file until its main window shows; raw: a
// bare Qt window with one Japanese label, started the same way.
Sample launch(const Dataset& d)
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ZUMILO_EXIT_AFTER_SHOW"), QStringLiteral("1"));
    for (const char* place : {"CONFIG", "DATA", "CACHE"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(place)), home.filePath(QLatin1String(place)));
    {
        auto settings = shell::SettingsStore::atFile(home.filePath(QStringLiteral("CONFIG/zumilo/zumilo.ini")));
        settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), d.path);
        settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QFileInfo(d.path).fileName());
    }
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../zumilo"));
    const Sample bare = startProgram(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-window")}, env);
    return besideEngine(startProgram(program, {}, env), bare);
}

int bareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("日本語のメモ"));
    label.show();
    QTimer::singleShot(0, &app, [] {
        std::puts("shown");
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}

// One draft of a note with a 2,000-character body handed to the journal
// (what the editor waits for) or on disk (written, flushed, renamed, its
// folder flushed), in the folder the settings live in.
Sample draftWrite(bool toDisk)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QDir().mkpath(config);
    QTemporaryDir dir(QDir(config).filePath(QStringLiteral("zumilo-bench-XXXXXX")));
    shell::DraftJournal journal(dir.path());
    shell::Draft draft;
    draft.slot = QStringLiteral("main");
    draft.databasePath = QStringLiteral("/home/user/メモ.zmd");
    draft.noteId = 4711;
    draft.savedAt = QDateTime::currentDateTime();
    draft.texts[0] = QStringLiteral("会議の打ち合わせ");
    draft.texts[1] = QString(2000, QChar(0x4F1A));
    journal.write(draft); // the file is replaced, as after the first pause
    journal.flush();
    Sample s = measure([&] {
        journal.write(draft);
        if (toDisk)
            journal.flush();
        return qint64(1);
    });
    journal.finish();
    return s;
}

// --- a positional index of our own, beside the engine's ----------------------------

// Pages of the tables whose names begin with `prefix` (or their bytes
// counted in `field` of dbstat), in MB.
double tablesMb(sqlite3* db, const QString& prefix, const char* field = "pgsize")
{
    sqlite3_stmt* st = nullptr;
    double mb = 0;
    const QByteArray sql = QByteArray("SELECT sum(") + field + ") FROM dbstat WHERE substr(name, 1, length(?1)) = ?1";
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
        const QByteArray p = prefix.toUtf8();
        sqlite3_bind_text(st, 1, p.constData(), int(p.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW)
            mb = sqlite3_column_double(st, 0) / (1024.0 * 1024.0);
    }
    sqlite3_finalize(st);
    return mb;
}

// Pages of the search index's tables, in MB.
double indexMb(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const double mb = tablesMb(db, QStringLiteral("zumilo"));
    sqlite3_close(db);
    return mb;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void execRaw(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
}

std::u32string folded(const QString& word)
{
    const QByteArray utf8 = word.toUtf8();
    std::vector<char32_t> chars;
    const size_t n = store::foldUtf8(reinterpret_cast<const unsigned char*>(utf8.constData()), size_t(utf8.size()),
                                     chars);
    return std::u32string(chars.begin(), chars.begin() + std::ptrdiff_t(n));
}

struct IndexedColumn {
    QString column;
    QString fts; // the store's index of the column
    std::unique_ptr<bench::PostingIndex> ours;
};

// The rows the store's index finds for a folded word, as the store asks
// it: the word is its one run.
std::vector<std::int64_t> ftsRows(sqlite3* db, const QString& index, const std::u32string& word)
{
    const QByteArray sql = QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ?").arg(index).toUtf8();
    const QByteArray q = QString::fromUcs4(word.data(), qsizetype(word.size())).toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_bind_text(st, 1, q.constData(), int(q.size()), SQLITE_TRANSIENT);
    std::vector<std::int64_t> rows;
    while (sqlite3_step(st) == SQLITE_ROW)
        rows.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return rows;
}

double msOf(const std::function<void()>& work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

// `words` drawn from the texts of notes picked at random (1 to 6 folded
// characters each): both indexes must find the same rows for every one.
int compareDrawn(sqlite3* db, const IndexedColumn& c, int words, int& mismatches)
{
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT max(rowid) FROM T_idea", -1, &st, nullptr);
    const qint64 lastRow = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    const QByteArray sql = QStringLiteral("SELECT %1 FROM T_idea WHERE rowid = ?").arg(c.column).toUtf8();
    sqlite3_stmt* text = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &text, nullptr);
    std::mt19937 random(20261207);
    std::vector<char32_t> chars;
    int compared = 0;
    for (int i = 0; i < words && lastRow > 0; ++i) {
        sqlite3_bind_int64(text, 1, 1 + qint64(random() % quint64(lastRow)));
        size_t n = 0;
        if (sqlite3_step(text) == SQLITE_ROW)
            n = store::foldUtf8(sqlite3_column_text(text, 0), size_t(sqlite3_column_bytes(text, 0)), chars);
        sqlite3_reset(text);
        if (n == 0)
            continue;
        const size_t from = random() % n;
        const size_t length = std::min<size_t>(n - from, 1 + random() % 6);
        const std::u32string word(chars.begin() + std::ptrdiff_t(from), chars.begin() + std::ptrdiff_t(from + length));
        if (word.find(U'\0') != std::u32string::npos)
            continue;
        ++compared;
        if (c.ours->find(word) != ftsRows(db, c.fts, word))
            ++mismatches;
    }
    sqlite3_finalize(text);
    return compared;
}

// The named words and words drawn from the notes on both indexes; returns
// how many differed.
int compareAll(sqlite3* db, std::vector<IndexedColumn>& columns, const std::vector<std::pair<int, QString>>& words)
{
    int mismatches = 0, compared = 0;
    for (const auto& [c, word] : words) {
        ++compared;
        if (columns[size_t(c)].ours->find(folded(word)) != ftsRows(db, columns[size_t(c)].fts, folded(word)))
            ++mismatches;
    }
    for (const IndexedColumn& c : columns)
        compared += compareDrawn(db, c, 150, mismatches);
    std::printf("  rows compared with the store's index: %d words, %d differ\n", compared, mismatches);
    return mismatches;
}

// Builds the index of our own format for titles, bodies and the notes'
// category names in a copy of
// the file and sets it beside the store's: room, searches, the change of
// one note. Rows: notes indexed; the time is the build's.
Sample postingIndex(const Dataset& d)
{
    FreshCopy copy(d);
    store::setBackupFolder({});
    auto db = store::Database::open(copy.path);
    // The writes below go past the store, which would wait for the check.
    store::Database::passPageCheck(copy.path);
    sqlite3* h = db->handle();
    std::vector<IndexedColumn> columns;
    for (const char* c : {"title", "naiyo", "bunrui"}) {
        const QString name = QString::fromLatin1(c);
        columns.push_back({name, u"zumilo_idea_"_s + name,
                           std::make_unique<bench::PostingIndex>(h, u"T_idea"_s, name, u"postings_"_s + name)});
    }
    std::vector<bench::PostingIndex::BuildFigures> figures(columns.size());
    const Sample built = measure([&] {
        for (size_t i = 0; i < columns.size(); ++i)
            figures[i] = columns[i].ours->build();
        return qint64(figures[0].notes);
    });

    std::printf("  built in %.1f s\n", built.ms / 1000);
    double oursTotal = 0, ftsTotal = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        const auto& f = figures[i];
        const double ours = tablesMb(h, u"postings_"_s + columns[i].column);
        const double fts = tablesMb(h, columns[i].fts);
        oursTotal += ours;
        ftsTotal += fts;
        std::printf("  %-6s ours %7.1f MB  store's %7.1f MB  (%lld notes, %lld tokens, %lld blocks, %lld positions)\n",
                    qPrintable(columns[i].column), ours, fts, static_cast<long long>(f.notes),
                    static_cast<long long>(f.tokens), static_cast<long long>(f.blocks),
                    static_cast<long long>(f.positions));
        const QString table = u"postings_"_s + columns[i].column;
        std::printf(
            "         %lld entries; blocks %.1f MB: rows %.1f, counts %.1f, positions %.1f, block headers %.1f; "
            "unused on pages %.1f MB\n",
            static_cast<long long>(f.entries), f.dataBytes / 1048576.0, f.rowBytes / 1048576.0,
            f.countBytes / 1048576.0, f.positionBytes[0] / 1048576.0,
            (f.dataBytes - f.rowBytes - f.countBytes - f.positionBytes[0]) / 1048576.0, tablesMb(h, table, "unused"));
        for (int k = 0; k < bench::PostingIndex::kCodings; ++k)
            std::printf("         positions %7.1f MB  %4.2f bytes each  %s\n", f.positionBytes[size_t(k)] / 1048576.0,
                        f.positionBytes[size_t(k)] / double(std::max<std::int64_t>(1, f.positions)),
                        bench::PostingIndex::codingName(bench::PostingIndex::Coding(k)));
        // The same blocks under one integer key (the token's number above
        // the first row) in a rowid table, appended in key order.
        execRaw(h, "CREATE TABLE trial_rowid_key(key INTEGER PRIMARY KEY, data BLOB)");
        execRaw(h, QStringLiteral("INSERT INTO trial_rowid_key SELECT (dense_rank() OVER (ORDER BY token) << 32) | "
                                  "first_row, data FROM %1 ORDER BY token, first_row")
                       .arg(table)
                       .toUtf8()
                       .constData());
        std::printf("         the same blocks keyed by token number and first row in a rowid table: %.1f MB "
                    "(unused on pages %.1f MB)\n",
                    tablesMb(h, u"trial_rowid_key"_s), tablesMb(h, u"trial_rowid_key"_s, "unused"));
        execRaw(h, "DROP TABLE trial_rowid_key");
    }
    std::printf("  total  ours %7.1f MB  store's %7.1f MB (the store's with the category table's names: %.1f)\n",
                oursTotal, ftsTotal, tablesMb(h, u"zumilo"_s));

    const std::vector<std::pair<int, QString>> words = {{0, u"予"_s},          {0, u"予定"_s}, {0, u"打ち合わせ"_s},
                                                        {1, u"会"_s},          {1, u"会議"_s}, {1, u"打ち合わせ"_s},
                                                        {2, u"買い物リスト"_s}};
    int mismatches = compareAll(h, columns, words);
    // Interleaved, so that both see the same load; the ratio is the
    // median of each pair of runs'.
    auto searches = [&](int runs) {
        for (const auto& [c, word] : words) {
            const IndexedColumn& col = columns[size_t(c)];
            const std::u32string w = folded(word);
            std::vector<double> ours, fts, ratios;
            size_t rows = 0;
            for (int r = 0; r < runs; ++r) {
                fts.push_back(msOf([&] { rows = ftsRows(h, col.fts, w).size(); }));
                ours.push_back(msOf([&] { rows = col.ours->find(w).size(); }));
                ratios.push_back(fts.back() / std::max(ours.back(), 0.001));
            }
            std::printf("  search %-6s %-12s ours %7.2f ms  store's %7.2f ms  store/ours %5.1f  (%zu rows, medians "
                        "of %d)\n",
                        qPrintable(col.column), qPrintable(word), median(ours), median(fts), median(ratios), rows,
                        runs);
        }
    };
    searches(15);

    // A note changed: its title and a sentence inserted in the middle of
    // its body (a category name changes with its category), each index in
    // a transaction of its own, committed. The notes table itself keeps
    // the old texts, so each note is changed once.
    const size_t edited = 2;
    const QString sentence = u"明日の打ち合わせは会議室で。"_s;
    std::vector<std::pair<std::string, std::string>> texts; // before, after, per column
    auto edit = [&](qint64 row) {
        texts.clear();
        for (size_t i = 0; i < edited; ++i) {
            const QByteArray sql =
                QStringLiteral("SELECT %1 FROM T_idea WHERE rowid = %2").arg(columns[i].column).arg(row).toUtf8();
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(h, sql.constData(), -1, &st, nullptr);
            QString before;
            if (sqlite3_step(st) == SQLITE_ROW)
                before = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            const QString after = before.left(before.size() / 2) + sentence + before.mid(before.size() / 2);
            texts.emplace_back(before.toStdString(), after.toStdString());
        }
    };
    auto pagesWritten = [&] {
        int current = 0, highest = 0;
        sqlite3_db_status(h, SQLITE_DBSTATUS_CACHE_WRITE, &current, &highest, 1);
        return double(current);
    };
    // Times `work` in a transaction of its own: ms and pages written.
    auto committed = [&](const std::function<void()>& work, std::vector<double>& ms, std::vector<double>& pages) {
        pagesWritten();
        ms.push_back(msOf([&] {
            execRaw(h, "BEGIN");
            work();
            execRaw(h, "COMMIT");
        }));
        pages.push_back(pagesWritten());
    };
    auto ftsChange = [&](qint64 row) {
        for (size_t i = 0; i < edited; ++i) {
            const QByteArray sql = QStringLiteral("INSERT INTO %1(%1, rowid, %2) VALUES('delete', ?1, ?2); "
                                                  "INSERT INTO %1(rowid, %2) VALUES(?1, ?3)")
                                       .arg(columns[i].fts, columns[i].column)
                                       .toUtf8();
            const char* tail = sql.constData();
            while (tail && *tail) {
                sqlite3_stmt* st = nullptr;
                if (sqlite3_prepare_v2(h, tail, -1, &st, &tail) != SQLITE_OK)
                    throw std::runtime_error(sqlite3_errmsg(h));
                if (!st)
                    break;
                sqlite3_bind_int64(st, 1, row);
                sqlite3_bind_text(st, 2, texts[i].first.data(), int(texts[i].first.size()), SQLITE_STATIC);
                sqlite3_bind_text(st, 3, texts[i].second.data(), int(texts[i].second.size()), SQLITE_STATIC);
                const int rc = sqlite3_step(st);
                sqlite3_finalize(st);
                if (rc != SQLITE_DONE)
                    throw std::runtime_error(sqlite3_errmsg(h));
            }
        }
    };
    auto report = [](const char* what, const std::vector<double>& ms, const std::vector<double>& pages) {
        std::printf("  %s %.1f ms, %.0f pages written (medians of %zu)\n", what, median(ms), median(pages), ms.size());
    };

    const int rewritten = 15;
    std::vector<double> oursMs, ftsMs, oursPages, ftsPages;
    for (int r = 0; r < rewritten; ++r) {
        const qint64 row = qint64(d.info.notes) * (r + 1) / (rewritten + 1);
        edit(row);
        committed([&] { ftsChange(row); }, ftsMs, ftsPages);
        committed(
            [&] {
                for (size_t i = 0; i < edited; ++i)
                    columns[i].ours->replace(row, texts[i].first, texts[i].second);
            },
            oursMs, oursPages);
    }
    report("change of one note (title, body), its blocks rewritten:", oursMs, oursPages);
    report("                                     the store's index:", ftsMs, ftsPages);
    mismatches += compareAll(h, columns, words);

    // The same kind of change kept beside the blocks, for 100 other notes,
    // then written into the blocks at once.
    const int kept = 100;
    oursMs.clear(), ftsMs.clear(), oursPages.clear(), ftsPages.clear();
    for (int r = 0; r < kept; ++r) {
        const qint64 row = qint64(d.info.notes) * (r + 1) / (kept + 1) + 3;
        edit(row);
        committed([&] { ftsChange(row); }, ftsMs, ftsPages);
        committed(
            [&] {
                for (size_t i = 0; i < edited; ++i)
                    columns[i].ours->keepChange(row, texts[i].first, texts[i].second);
            },
            oursMs, oursPages);
    }
    report("change of one note kept beside the blocks:", oursMs, oursPages);
    report("                        the store's index:", ftsMs, ftsPages);
    std::printf("  with %d notes kept:\n", kept);
    searches(7);
    mismatches += compareAll(h, columns, words);
    oursMs.clear(), oursPages.clear();
    int written = 0;
    committed(
        [&] {
            for (size_t i = 0; i < edited; ++i)
                written = std::max(written, columns[i].ours->writeKeptChanges());
        },
        oursMs, oursPages);
    std::printf("  the %d kept notes written into the blocks at once: %.1f ms, %.0f pages written\n", written,
                oursMs[0], oursPages[0]);
    mismatches += compareAll(h, columns, words);
    if (mismatches)
        throw std::runtime_error("the index of our own found other rows than the engine's");
    const double rebuildMs = msOf([&] { db->rebuildSearchIndex(); });
    std::printf("  the store's index built afresh in the same copy (all its columns): %.1f s\n", rebuildMs / 1000);
    db->close();
    return built;
}

struct Measurement {
    const char* name;
    const char* what;
    std::function<Sample(const Dataset&)> run;
    bool reportMemory = true;
    int runs = 0; // 0: as many as asked for
};

const std::vector<Measurement>& measurements()
{
    static const std::vector<Measurement> list = {
        {"open_all", "open + all notes by title + moveLast/moveFirst", openAll},
        {"open_category", "notes of the largest category by title", openCategory},
        {"like_body", "search form: naiyo like '*会議*', recordCount", likeBody},
        {"scroll_all", "value(\"title\") of every row of open_all, in order", scrollAll},
        {"startup", "main window: load settings, open, tree, root list, show", startup},
        {"refresh_category", "main window: list the largest category (RefreshRecordList), list painted",
         refreshCategory},
        {"save_note", "main window: save a note of the largest category (write, requery, refill), list painted",
         saveNote},
        {"tree_1k", "main window: LoadCategoryTree, 1,000 categories", treeLoad1k},
        {"tree_10k", "main window: LoadCategoryTree, 10,000 categories", treeLoad10k},
        {"resident",
         "main window listing the largest category and grid of every note (rows: resident kB of the program)", resident,
         false, 1},
        {"grid_open", "grid window: create, load and show the search view of every note", gridOpen},
        {"grid_search_all", "grid window: search tab over every note, first rows painted", gridSearchAll},
        {"grid_jyuyo", "grid window: 重要 tab, first rows painted (raw: the search tab of every note)",
         [](auto& d) { return gridTab(d, 2); }},
        {"grid_kijitu", "grid window: 予定 tab (raw: the search tab)", [](auto& d) { return gridTab(d, 3); }},
        {"grid_saikin", "grid window: 最近 tab (raw: the search tab)", [](auto& d) { return gridTab(d, 4); }},
        {"grid_sort_title", "grid window: title header click over every note, first rows painted", gridSortTitle},
        {"grid_scroll", "grid window: 500 page positions through every note, each painted (rows shown)", gridScroll},
        {"grid_search_body", "grid window: body search for 会議, first rows painted", gridSearchBody},
        {"launch", "the program started on the file until its main window shows (raw: a bare Qt window)", launch,
         false},
        {"open_first", "open and close a file the run has not opened before", openFirst},
        {"save_at_once", "open a file first time in the run + save at once (waits for the page check)", saveAtOnce},
        {"first_save", "first save once the pages passed their check, no backup (raw: the next save)",
         [](const Dataset& d) { return firstSave(d, false); }},
        {"first_save_backup", "as first_save, while the backup started by the check copies the file",
         [](const Dataset& d) { return firstSave(d, true); }},
        {"open_changed_1", "open after another program changed one note's body (raw: the unchanged open)",
         [](auto& d) { return openChanged(d, 1); }},
        {"open_changed_100", "open after another program changed 100 notes' bodies (raw: the unchanged open)",
         [](auto& d) { return openChanged(d, 100); }},
        {"open_to_build", "open of a file whose index must be built afresh (raw: the same file in step)", openToBuild},
        {"save_during_build",
         "saves every 0.1 s in the first 10 s of a build in the background: the longest wait (raw: a save at rest)",
         saveDuringBuild, false, 1},
        {"backup_done", "open + page check + background backup copied, checked and stored (rows: its MB)", backupDone},
        {"search_title_1", "title like '*予*' (grid), beside the engine's LIKE",
         [](auto& d) { return search(d, u"title"_s, u"予"_s); }},
        {"search_title_2", "title like '*予定*'", [](auto& d) { return search(d, u"title"_s, u"予定"_s); }},
        {"search_title_5", "title like '*打ち合わせ*'", [](auto& d) { return search(d, u"title"_s, u"打ち合わせ"_s); }},
        {"search_body_1", "naiyo like '*会*'", [](auto& d) { return search(d, u"naiyo"_s, u"会"_s); }},
        {"search_body_2", "naiyo like '*会議*'", [](auto& d) { return search(d, u"naiyo"_s, u"会議"_s); }},
        {"search_body_5", "naiyo like '*打ち合わせ*'", [](auto& d) { return search(d, u"naiyo"_s, u"打ち合わせ"_s); }},
        {"search_cat_1", "note's category name: bunrui like '*会*'",
         [](auto& d) { return search(d, u"bunrui"_s, u"会"_s); }},
        {"search_cat_2", "bunrui like '*会議*'", [](auto& d) { return search(d, u"bunrui"_s, u"会議"_s); }},
        {"search_cat_6", "bunrui like '*買い物リスト*'",
         [](auto& d) { return search(d, u"bunrui"_s, u"買い物リスト"_s); }},
        {"search_names_2", "category search window: T_bunrui, bunrui like '*会議*' order by bunrui",
         [](auto& d) { return search(d, u"bunrui"_s, u"会議"_s, true); }},
        {"index_rebuild", "search index built afresh (once)", indexRebuild, false, 1},
        {"postings", "an index of our own format (titles, bodies) beside the store's: room, searches, a change",
         postingIndex, true, 1},
        {"like_long_word", "a 10,000-character word over a 1 MB body", likeLongWord, false},
        {"csv_export", "CSV of every note, 5 columns by id, through SELECT ... INTO [Text;...]", csvExport},
        {"csv_sqlite3", "the same rows by `sqlite3 -csv` into a file (a process of its own)", csvSqliteShell, false},
        {"xlsx_10k", "workbook of 10,000 notes, 5 columns (writeNoteSheet)", xlsxExport},
        {"print_layout_1mb", "print: cut a 1 MB note into lines at the print width (rows: lines)",
         [](const Dataset&) { return printLayout(PrintBench::note().size(), false); }},
        {"print_layout_20k", "print: the same for its first 20,000 characters (rows: lines)",
         [](const Dataset&) { return printLayout(kPrintSample, false); }},
        {"print_growing_20k", "print: those 20,000 characters cut by growing runs (rows: lines)",
         [](const Dataset&) { return printLayout(kPrintSample, true); }},
        {"print_pdf_1mb", "print: the 1 MB note into a PDF file, A4 (rows: KB written)", printPdf},
        {"draft_write", "one draft of unsaved typing (2,000-character body) handed to the journal",
         [](const Dataset&) { return draftWrite(false); }, false},
        {"draft_write_disk", "the same draft on disk: written, flushed, renamed, its folder flushed",
         [](const Dataset&) { return draftWrite(true); }, false},
    };
    return list;
}

// --- running --------------------------------------------------------------------

struct Options {
    int notes = 100000;
    int categories = 1000;
    QString db;
    QStringList only;
    int runs = 5;
    bool list = false;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "zumilo_bench: %s\n"
                 "usage: zumilo_bench [--notes N] [--categories C] [--db PATH] "
                 "[--only NAME[,NAME...]] [--runs R] [--list]\n",
                 why);
    std::exit(2);
}

Options parseOptions(const QStringList& args)
{
    Options o;
    auto number = [&](int& i) {
        if (i + 1 >= args.size())
            usage("missing value");
        bool ok = false;
        const int v = args[++i].toInt(&ok);
        if (!ok || v < 0)
            usage("not a number");
        return v;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--notes"))
            o.notes = number(i);
        else if (a == QLatin1String("--categories"))
            o.categories = std::max(1, number(i));
        else if (a == QLatin1String("--runs"))
            o.runs = std::max(1, number(i));
        else if (a == QLatin1String("--db") && i + 1 < args.size())
            o.db = args[++i];
        else if (a == QLatin1String("--only") && i + 1 < args.size())
            o.only += args[++i].split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (a == QLatin1String("--list"))
            o.list = true;
        else
            usage("unknown option");
    }
    for (const QString& name : o.only) {
        const auto& all = measurements();
        if (std::none_of(all.begin(), all.end(), [&](const Measurement& m) { return name == QLatin1String(m.name); }))
            usage("unknown measurement (see --list)");
    }
    return o;
}

// True while the search index's segments wait for their merge.
bool indexMerging(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_busy_timeout(db, 1000);
    sqlite3_stmt* st = nullptr;
    const bool merging = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name = 'zumilo_index_merge'", -1,
                                            &st, nullptr)
                             == SQLITE_OK
                         && sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return merging;
}

Dataset prepare(const Options& o)
{
    Dataset d;
    d.path = !o.db.isEmpty() ? o.db
                             : QDir::temp().filePath(QStringLiteral("zumilo_bench_v%1_%2_%3.zmd")
                                                         .arg(bench::kGeneratorVersion)
                                                         .arg(o.notes)
                                                         .arg(o.categories));
    d.path = QFileInfo(d.path).absoluteFilePath();
    if (QFileInfo::exists(d.path)) {
        std::printf("reusing %s\n", qPrintable(d.path));
        // A file from an older build gets its search index at the first open.
        QElapsedTimer t;
        t.start();
        bool built = false;
        int shown = -1;
        auto db = store::Database::open(d.path, [&](qint64 done, qint64 total) {
            built = true;
            if (const int tenth = total ? int(done * 10 / total) : 10; tenth != shown) {
                std::printf("search index: %d%% after %.1f s\n", tenth * 10, double(t.elapsed()) / 1000.0);
                std::fflush(stdout);
                shown = tenth;
            }
        });
        // A build afresh goes on in the background, then the merge of its
        // segments, whose slices hold the write lock: each open would
        // start it again, and the timed reads would wait behind it.
        for (; db->searchIndexBuilding() || indexMerging(d.path); built = true)
            QThread::msleep(100);
        db->close();
        if (built)
            std::printf("search index built and merged in %.1f s\n", double(t.elapsed()) / 1000.0);
        d.info = bench::inspectDatabase(d.path);
    } else {
        QElapsedTimer t;
        t.start();
        d.info = bench::generateDatabase(d.path, o.notes, o.categories);
        std::printf("generated %s in %.1f s\n", qPrintable(d.path), double(t.elapsed()) / 1000.0);
    }
    return d;
}

int runAll(const Options& o)
{
    if (o.list) {
        for (const Measurement& m : measurements())
            std::printf("%-16s %s\n", m.name, m.what);
        return 0;
    }
    const Dataset d = prepare(o);
    std::printf("notes %d  categories %d  largest category %d (%d notes)  file %s (%.1f MB, search index %.1f MB)\n",
                d.info.notes, d.info.categories, d.info.bigCategoryId, d.info.bigCategoryNotes, qPrintable(d.path),
                double(QFileInfo(d.path).size()) / (1024.0 * 1024.0), indexMb(d.path));
    std::printf("median of %d runs; raw: the same search by the engine's LIKE on a plain connection\n\n", o.runs);
    std::printf("%-16s %10s %10s %10s %10s %10s %10s %8s %10s %8s %8s %7s %7s\n", "name", "median_ms", "min_ms",
                "max_ms", "peak_MB", "rows", "raw_ms", "raw/ours", "raw_rows", "cpu_ms", "raw_cpu", "faults",
                "raw_flt");

    int failures = 0;
    for (const Measurement& m : measurements()) {
        if (!o.only.isEmpty() && !o.only.contains(QLatin1String(m.name)))
            continue;
        std::vector<double> times, rawTimes, cpu, rawCpu, faults, rawFaults;
        double peak = -1;
        qint64 rows = -1, rawRows = -1;
        try {
            for (int r = 0; r < (m.runs ? m.runs : o.runs); ++r) {
                const Sample s = m.run(d);
                times.push_back(s.ms);
                if (s.peakMb)
                    peak = std::max(peak, *s.peakMb);
                rows = s.rows;
                cpu.push_back(s.cpuMs);
                faults.push_back(double(s.faults));
                if (s.rawMs) {
                    rawTimes.push_back(*s.rawMs);
                    rawCpu.push_back(s.rawCpuMs);
                    rawFaults.push_back(double(s.rawFaults));
                }
                rawRows = s.rawRows;
            }
        } catch (const store::StoreError& e) {
            std::printf("%-16s failed: %s (%s)\n", m.name, qPrintable(e.message()), qPrintable(e.detail()));
            ++failures;
            continue;
        } catch (const std::exception& e) {
            std::printf("%-16s failed: %s\n", m.name, e.what());
            ++failures;
            continue;
        }
        const QString peakText = m.reportMemory && peak >= 0 ? QString::number(peak, 'f', 1) : QStringLiteral("-");
        std::printf("%-16s %10.1f %10.1f %10.1f %10s %10lld", m.name, median(times),
                    *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                    qPrintable(peakText), static_cast<long long>(rows));
        if (!rawTimes.empty()) {
            std::printf(" %10.1f %8.1f %10lld %8.2f %8.2f %7.0f %7.0f", median(rawTimes),
                        median(rawTimes) / std::max(median(times), 0.01), static_cast<long long>(rawRows), median(cpu),
                        median(rawCpu), median(faults), median(rawFaults));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--bare-window") == 0)
        return bareWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        return runAll(parseOptions(QCoreApplication::arguments()));
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "zumilo_bench: %s (%s)\n", qPrintable(e.message()), qPrintable(e.detail()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zumilo_bench: %s\n", e.what());
    }
    return 1;
}

// The export commands on the real windows: CSV files read back with
// Python's csv module, workbooks with openpyxl.

#include "mainwindowapp.h"

#include "export/sheetexport.h"
#include "grid/gridview.h"
#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "shell/recordsetmodel.h"
#include "shell/statuspanels.h"
#include "store/database.h"

#include <QAction>
#include <QDirIterator>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <unistd.h>

using namespace zumilo;
using namespace Qt::StringLiterals;
namespace Msg = shell::Msg;

namespace {

const QString kDone = QStringLiteral("エクスポートが完了しました！  \rﾌｧｲﾙ名： ");
const QString kCancelled = QStringLiteral("エクスポートを中止します");
const QString kOverwrite = QStringLiteral("このファイル名は既に存在します。上書きしますか？");
const QString kNotWritten = QStringLiteral("エクスポートできませんでした。\rファイル「%1」を書き出せませんでした。\r");
const QString kBody = QStringLiteral("第1回\r\n\"決定\", 次回");

using Rows = QList<QStringList>;

// Rows as a real reader sees them: CSV fields as text; workbook cells as
// "n:" numbers, "s:" text, "d:" dates with their format, "" empty.
Rows readBack(const QString& path)
{
    static const char* const script = R"(
import csv, json, sys, openpyxl
def cell(c):
    v = c.value
    return ('' if v is None else 'n:' + repr(v) if isinstance(v, (int, float)) else
            'd:' + v.isoformat() + '|' + c.number_format if hasattr(v, 'isoformat') else 's:' + v)
p = sys.argv[1]
print(json.dumps([[cell(c) for c in r] for r in openpyxl.load_workbook(p).active.iter_rows()] if p.endswith('.xlsx')
                 else list(csv.reader(open(p, encoding='utf-8-sig', newline='')))))
)";
    QProcess python;
    // Debian's own, which has openpyxl.
    python.start(QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                       : QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(script), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning("%s", python.readAllStandardError().constData());
    Rows rows;
    for (const QJsonValue row : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        rows << row.toVariant().toStringList();
    return rows;
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

struct Env : test::MainWindowApp {
    QString out = path(QStringLiteral("out/"));

    Env()
    {
        db->execute(QStringLiteral("insert into T_bunrui values (1,'仕事',0),(2,'会議',1),(3,'趣味',0),(5,'空',0)"));
        db->execute(QStringLiteral(
                        "insert into T_idea(id,title,naiyo,bunID,bunrui,jyuyoCK,kanryoCK,kijituDate,kousinDate,"
                        "kousinTime,sinkiDate) values (1,'準備',null,1,'仕事',0,0,null,null,null,null),"
                        "(2,'旅行',null,3,'趣味',0,0,null,null,null,null),"
                        "(3,'議事録',?,1,'仕事',-1,0,'2027-01-05','2026-12-01','09:00:00','2026-11-30'),"
                        "(4,'予定',null,2,'会議',0,0,null,null,null,null)"),
                    {kBody});
        QDir(exporting::sheetFolder()).removeRecursively();
        load();
    }
    grid::GridWindow& grid(const QString& search = {})
    {
        state->CurrentTab = QStringLiteral("FindTab");
        window->ShowGridWindow();
        grid::GridWindow& g = *window->gridWindow();
        QTest::keyClicks(g.searchBox(0), search);
        QTest::mouseClick(g.findButton(0), Qt::LeftButton);
        return g;
    }
    // However an export ended.
    void verifyRestored(QMainWindow& w, bool ran)
    {
        QVERIFY(!QApplication::overrideCursor());
        if (ran)
            QCOMPARE(records::commandWindow(w)->statusPanels().text(1), QStringLiteral(" "));
        ZUMILO_VERIFY_PROMPTS_DONE(prompts);
    }
};

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QTemporaryDir cache_;

private slots:
    void initTestCase() { qputenv("XDG_CACHE_HOME", cache_.path().toUtf8()); }

    void csvOfTheMainWindow_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("file");
        QTest::addColumn<Rows>("rows");
        const QStringList five{u"id"_s, u"title"_s, u"naiyo"_s, u"bunID"_s, u"bunrui"_s}; // as the table names them
        const QStringList note1{u"1"_s, u"準備"_s, u""_s, u"1"_s, u"仕事"_s},
            note3{u"3"_s, u"議事録"_s, kBody, u"1"_s, u"仕事"_s};
        // Only the category's own notes, not its subcategory's.
        QTest::newRow("bunOnly") << QByteArray("mnuExpCsv") << u"書き出し"_s << u"書き出し.csv"_s
                                 << Rows{five, note1, note3};
        QTest::newRow("Alldata") << QByteArray("mnuExpCsv2") << u"all.CSV"_s << u"all.CSV"_s
                                 << Rows{five,
                                         note1,
                                         {u"2"_s, u"旅行"_s, u""_s, u"3"_s, u"趣味"_s},
                                         note3,
                                         {u"4"_s, u"予定"_s, u""_s, u"2"_s, u"会議"_s}};
        QTest::newRow("AlldataAllcol") << QByteArray("mnuExpCsvALL") << u"x.csv.txt"_s << u"x.csv.txt"_s
                                       << Rows{{u"id"_s, u"title"_s, u"naiyo"_s, u"bunID"_s, u"bunrui"_s, u"jyuyoCK"_s,
                                                u"kijituDate"_s, u"kousinDate"_s, u"kousinTime"_s, u"kanryoCK"_s,
                                                u"kanryoDate"_s, u"sinkiDate"_s, u"oyaID"_s},
                                               {u"1"_s, u"準備"_s, u""_s, u"1"_s, u"仕事"_s, u"0"_s, u""_s, u""_s,
                                                u""_s, u"0"_s, u""_s, u""_s, u""_s},
                                               {u"2"_s, u"旅行"_s, u""_s, u"3"_s, u"趣味"_s, u"0"_s, u""_s, u""_s,
                                                u""_s, u"0"_s, u""_s, u""_s, u""_s},
                                               {u"3"_s, u"議事録"_s, kBody, u"1"_s, u"仕事"_s, u"-1"_s, u"2027/01/05"_s,
                                                u"2026/12/01"_s, u"09:00:00"_s, u"0"_s, u""_s, u"2026/11/30"_s, u""_s},
                                               {u"4"_s, u"予定"_s, u""_s, u"2"_s, u"会議"_s, u"0"_s, u""_s, u""_s,
                                                u""_s, u"0"_s, u""_s, u""_s, u""_s}};
    }
    void csvOfTheMainWindow()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, chosen);
        QFETCH(QString, file);
        QFETCH(Rows, rows);
        Env env;
        env.choose(QStringLiteral("1_id"));
        env.prompts.expectSaveFile(env.out + chosen).expectMessage(kDone + file, Msg::Ok, Msg::Information);
        test::trigger(*env.window, command);

        // In the open file's folder, not the program's.
        QCOMPARE(env.prompts.lastDialogFolder() + env.prompts.lastDialogFileName(),
                 QFileInfo(env.dbPath).absolutePath() + QStringLiteral("/*.csv"));
        QCOMPARE(readBack(env.out + file), rows);
        const QByteArray bytes = test::fileBytes(env.out + file);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        env.verifyRestored(*env.window, true);
    }

    // Whatever the user answers, the folder allows or the desktop has: an
    // old file stays unless the new one is whole, and the user is told.
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("node");   // the main window's category, else the grid's search
        QTest::addColumn<QString>("chosen"); // in the save dialog; "-" cancelled; "old.csv" exists, read-only
        QTest::addColumn<int>("answer");     // to every message
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("after"); // how the file starts afterwards
        QTest::addColumn<int>("opened");       // workbooks handed to the desktop
        QTest::addColumn<int>("stopAt");       // a long export's progress: -1 none, 0 to the end
        const QString slow = QStringLiteral("この処理は遅いですが、処理を行ってもいいですか？\r"
                                            "データ数が多い場合は、「CSV形式でｴｸｽﾎﾟｰﾄ」をしましょう！");
        const QByteArray csv("mnuExpCsv"), sheet("mnuExpExl"), bom("\xEF\xBB\xBFid,");
        const QStringList overwrite{kOverwrite, kDone + u"old.csv"_s};
        QTest::newRow("csv, empty category")
            << csv << u"5_id"_s << u""_s << 0 << QStringList{u"この分類には、データが無いので処理を取り消します"_s}
            << QByteArray() << 0 << -1;
        QTest::newRow("csv, dialog cancelled")
            << csv << u"1_id"_s << u"-"_s << 0 << QStringList() << QByteArray() << 0 << -1;
        QTest::newRow("csv, overwrite declined") << csv << u"1_id"_s << u"old.csv"_s << int(Msg::No)
                                                 << QStringList{kOverwrite, kCancelled} << QByteArray("old") << 0 << -1;
        QTest::newRow("csv, overwrite") << csv << u"1_id"_s << u"old.csv"_s << int(Msg::Yes) << overwrite << bom << 0
                                        << -1;
        const QString noFolder = kNotWritten.arg(u"x.csv"_s) + u"フォルダー「OUTplain.txt」が見つかりません。"_s;
        QTest::newRow("csv, folder is a file")
            << csv << u"1_id"_s << u"plain.txt/x.csv"_s << 0 << QStringList{noFolder} << QByteArray() << 0 << -1;
        QTest::newRow("grid csv, folder is a file")
            << csv << u""_s << u"plain.txt/x.csv"_s << 0 << QStringList{noFolder} << QByteArray() << 0 << -1;
        QTest::newRow("long csv, overwrite")
            << csv << u"1_id"_s << u"old.csv"_s << int(Msg::Yes) << overwrite << bom << 0 << 0;
        QTest::newRow("long csv, stopped") << csv << u"1_id"_s << u"old.csv"_s << int(Msg::Yes)
                                           << QStringList{kOverwrite, kCancelled} << QByteArray("old") << 0 << 512;
        QTest::newRow("workbook, empty list")
            << sheet << u"5_id"_s << u""_s << 0 << QStringList{u"データ数が０件です。処理を中止します。"_s}
            << QByteArray() << 0 << -1;
        QTest::newRow("long workbook") << sheet << u"1_id"_s << u""_s << 0 << QStringList() << QByteArray() << 1 << 0;
        QTest::newRow("long workbook, stopped")
            << sheet << u"1_id"_s << u""_s << 0 << QStringList{kCancelled} << QByteArray() << 0 << 256;
        QTest::newRow("grid workbook, declined")
            << sheet << u""_s << u""_s << int(Msg::No) << QStringList{slow, kCancelled} << QByteArray() << 0 << -1;
        // An empty view opens an empty sheet, without a message.
        QTest::newRow("grid workbook, empty view")
            << sheet << u"nothing"_s << u""_s << int(Msg::Yes) << QStringList{slow} << QByteArray() << 1 << -1;
    }
    void outcomes()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, node);
        QFETCH(QString, chosen);
        QFETCH(int, answer);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, after);
        QFETCH(int, opened);
        QFETCH(int, stopAt);
        Env env;
        if (stopAt >= 0)
            env.db->execute(
                QStringLiteral("with recursive n(i) as (select 100 union all select i + 1 from n where i < 3599) "
                               "insert into T_idea(id,title,bunID,jyuyoCK,kanryoCK) select i, 'メモ', 1, 0, 0 from n"));
        messages.replaceInStrings(QStringLiteral("OUT"), env.out);
        env.writeFile(QStringLiteral("out/plain.txt"), "text");
        const QString target = env.out + chosen;
        if (chosen == u"old.csv") {
            env.writeFile(QStringLiteral("out/old.csv"), "old");
            QFile::setPermissions(target, QFileDevice::ReadOwner);
        }
        if (!chosen.isEmpty())
            env.prompts.expectSaveFile(chosen == u"-" ? std::nullopt : std::optional(target));
        for (qsizetype i = 0; i <= messages.size(); ++i) { // the progress before the last message
            if (stopAt >= 0 && i == std::max<qsizetype>(messages.size() - 1, 0))
                env.prompts.expectProgress(QStringLiteral("エクスポート中です・・・"),
                                           stopAt ? std::optional<qint64>(stopAt) : std::nullopt);
            if (i < messages.size())
                env.prompts.expectMessage(messages.at(i), answer);
        }
        const bool grid = !node.endsWith(u"_id");
        if (!grid)
            env.choose(node);
        QMainWindow& w = grid ? static_cast<QMainWindow&>(env.grid(node)) : *env.window;
        test::trigger(w, command);

        QVERIFY(test::fileBytes(target).startsWith(after));
        if (stopAt == 0 && command == "mnuExpCsv")
            QCOMPARE(readBack(target).size(), 1 + 3502); // the category's notes
        QCOMPARE(filesUnder(env.out),
                 (after.isEmpty() ? QStringList{u"plain.txt"_s} : QStringList{chosen, u"plain.txt"_s}));
        QCOMPARE(env.desktop.opened.size(), opened);
        const bool kept = opened;
        if (kept) { // the notes the window shows, in its order
            QList<qint64> ids;
            for (const QStringList& row : readBack(env.desktop.opened.first()).mid(1))
                ids << row.first().mid(2).toLongLong();
            QCOMPARE(ids, grid ? QList<qint64>() : env.window->shownNotes());
        }
        QCOMPARE(filesUnder(exporting::sheetFolder()).size(), int(kept));
        env.verifyRestored(w, command == "mnuExpCsv" && (answer == Msg::Yes || chosen.contains(u'/')));
    }

    // A workbook the desktop has no program for stays where it was
    // written, the user is told where, and may save it elsewhere.
    void aWorkbookNothingOpensCanBeSaved_data()
    {
        QTest::addColumn<bool>("started");   // the desktop took it, then found no program
        QTest::addColumn<QString>("chosen"); // where it is saved; empty: it is not
        QTest::newRow("no opener, not saved") << false << u""_s;
        QTest::newRow("no program, saved") << true << u"ブック"_s;
        QTest::newRow("no program, saved over a read-only file") << true << u"old.xlsx"_s;
    }
    void aWorkbookNothingOpensCanBeSaved()
    {
        QFETCH(bool, started);
        QFETCH(QString, chosen);
        Env env;
        env.desktop.accept = started;
        env.desktop.documentFails = true;
        const QString file = chosen.isEmpty() || chosen.endsWith(u".xlsx") ? chosen : chosen + QStringLiteral(".xlsx");
        if (chosen == u"old.xlsx") {
            env.writeFile(QStringLiteral("out/old.xlsx"), "old");
            QFile::setPermissions(env.out + file, QFileDevice::ReadOwner);
        }
        env.prompts.expectMessage(QString(), chosen.isEmpty() ? Msg::No : Msg::Yes, Msg::YesNo + Msg::Exclamation);
        if (!chosen.isEmpty()) {
            env.prompts.expectSaveFile(env.out + chosen);
            if (chosen == u"old.xlsx")
                env.prompts.expectMessage(kOverwrite, Msg::Yes);
            env.prompts.expectMessage(kDone + file);
        }
        env.choose(QStringLiteral("1_id"));
        test::trigger(*env.window, "mnuExpExl");

        const QString sheet = env.desktop.opened.value(0);
        QVERIFY(QFileInfo::exists(sheet));
        QCOMPARE(env.prompts.messages().value(0), QStringLiteral("表計算ソフトでブックを開けませんでした。\r"
                                                                 "ブックは次の場所に書き出してあります。\r")
                                                      + sheet + QStringLiteral("\r\r別の場所に保存しますか？"));
        if (!chosen.isEmpty()) {
            QCOMPARE(env.prompts.lastDialogFolder(), QFileInfo(env.dbPath).absolutePath() + QLatin1Char('/'));
            QCOMPARE(test::fileBytes(env.out + file), test::fileBytes(sheet));
            QVERIFY(QFileInfo(env.out + file).permissions() & QFileDevice::WriteOwner); // the user's to change
        }
        QCOMPARE(filesUnder(env.out), chosen.isEmpty() ? QStringList() : QStringList{file});
        env.verifyRestored(*env.window, false);
    }

    // A disk that fills up during an export: the message names the file
    // and the cause, and nothing is left half written. A small file
    // system of its own stands in for the full disk.
    void aFullDiskIsNamed_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("csv") << QByteArray("mnuExpCsv");
        QTest::newRow("workbook") << QByteArray("mnuExpExl");
    }
    void aFullDiskIsNamed()
    {
        QFETCH(QByteArray, command);
        Env env;
        const QString full = env.path(QStringLiteral("full/"));
        QDir().mkpath(full);
        if (geteuid() != 0
            || QProcess::execute(QStringLiteral("mount"),
                                 {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, full})
                   != 0)
            QSKIP("Needs to mount a small file system (root).");
        const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {full}); });
        env.db->execute(
            QStringLiteral("with recursive n(i) as (select 100 union all select i + 1 from n where i < 400) "
                           "insert into T_idea(id,title,naiyo,bunID,jyuyoCK,kanryoCK) "
                           "select i, 'メモ', hex(randomblob(1000)), 1, 0, 0 from n"));
        const QByteArray cache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", full.toUtf8());
        const auto restore = qScopeGuard([&] { qputenv("XDG_CACHE_HOME", cache); });
        env.choose(QStringLiteral("1_id"));
        const bool csv = command == "mnuExpCsv";
        QString file = QStringLiteral("notes.csv");
        if (csv)
            env.prompts.expectSaveFile(full + file);
        env.prompts.expectMessage(QString(), Msg::Ok, Msg::Exclamation);
        test::trigger(*env.window, command);
        if (!csv)
            file = QStringLiteral("ｴｸｽﾎﾟｰﾄ ") + env.clock.now().toString(u"yyyy-MM-dd hhmmss")
                   + QStringLiteral(".xlsx");
        QCOMPARE(env.prompts.messages().value(0),
                 kNotWritten.arg(file) + QStringLiteral("ディスクの空き容量が不足しているため、保存できません。"));
        QCOMPARE(filesUnder(full), QStringList());
        QVERIFY(env.desktop.opened.isEmpty());
        env.verifyRestored(*env.window, csv);
    }

    void workbookOfTheMainWindow()
    {
        Env env;
        env.note(6, QStringLiteral("長文"), 1, {{QStringLiteral("naiyo"), QString(40000, u'あ')}});
        env.choose(QStringLiteral("1_id"));
        env.list().selectPosition(2);
        env.prompts.expectMessage(
            QStringLiteral("内容が長すぎて表計算のセルに入りきらないデータがあります（id: 6）。\r"
                           "先頭から32767文字までを書き出しました。全文は「CSV形式でｴｸｽﾎﾟｰﾄ」で書き出せます。"),
            Msg::Ok, Msg::Exclamation);
        test::trigger(*env.window, "mnuExpExl");

        QCOMPARE(env.window->shownNotes(), (QList<qint64>{1, 3, 6}));
        const QString sheet = env.desktop.opened.value(0);
        QCOMPARE(readBack(sheet), (Rows{{u"s:id"_s, u"s:タイトル"_s, u"s:内容"_s, u"s:分類id"_s, u"s:分類名"_s},
                                        {u"n:1"_s, u"s:準備"_s, u""_s, u"n:1"_s, u"s:仕事"_s},
                                        {u"n:3"_s, u"s:議事録"_s, u"s:第1回\n\"決定\", 次回"_s, u"n:1"_s, u"s:仕事"_s},
                                        {u"n:6"_s, u"s:長文"_s, u"s:"_s + QString(32767, u'あ'), u"n:1"_s, u""_s}}));
        QVERIFY(!(QFileInfo(sheet).permissions() & QFileDevice::WriteOwner));
        // The window ends on its first note.
        QCOMPARE(env.list().selectedPosition(), 1);
        QCOMPARE(env.editor().text(0), QStringLiteral("準備"));
        env.verifyRestored(*env.window, false);

        // Dates are dates, shown as the program shows them.
        const QString dated = env.path(QStringLiteral("dated.xlsx"));
        exporting::writeNoteSheet(*env.db, {{QStringLiteral("kijituDate"), QStringLiteral("期日")}}, {1, 3}, dated);
        QCOMPARE(readBack(dated), (Rows{{u"s:期日"_s}, {u""_s}, {u"d:2027-01-05T00:00:00|yyyy/mm/dd"_s}}));
    }

    // The grid's view with its search and sort, in the grid's order, which
    // is the lists' order and not that of the characters' codes.
    void gridExportsItsView()
    {
        Env env;
        env.note(7, QStringLiteral("plan a"), 3);
        env.note(8, QStringLiteral("plan B"), 3);
        env.note(9, QStringLiteral("plan c"), 3);
        auto& g = env.grid(QStringLiteral("plan"));
        QHeaderView* header = g.grid()->horizontalHeader();
        const int title = g.data()->model()->columnOf(QStringLiteral("title"));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(title) + 5, header->height() / 2));
        QCOMPARE(g.shownNotes(), (QList<qint64>{9, 8, 7}));

        env.prompts.expectSaveFile(env.out + QStringLiteral("grid.csv"))
            .expectMessage(kDone + QStringLiteral("grid.csv"));
        test::trigger(g, "mnuExpCsv");
        QCOMPARE(readBack(env.out + QStringLiteral("grid.csv")),
                 (Rows{{u"id"_s, u"title"_s, u"naiyo"_s, u"bunID"_s, u"bunrui"_s},
                       {u"9"_s, u"plan c"_s, u""_s, u"3"_s, u""_s},
                       {u"8"_s, u"plan B"_s, u""_s, u"3"_s, u""_s},
                       {u"7"_s, u"plan a"_s, u""_s, u"3"_s, u""_s}}));

        test::trigger(g, "mnuMoveNext");
        env.prompts.expectMessage(QString(), Msg::Yes, Msg::YesNo + Msg::DefaultButton2); // the question
        test::trigger(g, "mnuExpExl");
        QCOMPARE(readBack(env.desktop.opened.value(0)),
                 (Rows{{u"s:id"_s, u"s:タイトル"_s, u"s:内容"_s, u"s:分類id"_s, u"s:分類名"_s},
                       {u"n:9"_s, u"s:plan c"_s, u""_s, u"n:3"_s, u""_s},
                       {u"n:8"_s, u"s:plan B"_s, u""_s, u"n:3"_s, u""_s},
                       {u"n:7"_s, u"s:plan a"_s, u""_s, u"n:3"_s, u""_s}}));
        QCOMPARE(g.data()->currentRow(), 0);
        env.verifyRestored(g, true);
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"

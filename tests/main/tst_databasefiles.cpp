// Start-up, shut-down, opening, creating and remembering database files,
// driven through the real main window with scripted prompts.

#include "mainwindowapp.h"

#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "main/recentfiles.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "shell/windowplacement.h"
#include "store/backup.h"
#include "store/storefixture.h"
#include "store/database.h"
#include "store/error.h"
#include "store/indexbuild.h"
#include "store/recordset.h"
#include "store/schema.h"

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QStatusBar>
#include <QWindow>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>
#include <atomic>
#include <future>

using namespace zumilo;
using shell::Msg::Exclamation;

namespace {

const QString kWrong = QStringLiteral("このデータベースは違います。正しいデータベースを選択ください");

struct Env : test::TestApp {
    std::unique_ptr<app::MainWindow> window;

    app::MainWindow& load()
    {
        window = std::make_unique<app::MainWindow>(*state);
        window->Form_Load();
        return *window;
    }
    // Starts with `path` as the file the last run had open.
    app::MainWindow& loadWith(const QString& path)
    {
        settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), path);
        settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QFileInfo(path).fileName());
        return load();
    }
    QString setting(const QString& section, const QString& key) const { return reopenSettings()->read(section, key); }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int rowCount(store::Database& db, const QString& sql)
{
    return db.scalar(sql).toInt();
}

} // namespace

class TestDatabaseFiles : public QObject {
    Q_OBJECT

private slots:
    void firstStartOpensHelpDatabase()
    {
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();

        const QString expected = env.state->AppFolder + shell::Settings::HelpDatabaseName;
        QVERIFY(env.state->AppFolder.endsWith(QLatin1Char('/')));
        QCOMPARE(env.state->DatabaseFileName, shell::Settings::HelpDatabaseName);
        QCOMPARE(env.state->DatabasePath, expected);
        QCOMPARE(env.state->DatabaseFolder, env.state->AppFolder);
        QCOMPARE(env.setting(shell::Settings::RecentFiles, QStringLiteral("RecentFile1")), expected);
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + expected);
        QVERIFY(w.DBCheckOK());
        QCOMPARE(w.recentFiles().path(1), expected);
        QVERIFY(w.action(QStringLiteral("mnuRecentFile(0)"))->isVisible());

        const auto placed = shell::windowTwips(&w);
        // As wide as the editor needs, when that is more than 10000.
        QVERIFY(placed.width >= 10000 - 15 && placed.width <= 12000 && qAbs(placed.height - 7500) <= 15);
        QVERIFY(qAbs(placed.left - 500) <= 15 && qAbs(placed.top - 600) <= 15);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void programFolderAtRootGetsOneSeparator()
    {
        Env env;
        env.state->ProgramFolder = QStringLiteral("/");
        env.prompts.expectMessage({}, shell::Msg::Ok); // nothing to open there
        env.load();
        QCOMPARE(env.state->AppFolder, QStringLiteral("/"));
        QCOMPARE(env.state->DatabasePath, QStringLiteral("/") + shell::Settings::HelpDatabaseName);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void startupWithUnusableLastDatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("genericWrongMessage");
        QTest::newRow("missing file") << "missing" << false;
        QTest::newRow("text file") << "text" << false;
        QTest::newRow("database without T_option") << "notables" << true;
    }
    void startupWithUnusableLastDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(bool, genericWrongMessage);
        Env env;
        QString path = env.path(QStringLiteral("data/last.zmd"));
        if (kind == QLatin1String("text"))
            env.writeFile(QStringLiteral("data/last.zmd"), "タイトル,内容\r\nこんにちは,世界\r\n");
        else if (kind == QLatin1String("notables")) {
            auto db = store::Database::create(path);
            db->execute(store::createIdeaTableSql());
            db->execute(store::createCategoryTableSql());
        }
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), path);
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QStringLiteral("last.zmd"));
        env.prompts.expectMessage(genericWrongMessage ? kWrong : QString());

        auto& w = env.load();
        if (!genericWrongMessage)
            QVERIFY(env.prompts.messages().constFirst().contains(path));
        QVERIFY(!w.DBCheckOK());
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo"));
        QCOMPARE(env.state->DatabasePath, path);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        // The user can still open a good file from the File menu.
        const QString good = env.makeDatabase(QStringLiteral("data/good.zmd"));
        env.prompts.expectOpenFile(good);
        test::trigger(w, u"mnuOpenDB");
        QVERIFY(w.DBCheckOK());
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + good);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void openDatabaseThroughMenu()
    {
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();
        const QString other = env.makeDatabase(QStringLiteral("日本語 フォルダ/メモ 帳.zmd"));

        env.prompts.expectOpenFile(other);
        test::trigger(w, u"mnuOpenDB");
        QCOMPARE(env.prompts.lastDialogFileName(), QStringLiteral("*.zmd"));
        QCOMPARE(env.prompts.lastDialogFolder(), env.state->AppFolder);
        QCOMPARE(env.state->DatabasePath, other);
        QCOMPARE(env.state->DatabaseFileName, QStringLiteral("メモ 帳.zmd"));
        QCOMPARE(env.state->DatabaseFolder, QFileInfo(other).absolutePath() + QLatin1Char('/'));
        QCOMPARE(env.state->PreviousDatabasePath, env.helpDatabasePath());
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + other);
        QCOMPARE(w.recentFiles().path(1), other);
        QCOMPARE(w.recentFiles().path(2), env.helpDatabasePath());
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("0"));

        // Cancelling changes nothing.
        env.prompts.expectOpenFile(std::nullopt);
        test::trigger(w, u"mnuOpenDB");
        QCOMPARE(env.state->DatabasePath, other);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void openRefusesFilesByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain .zmd") << "a.zmd" << true;
        QTest::newRow("upper case") << "B.ZMD" << true;
        QTest::newRow("extension inside the name") << "notes.ZMD.bak" << true;
        QTest::newRow("other extension") << "notes.txt" << false;
        QTest::newRow("no extension") << "notes" << false;
    }
    void openRefusesFilesByName()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();
        const QString file = env.makeDatabase(QStringLiteral("files/") + name);

        env.prompts.expectOpenFile(file);
        if (!accepted)
            env.prompts.expectMessage(QStringLiteral("そのファイルを開くことは出来ません"), shell::Msg::Ok,
                                      Exclamation);
        test::trigger(w, u"mnuOpenDB");
        QCOMPARE(env.state->DatabasePath, accepted ? file : env.helpDatabasePath());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void wrongOrUnreadableFileKeepsThePreviousDatabase_data()
    {
        QTest::addColumn<bool>("sqliteWithoutTables");
        QTest::newRow("database of another program") << true;
        QTest::newRow("not a database at all") << false;
    }
    void wrongOrUnreadableFileKeepsThePreviousDatabase()
    {
        QFETCH(bool, sqliteWithoutTables);
        Env env;
        const QString start = env.makeDatabase(QStringLiteral("a/start.zmd"));
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), start);
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QStringLiteral("start.zmd"));
        auto& w = env.load();

        QString bad = env.path(QStringLiteral("b/bad.zmd"));
        if (sqliteWithoutTables) {
            auto db = store::Database::create(bad);
            db->execute(QStringLiteral("CREATE TABLE other(x long)"));
        } else {
            env.writeFile(QStringLiteral("b/bad.zmd"), "not a database");
        }
        env.prompts.expectOpenFile(bad);
        env.prompts.expectMessage(sqliteWithoutTables ? kWrong : QString());
        test::trigger(w, u"mnuOpenDB");

        QCOMPARE(env.state->DatabasePath, start);
        QCOMPARE(env.state->DatabaseFileName, QStringLiteral("start.zmd"));
        QCOMPARE(env.state->DatabaseFolder, QFileInfo(bad).absolutePath() + QLatin1Char('/'));
        QVERIFY(w.DBCheckOK());
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + start);
        QVERIFY(w.recentFiles().find(bad) == 0);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        // What is stored at exit names the database really open.
        w.close();
        QCOMPARE(env.setting(shell::Settings::DBName, QStringLiteral("LastNameFull")), start);
        QCOMPARE(env.setting(shell::Settings::DBName, QStringLiteral("LastName")), QStringLiteral("start.zmd"));
    }

    void recentFileListKeepsFiveMostRecent()
    {
        Env env;
        QStringList files;
        for (int i = 1; i <= 6; ++i)
            files << env.makeDatabase(QStringLiteral("r/f%1.zmd").arg(i));
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), files[0]);
        auto& w = env.load();
        QVERIFY(!w.action(QStringLiteral("mnuRecentFile(0)"))->isVisible());

        for (int i = 0; i < 5; ++i) {
            env.prompts.expectOpenFile(files[i]);
            test::trigger(w, u"mnuOpenDB");
        }
        auto order = [&] {
            QStringList list;
            for (int i = 1; i <= 5; ++i)
                list << QFileInfo(w.recentFiles().path(i)).baseName();
            return list.join(QLatin1Char(' '));
        };
        QCOMPARE(order(), QStringLiteral("f5 f4 f3 f2 f1"));

        // The third moves to the top; the two above it move down; the rest stay.
        w.action(QStringLiteral("mnuRecentFile(3)"))->trigger();
        QCOMPARE(env.state->DatabasePath, files[2]);
        QCOMPARE(order(), QStringLiteral("f3 f5 f4 f2 f1"));

        // A sixth file pushes the oldest out.
        env.prompts.expectOpenFile(files[5]);
        test::trigger(w, u"mnuOpenDB");
        QCOMPARE(order(), QStringLiteral("f6 f3 f5 f4 f2"));
        QCOMPARE(env.setting(shell::Settings::RecentFiles, QStringLiteral("RecentFile5")), files[1]);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        // The next run shows the same list.
        w.close();
        Env next;
        next.settings = env.reopenSettings();
        next.state->services.settings = next.settings.get();
        auto& w2 = next.load();
        QCOMPARE(w2.recentFiles().path(1), files[5]);
        QCOMPARE(w2.recentFiles().path(5), files[1]);
        QCOMPARE(next.state->DatabasePath, files[5]);
        ZUMILO_VERIFY_PROMPTS_DONE(next.prompts);
    }

    void createEmptyDatabase_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("created");
        QTest::newRow("extension added") << "mynotes"
                                         << "mynotes.zmd";
        QTest::newRow("extension kept") << "MyNotes.ZMD"
                                        << "MyNotes.ZMD";
        QTest::newRow("blanks and Japanese") << "新しい メモ"
                                             << "新しい メモ.zmd";
    }
    void createEmptyDatabase()
    {
        QFETCH(QString, typed);
        QFETCH(QString, created);
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();
        const QString recentBefore = w.recentFiles().path(1);
        const QString folderBefore = env.state->DatabaseFolder;

        env.prompts.expectSaveFile(env.path(QStringLiteral("new/") + typed));
        env.prompts.expectMessage(QStringLiteral("データベースを作成しました"));
        test::trigger(w, u"mnuDBnew");

        const QString path = env.path(QStringLiteral("new/") + created);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(env.state->DatabasePath, path);
        QCOMPARE(env.state->DatabaseFileName, created);
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + path);
        QVERIFY(w.DBCheckOK());
        QCOMPARE(w.recentFiles().path(1), recentBefore);
        QCOMPARE(env.state->DatabaseFolder, folderBefore);
        auto& db = *w.currentDatabase();
        QCOMPARE(rowCount(db, QStringLiteral("select count(*) from T_idea")), 1);
        QCOMPARE(db.scalar(QStringLiteral("select naiyo from T_idea where id=1")).toString(), QStringLiteral(" "));
        QVERIFY(db.scalar(QStringLiteral("select bunID from T_idea where id=1")).isNull());
        QCOMPARE(rowCount(db, QStringLiteral("select count(*) from T_bunrui")), 0);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void createWithStarterCategories()
    {
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();
        env.prompts.expectSaveFile(env.path(QStringLiteral("new/starter")));
        env.prompts.expectMessage(QStringLiteral("データベースを作成しました"));
        test::trigger(w, u"mnuDBnew2");

        auto& db = *w.currentDatabase();
        auto children = [&](int parent) {
            return rowCount(db, QStringLiteral("select count(*) from T_bunrui where oyabunID=%1").arg(parent));
        };
        QCOMPARE(children(0), 6);
        QCOMPARE(children(3), 3);
        QCOMPARE(children(2), 2);
        QCOMPARE(children(6), 4);
        QCOMPARE(db.scalar(QStringLiteral("select bunrui from T_bunrui where bunID=6")).toString(),
                 QStringLiteral("6 ﾊﾟｿｺﾝﾃｸﾆｯｸ"));
        QCOMPARE(db.scalar(QStringLiteral("select bunrui from T_bunrui where bunID=13")).toString(),
                 QStringLiteral("2 処理済(記録用)"));
        QCOMPARE(rowCount(db, QStringLiteral("select count(*) from T_bunrui where bunID in (7,8)")), 0);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void createRefusals()
    {
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        auto& w = env.load();
        const QString help = env.helpDatabasePath();

        // An existing name.
        const QString existing = env.makeDatabase(QStringLiteral("x/taken.zmd"));
        const QByteArray before = [&] {
            QFile f(existing);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        env.prompts.expectSaveFile(existing);
        env.prompts.expectMessage(QStringLiteral("このファイル名は既に存在します。他のファイル名をつけてください。"));
        test::trigger(w, u"mnuDBnew");
        QFile f(existing);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);

        // A folder that does not exist: nothing is created, nothing switches.
        const QString nowhere = env.path(QStringLiteral("x")) + QStringLiteral("/missing/folder/new.zmd");
        env.prompts.expectSaveFile(nowhere);
        env.prompts.expectMessage({}, shell::Msg::Ok, Exclamation);
        test::trigger(w, u"mnuDBnew2");
        QVERIFY(env.prompts.messages().constLast().startsWith(QStringLiteral("データベースを作成できませんでした。")));
        QVERIFY(!QFileInfo::exists(nowhere));
        QCOMPARE(env.state->DatabasePath, help);
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + help);
        QVERIFY(w.DBCheckOK());

        // A name that is a wildcard.
        env.prompts.expectSaveFile(env.path(QStringLiteral("x/*.zmd")));
        env.prompts.expectMessage({}, shell::Msg::Ok, Exclamation);
        test::trigger(w, u"mnuDBnew");
        QCOMPARE(env.state->DatabasePath, help);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void closingStoresNamesAndPlace()
    {
        Env env;
        const QString db = env.makeDatabase(QStringLiteral("d/会議 メモ.zmd"));
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), db);
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QStringLiteral("会議 メモ.zmd"));
        auto& w = env.load();
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + db);
        shell::setWindowTwips(&w, {600, 900, 11600, 9000}); // within the 800 pixels of the screen

        test::trigger(w, u"mnuEnd");
        QVERIFY(!w.isVisible());
        QVERIFY(!w.currentDatabase());
        auto stored = env.reopenSettings();
        QCOMPARE(stored->read(shell::Settings::DBName, QStringLiteral("LastNameFull")), db);
        QCOMPARE(stored->read(shell::Settings::DBName, QStringLiteral("LastName")), QStringLiteral("会議 メモ.zmd"));
        QCOMPARE(stored->read(shell::Settings::DBName, QStringLiteral("LastPath")), env.state->AppFolder);
        QVERIFY(qAbs(stored->readNumber(shell::Settings::F1Position, QStringLiteral("Width"), 0) - 11600) <= 15);
        QVERIFY(qAbs(stored->readNumber(shell::Settings::F1Position, QStringLiteral("Top"), 0) - 900) <= 15);
        QVERIFY(!QFileInfo::exists(db + QStringLiteral("-journal")));
        QVERIFY(!QFileInfo::exists(db + QStringLiteral("-wal")));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void storedPositionThatIsNotANumberFallsBack()
    {
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        env.settings->write(shell::Settings::F1Position, QStringLiteral("Width"), QStringLiteral("wide"));
        env.settings->write(shell::Settings::F1Position, QStringLiteral("Height"), QStringLiteral("6000"));
        auto& w = env.load();
        const auto t = shell::windowTwips(&w);
        QVERIFY(t.width >= 10000 - 15 && t.width <= 12000);
        QVERIFY(qAbs(t.height - 6000) <= 15);
    }

    // A window left across two screens side by side comes back there at
    // its size; one that neither shows whole shrinks onto the screen that
    // shows most of it. CTest runs this on two screens of 1280x720 pixels.
    void placeAcrossTwoScreens_data()
    {
        QTest::addColumn<QRect>("stored"); // pixels
        QTest::addColumn<bool>("kept");
        QTest::newRow("across both") << QRect(100, 50, 2000, 500) << true;
        QTest::newRow("past the second") << QRect(1000, 50, 2000, 500) << false;
        QTest::newRow("on the second alone") << QRect(1400, 100, 800, 500) << true;
    }
    void placeAcrossTwoScreens()
    {
        if (QGuiApplication::screens().size() != 2)
            QSKIP("needs two screens side by side");
        QFETCH(QRect, stored);
        QFETCH(bool, kept);
        Env env;
        env.makeDatabase(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
        const auto write = [&](const char* key, int pixels) {
            env.settings->write(shell::Settings::F1Position, QString::fromLatin1(key), QString::number(pixels * 15));
        };
        write("Left", stored.left());
        write("Top", stored.top());
        write("Width", stored.width());
        write("Height", stored.height());
        auto& w = env.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect place(w.pos(), w.size());
        if (kept) {
            QCOMPARE(place, stored);
        } else {
            QVERIFY(place.width() <= 1280);
            QCOMPARE(w.screen(), QGuiApplication::screens().at(1));
            QVERIFY2(w.screen()->availableGeometry().contains(w.geometry()),
                     qPrintable(QDebug::toString(w.geometry())));
        }
    }

    // A backup is taken when the file is first opened in a run. Backups are
    // listed newest first by the time each was taken, to the second and
    // numbered, whatever their files' own times say; the one chosen through
    // the File menu is the one restored, and the windows show it. One that is damaged or empty is never
    // put in place: the file stays exactly as it was, and the message says
    // the restore failed and to choose another backup.
    void restoringTheChosenBackup_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("restored"); // empty: nothing restored
        QTest::newRow("the run's own") << 0 << QStringLiteral("今");
        QTest::newRow("fourth of four taken in one second") << 3 << QStringLiteral("第2版");
        QTest::newRow("damaged") << 5 << QString();
        QTest::newRow("empty") << 6 << QString();
        QTest::newRow("no notes tables") << 7 << QString();
    }
    void restoringTheChosenBackup()
    {
        QFETCH(int, chosen);
        QFETCH(QString, restored);
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        auto title = [&](const QString& file) {
            return store::Database::open(file)
                ->scalar(QStringLiteral("select title from T_idea where id=1"))
                .toString();
        };
        auto setTitle = [&](const QString& t) {
            store::Database::open(path)->execute(QStringLiteral("UPDATE T_idea SET title=? WHERE id=1"), {t});
        };
        QStringList versions;
        for (int i = 1; i <= 4; ++i) {
            setTitle(QStringLiteral("第%1版").arg(i));
            versions << env.path(QStringLiteral("v%1.zmd").arg(i));
            QVERIFY(QFile::copy(path, versions.last()));
        }
        QFile damaged(env.path(QStringLiteral("damaged.zmd")));
        QVERIFY(QFile::copy(path, damaged.fileName()) && damaged.open(QIODevice::ReadWrite) && damaged.seek(4096 + 8));
        damaged.write(QByteArray(200, '\x7f'));
        damaged.close();
        versions << damaged.fileName() << env.writeFile(QStringLiteral("empty.zmd"), {});
        store::Database::create(env.path(QStringLiteral("blank.zmd")))->execute(QStringLiteral("CREATE TABLE t(x)"));
        versions << env.path(QStringLiteral("blank.zmd"));
        setTitle(QStringLiteral("今"));

        auto& w = env.loadWith(path);
        env.prompts.expectMessage(QStringLiteral("「notes.zmd」のバックアップはありません。"));
        test::trigger(w, u"mnuRestoreBackup");
        store::setBackupFolder(env.path(QStringLiteral("backups")));
        const auto noBackups = qScopeGuard([] { store::setBackupFolder({}); });
        w.switchTo(path); // the first open of the file in this run: backed up
        store::finishBackups();
        setTitle(QStringLiteral("後")); // changed since the run's backup
        const QDir dir = QFileInfo(store::listBackups(path).at(0).path).dir();
        const QDateTime touched(QDate(2027, 1, 1), QTime(9, 0));
        for (int i = 0; i < versions.size(); ++i) {
            const QString copy = dir.filePath(i < 4 ? QStringLiteral("notes-20261201-10101000%1.zmd").arg(i + 1)
                                                    : QStringLiteral("notes-202611%1-080000000.zmd").arg(34 - i));
            QVERIFY(QFile::copy(versions[i], copy));
        }
        for (const QFileInfo& f : dir.entryInfoList(QDir::Files)) {
            QFile file(f.filePath());
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(touched, QFileDevice::FileModificationTime));
        }
        const QByteArray before = fileBytes(path);

        env.prompts.expectChoice(QStringLiteral("「notes.zmd」をいつの状態に戻しますか？"), chosen);
        env.prompts.expectMessage({}, shell::Msg::Yes, shell::Msg::YesNo + Exclamation + shell::Msg::DefaultButton2);
        env.prompts.expectMessage({}, shell::Msg::Ok, restored.isEmpty() ? Exclamation : shell::Msg::Information);
        test::trigger(w, u"mnuRestoreBackup");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        const QStringList items = env.prompts.lastChoices();
        QCOMPARE(items.size(), 8);
        QCOMPARE(items[3], QStringLiteral("4. 2026/12/01 10:10:10"));
        QCOMPARE(items[7], QStringLiteral("8. 2026/11/28 08:00:00"));
        QCOMPARE(QSet<QString>(items.begin(), items.end()).size(), items.size());
        const QString last = env.prompts.messages().constLast();
        if (restored.isEmpty()) {
            QCOMPARE(fileBytes(path), before);
            QVERIFY2(last.startsWith(QStringLiteral("バックアップから戻せませんでした。「notes.zmd」は元のままです。"))
                         && last.contains(QStringLiteral("別のバックアップを選んでください"))
                         && !last.contains(QStringLiteral("バックアップから復元")),
                     qPrintable(last));
        } else {
            QCOMPARE(last,
                     QStringLiteral("「notes.zmd」を %1 の状態に戻しました。").arg(items[chosen].section(u' ', 1)));
        }
        QCOMPARE(title(path), restored.isEmpty() ? QStringLiteral("後") : restored);
        QVERIFY(w.DBCheckOK());
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + path);
    }

    // A search index damaged in place is found once the window shows, and
    // built afresh in the background, as the status bar says: searches
    // find every note again.
    void damagedSearchIndexIsRebuilt()
    {
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        store::Database::open(path)->execute(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                           "INSERT INTO T_idea(naiyo) SELECT '会議の記録 ' || i FROM n"));
        QVERIFY(store::test::damageSearchIndex(path));
        QCOMPARE(store::Database::checkThoroughly(path), store::Database::Health::IndexDamaged);
        auto& w = env.loadWith(path);
        w.show();
        const auto* notice = w.findChild<QLabel*>(QStringLiteral("IndexNotice"));
        QTRY_VERIFY(notice->isVisible());
        QTRY_VERIFY(!notice->isVisible());
        QCOMPARE(store::Database::checkThoroughly(path), store::Database::Health::Sound);
        QVERIFY(w.currentDatabase()->searchIndexInStep());
        QCOMPARE(rowCount(*w.currentDatabase(),
                          QStringLiteral("select count(*) from T_idea where naiyo like '*会議*'")),
                 400);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // Damaged pages of notes the start does not read do not hold it up:
    // the window shows, and the check of the pages after that names the
    // damage at once.
    void damagedPagesAreReportedOnceShown()
    {
        Env env;
        const QString made = env.makeDatabase(QStringLiteral("data/made.zmd"));
        qint64 page = 0, pageSize = 0;
        {
            auto db = store::Database::open(made);
            db->execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                                       "INSERT INTO T_idea(naiyo) SELECT hex(randomblob(1500)) FROM n"));
            page = db->scalar(
                         QStringLiteral("SELECT max(pageno) FROM dbstat WHERE name = 'T_idea' AND pagetype = 'leaf'"))
                       .toLongLong();
            pageSize = db->scalar(QStringLiteral("PRAGMA page_size")).toLongLong();
        }
        QByteArray bytes = fileBytes(made);
        bytes.replace((page - 1) * pageSize, 8, QByteArray(8, '\x0d'));
        const QString path = env.writeFile(QStringLiteral("data/notes.zmd"), bytes);
        env.prompts.expectMessage(store::japaneseMessage(store::ErrorKind::Damaged, QStringLiteral("notes.zmd")),
                                  shell::Msg::Ok);
        auto& w = env.loadWith(path);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(env.prompts.allUsed());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(fileBytes(path), bytes);
    }

    // A file whose search index must be built afresh opens at once and
    // stays in use while the index is built: the status bar says so (the
    // grid's too), a note typed meanwhile is saved, and searches find it
    // during the build and after it.
    void searchIndexBuiltInTheBackground()
    {
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        {
            auto db = store::Database::open(path);
            db->execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                       "INSERT INTO T_idea(bunID, naiyo) SELECT 0, '会議の記録 ' || i FROM n"));
        }
        store::test::tool(path, "DROP TRIGGER zumilo_log_t_idea_delete;"); // the log is no longer whole
        if (QTest::currentTestFailed())
            return;
        store::detail::setIndexBuildSlice(40);
        const auto restore = qScopeGuard([] { store::detail::setIndexBuildSlice(0); });
        auto& w = env.loadWith(path);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto* notice = w.findChild<QLabel*>(QStringLiteral("IndexNotice"));
        QVERIFY(notice && notice->isVisible());
        QVERIFY(notice->text().startsWith(QStringLiteral("索引を再作成中")));
        // Never past the bar's edge: shortened, its whole text then its tip,
        // only while the bar lacks room.
        const int usual = w.width();
        w.resize(w.minimumWidth(), w.height());
        QTRY_VERIFY(notice->width() < notice->sizeHint().width());
        QCOMPARE(notice->toolTip(), notice->text());
        QVERIFY(w.statusBar()->rect().contains(notice->geometry()));
        w.resize(usual + notice->sizeHint().width(), w.height());
        QTRY_VERIFY(notice->width() >= notice->sizeHint().width());
        QVERIFY(notice->toolTip().isEmpty());

        w.editor()->titleBox()->setFocus();
        QTest::keyClicks(w.editor()->titleBox(), QStringLiteral("memo7"));
        QVERIFY(w.recordChanged());
        test::trigger(w, u"mnuUpdate");
        QVERIFY(!w.recordChanged());
        auto count = [&](const char* where) {
            return rowCount(*w.currentDatabase(),
                            QStringLiteral("select count(*) from T_idea where ") + QString::fromUtf8(where));
        };
        QCOMPARE(count("title like '*ＭＥＭＯ７*'"), 1);
        QVERIFY(notice->isVisible());
        // The grid, in the window's place meanwhile, says so too.
        test::clickTab(w, u"FindTab");
        const grid::GridWindow* grid = w.gridWindow();
        QVERIFY(grid && grid->isVisible() && !w.isVisible());
        const auto* gridNotice = grid->findChild<QLabel*>(QStringLiteral("IndexNotice"));
        QVERIFY(gridNotice && gridNotice->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(gridNotice->isHidden(), 60000);
        QTRY_VERIFY(notice->isHidden());
        QVERIFY(w.currentDatabase()->searchIndexInStep());
        QCOMPARE(count("title like '*ＭＥＭＯ７*'"), 1);
        QCOMPARE(count("naiyo like '*会議*'"), 3000);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // A title and a line of the body of megabytes written by another
    // program show in part, in the list as in the boxes: laying all of it
    // out would hold the window for many seconds. A save keeps them whole.
    void hugeValuesFromTheFile_data()
    {
        QTest::addColumn<QChar>("character");
        QTest::newRow("kanji") << QChar(0x4f1a);
        QTest::newRow("U+0000") << QChar(0);
    }
    void hugeValuesFromTheFile()
    {
        QFETCH(QChar, character);
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        const QString huge(5'000'000, character);
        store::Database::open(path)->execute(QStringLiteral(
                                                 "UPDATE T_idea SET bunID = 0, title = ?, naiyo = ? WHERE id = 1"),
                                             {huge, huge});
        auto& w = env.loadWith(path);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QAbstractItemModel* list = w.recordList()->model();
        QCOMPARE(list->rowCount(), 1);
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)})
            QCOMPARE(list->index(0, 0).data(role).toString(), QString(250, character));
        QCOMPARE(w.editor()->titleBox()->toPlainText(), QString(250, character));
        QVERIFY(w.editor()->titleBox()->isReadOnly());
        QCOMPARE(w.editor()->visibleBodyBox()->toPlainText(), huge.left(200'000));
        QVERIFY(w.editor()->visibleBodyBox()->isReadOnly());
        w.editor()->check(0)->click();
        test::trigger(w, u"mnuUpdate");
        QVERIFY(!w.recordChanged());
        auto db = store::Database::open(path);
        QCOMPARE(db->scalar(QStringLiteral("select jyuyoCK from T_idea where id = 1")).toInt(), -1);
        auto rs = db->openRecordset(QStringLiteral("select title, naiyo from T_idea where id = 1"));
        QCOMPARE(rs->text(QStringLiteral("title")), huge);
        QCOMPARE(rs->text(QStringLiteral("naiyo")), huge);
        // A copy takes the title's part shown (the whole one does not fit)
        // and the whole body.
        test::trigger(w, u"mnuUpdateAs");
        auto copy = db->openRecordset(QStringLiteral("select title, naiyo from T_idea where id <> 1"));
        QCOMPARE(copy->recordCount(), 1);
        QCOMPARE(copy->text(QStringLiteral("title")), huge.left(250));
        QCOMPARE(copy->text(QStringLiteral("naiyo")), huge);
    }

    // Quitting soon after a save, while the copy of the file as the run
    // found it is still under way: the window stays, disabled, says why,
    // and goes once the copy is done, which is kept.
    void quittingFinishesTheBackupFirst_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("main window, 終了") << QStringLiteral("main");
        QTest::newRow("grid, 終了") << QStringLiteral("grid");
        QTest::newRow("grid, close box") << QStringLiteral("grid close box");
    }
    void quittingFinishesTheBackupFirst()
    {
        QFETCH(QString, from);
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        store::setBackupFolder(env.path(QStringLiteral("backups")));
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> copying{false};
        store::detail::setBeforeCopy([&copying, released] {
            copying = true;
            released.wait();
        });
        bool let = false;
        const auto restore = qScopeGuard([&] {
            if (!let)
                release.set_value();
            store::detail::setBeforeCopy({});
            store::finishBackups();
            store::setBackupFolder({});
        });
        auto& w = env.loadWith(path);
        w.show();
        QTRY_VERIFY(copying);
        w.currentDatabase()->execute(QStringLiteral("UPDATE T_idea SET title='後の題' WHERE id=1"));
        if (from == QLatin1String("main")) {
            w.action(QStringLiteral("mnuEnd"))->trigger();
        } else {
            test::clickTab(w, u"FindTab");
            grid::GridWindow* grid = w.gridWindow();
            QVERIFY(grid && grid->isVisible() && !w.isVisible());
            grid->move(grid->pos() + QPoint(40, 30));
            const QRect place = grid->geometry();
            if (from == QLatin1String("grid"))
                test::trigger(*grid, u"mnuEnd");
            else
                grid->windowHandle()->close();
            QVERIFY(!grid->isVisible());
            QCOMPARE(w.geometry(), place);
        }
        QVERIFY(w.isVisible());
        QVERIFY(!w.isEnabled());
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("バックアップを仕上げています…"));
        let = true;
        release.set_value();
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(int(store::listBackups(path).size()), 1);
    }

    // A backup that cannot be made (a file stands where its folder should
    // be) is said in the status bar, with its cause; the notes are as they
    // were and saves go on.
    void backupThatCannotBeMadeIsSaid()
    {
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        store::Database::open(path)->execute(QStringLiteral("UPDATE T_idea SET bunID = 0"));
        const QByteArray before = fileBytes(path);
        store::setBackupFolder(env.writeFile(QStringLiteral("backups"), "not a folder"));
        const auto restore = qScopeGuard([] {
            store::finishBackups();
            store::setBackupFolder({});
        });
        auto& w = env.loadWith(path);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto* notice = w.findChild<QLabel*>(QStringLiteral("BackupNotice"));
        QVERIFY(notice);
        QTRY_VERIFY(notice->isVisible());
        QCOMPARE(notice->text(), QStringLiteral("⚠ バックアップを作れませんでした"));
        QCOMPARE(notice->toolTip(), QStringLiteral("「notes.zmd」のバックアップを作れませんでした（保存先のフォルダーに"
                                                   "書き込めません）。データは保存されています。"));
        QCOMPARE(fileBytes(path), before);
        w.editor()->titleBox()->setFocus();
        QTest::keyClicks(w.editor()->titleBox(), QStringLiteral("memo9"));
        QTest::keyClick(w.editor()->titleBox(), Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(!w.recordChanged());
        QCOMPARE(rowCount(*w.currentDatabase(),
                          QStringLiteral("select count(*) from T_idea where title like '*memo9*'")),
                 1);

        // The notice speaks of the file open: another one, backed up, has
        // none; back on the first, it stands again.
        store::finishBackups();
        QVERIFY(QDir().mkpath(env.path(QStringLiteral("good"))));
        store::setBackupFolder(env.path(QStringLiteral("good")));
        const QString other = env.makeDatabase(QStringLiteral("data/other.zmd"));
        env.prompts.expectOpenFile(other);
        test::trigger(w, u"mnuOpenDB");
        QCOMPARE(env.state->DatabasePath, other);
        QVERIFY(!notice->isVisible());
        store::finishBackups();
        QCoreApplication::processEvents();
        QVERIFY(!notice->isVisible());
        QCOMPARE(int(store::listBackups(other).size()), 1);
        env.prompts.expectOpenFile(path);
        test::trigger(w, u"mnuOpenDB");
        QVERIFY(notice->isVisible());
        QVERIFY(notice->toolTip().startsWith(QStringLiteral("「notes.zmd」")));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // Looking at a backup leaves it as it was taken.
    void openingABackupWritesNothing()
    {
        Env env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"));
        store::Database::open(path)->execute(QStringLiteral("UPDATE T_idea SET title='元' WHERE id=1"));
        store::setBackupFolder(env.path(QStringLiteral("backups")));
        store::Database::open(path)->execute(QStringLiteral("UPDATE T_idea SET title='後' WHERE id=1"));
        store::finishBackups();
        const QString backup = store::listBackups(path).at(0).path;
        const QByteArray before = fileBytes(backup);
        auto& w = env.loadWith(path);
        w.switchTo(backup);
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + backup);
        QCOMPARE(
            w.currentDatabase()->scalar(QStringLiteral("select count(*) from T_idea where title like '*元*'")).toInt(),
            1);
        QVERIFY(!store::tryStep([&] { w.currentDatabase()->execute(QStringLiteral("UPDATE T_idea SET title='x'")); }));
        w.close();
        QCoreApplication::processEvents();
        QCOMPARE(fileBytes(backup), before);
        store::setBackupFolder({});
    }
};

QTEST_MAIN(TestDatabaseFiles)
#include "tst_databasefiles.moc"

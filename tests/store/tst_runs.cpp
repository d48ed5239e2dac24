// Whole runs of the program's store in child processes: killed in the
// middle of saving, and backed up before each run's first write.
#include "storefixture.h"

#include "store/backup.h"
#include "store/indexbuild.h"
#include "store/recordset.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <thread>

using namespace zumilo::store;

namespace {

QString body(qint64 version)
{
    return QStringLiteral("本文%1 ").arg(version).repeated(20 + int(version % 400));
}

// The child: saves notes the way the windows do, from version `first` on,
// `count` of them (forever when negative), each reported once it is done.
int saveNotes(const QString& path, qint64 first, qint64 count, const QString& backups, int generations)
{
    setBackupFolder(backups, generations);
    auto db = Database::open(path);
    auto rs = db->openRecordset(QStringLiteral("select * from T_idea order by title"));
    for (qint64 v = first; count < 0 || v < first + count; ++v) {
        qint64 id = 0;
        db->transaction([&] {
            const qint64 last = db->scalar(QStringLiteral("select max(id) from T_idea")).toLongLong();
            if (v % 3 == 0 && last > 1) {
                id = 1 + v % last;
                rs->setBookmark(id);
                rs->edit();
            } else {
                id = last + 1;
                rs->addNew();
                rs->setValue(QStringLiteral("id"), id);
            }
            rs->setText(QStringLiteral("title"), QStringLiteral("v%1").arg(v));
            rs->setText(QStringLiteral("naiyo"), body(v));
            rs->setText(QStringLiteral("kousindate"), QStringLiteral("2026/12/06"));
            rs->update();
        });
        std::printf("%lld %lld\n", id, v);
        std::fflush(stdout);
    }
    rs.reset();
    db.reset();
    stopBackups();
    return 0;
}

// The child: opens a file whose index is behind, as the program does (its
// catch-up at the open, a build in the background, `sliceRows` a slice),
// telling each step of either, and waits for the build to end.
int openIndex(const QString& path, qint64 sliceRows, const QString& backups)
{
    setBackupFolder(backups);
    detail::setIndexBuildSlice(sliceRows, [](qint64 rows) {
        std::printf("slice %lld\n", rows);
        std::fflush(stdout);
    });
    auto db = Database::open(path, [](qint64 done, qint64 total) {
        std::printf("caught %lld %lld\n", done, total);
        std::fflush(stdout);
    });
    while (db->searchIndexBuilding())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    db.reset();
    stopBackups();
    return 0;
}

// Starts the child and kills it once it has told `steps` lines (unless it
// ended before); adds one to `killed` when it did.
void killAfter(const QStringList& arguments, int steps, int& killed)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(child.waitForStarted());
    QByteArray out;
    while (out.count('\n') < steps && child.waitForReadyRead(30000))
        out += child.readAllStandardOutput();
    if (child.state() != QProcess::NotRunning) {
        ++killed;
        child.kill();
        QVERIFY(child.waitForFinished(30000));
    }
    QVERIFY2(child.exitStatus() == QProcess::CrashExit || child.exitCode() == 0,
             child.readAllStandardError().constData());
}

// Changes, additions and deletions of random notes by a plain connection
// (another program); with `unlogged` a log trigger goes first, so that the
// next open builds the index afresh.
void changeElsewhere(const QString& path, test::Random& r, bool unlogged)
{
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    const auto close = qScopeGuard([&] { sqlite3_close(other); });
    auto run = [&](const char* sql, const QVariantList& values = {}) {
        sqlite3_stmt* st = nullptr;
        QCOMPARE(sqlite3_prepare_v2(other, sql, -1, &st, nullptr), SQLITE_OK);
        for (int i = 0; i < values.size(); ++i) {
            const QByteArray text = values[i].toString().toUtf8();
            if (values[i].isNull())
                sqlite3_bind_null(st, i + 1);
            else if (values[i].typeId() == QMetaType::QString)
                sqlite3_bind_text(st, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            else
                sqlite3_bind_int64(st, i + 1, values[i].toLongLong());
        }
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        QVERIFY2(rc == SQLITE_DONE, sqlite3_errmsg(other));
    };
    run("BEGIN");
    if (unlogged)
        run("DROP TRIGGER IF EXISTS zumilo_log_t_idea_delete");
    for (int i = 0; i < 1500; ++i) {
        const int id = 1 + r.below(3500);
        switch (r.below(4)) {
        case 0:
            run("INSERT INTO T_idea(title, naiyo, bunrui) VALUES(?, ?, ?)", {r.text(), r.text(), r.text()});
            break;
        case 1:
            run("DELETE FROM T_idea WHERE id = ?", {id});
            break;
        default:
            run("UPDATE T_idea SET title = ?, naiyo = ? WHERE id = ?", {r.text(), r.text(), id});
        }
    }
    run("UPDATE T_bunrui SET bunrui = ? WHERE bunID = ?", {r.text(), r.below(40)});
    run("COMMIT");
}

QStringList childArguments(const QString& path, qint64 first, qint64 count, const QString& backups, int generations = 5)
{
    return {QStringLiteral("--save-notes"), path,    QString::number(first),
            QString::number(count),         backups, QString::number(generations)};
}

// One run of the program that saves `count` notes and ends.
int runChild(const QStringList& arguments)
{
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), arguments);
    return child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

QString newNotesFile(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("notes.zmd"));
    createZumiloDatabase(path, true);
    return path;
}

QString titles(const QString& path)
{
    return Database::open(path)->scalar(QStringLiteral("select group_concat(title) from T_idea")).toString();
}

} // namespace

class TestRuns : public QObject {
    Q_OBJECT

private slots:
    // Killed at random moments: every save reported done is there, and the
    // file is sound. ZUMILO_CRASH_KILLS=1000 for a long run.
    void killedWhileSaving()
    {
        SKIP_IF_CHILDREN_CANNOT_RUN();
        const int kills = qEnvironmentVariableIntValue("ZUMILO_CRASH_KILLS") > 0
                              ? qEnvironmentVariableIntValue("ZUMILO_CRASH_KILLS")
                              : 8;
        QTemporaryDir dir;
        const QString path = newNotesFile(dir);
        QHash<qint64, qint64> reported; // note -> last version reported saved
        int saves = 0, lost = 0, corrupted = 0;
        QRandomGenerator random(test::randomSeed());
        for (int k = 0; k < kills; ++k) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        childArguments(path, (k + 1) * qint64(1000000), -1, dir.filePath(QStringLiteral("backups"))));
            QVERIFY(child.waitForStarted());
            const int wanted = random.bounded(1, 40);
            QByteArray out;
            while (out.count('\n') < wanted && child.waitForReadyRead(30000))
                out += child.readAllStandardOutput();
            child.kill();
            QVERIFY(child.waitForFinished(30000));
            out += child.readAllStandardOutput();
            QVERIFY2(out.count('\n') >= wanted, child.readAllStandardError().constData());
            for (const QByteArray& line : out.split('\n')) {
                const QList<QByteArray> f = line.split(' ');
                if (f.size() == 2) {
                    reported[f[0].toLongLong()] = f[1].toLongLong();
                    ++saves;
                }
            }
            auto db = Database::open(path);
            corrupted += db->scalar(QStringLiteral("pragma integrity_check")).toString() != QLatin1String("ok");
            for (auto it = reported.cbegin(); it != reported.cend(); ++it) {
                auto rs = db->openRecordset(QStringLiteral("select title, naiyo from T_idea where id = ?"), {it.key()});
                const qint64 v = rs->recordCount() ? rs->text(QStringLiteral("title")).mid(1).toLongLong() : -1;
                lost += v < it.value() || rs->text(QStringLiteral("naiyo")) != body(v);
            }
        }
        qInfo("kills %d, saves reported %d, lost %d, corrupted %d", kills, saves, lost, corrupted);
        QCOMPARE(lost, 0);
        QCOMPARE(corrupted, 0);
    }

    // Killed at random moments of the index's catch-up at the open and of
    // its build in the background, after another program changed the
    // notes: the next open gives every search what reading the rows gives.
    void killedWhileIndexing()
    {
        SKIP_IF_CHILDREN_CANNOT_RUN();
        const int kills = qEnvironmentVariableIntValue("ZUMILO_CRASH_KILLS") > 0
                              ? qEnvironmentVariableIntValue("ZUMILO_CRASH_KILLS")
                              : 6;
        test::NotesFile f;
        test::Random r;
        test::fillRandomly(f, r, 3000);
        const QString backups = f.dir.filePath(QStringLiteral("backups"));
        int killed = 0;
        for (int k = 0; k < kills; ++k) {
            const bool build = k % 2;
            changeElsewhere(f.path, r, build);
            if (QTest::currentTestFailed())
                return;
            // A catch-up tells of every 200 of its 1500 changes, a build of
            // every slice of 40 of its 3000 notes.
            killAfter({QStringLiteral("--open-index"), f.path, QString::number(build ? 40 : 20000), backups},
                      1 + r.below(build ? 70 : 9), killed);
            auto db = Database::open(f.path);
            QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
            QCOMPARE(db->scalar(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
            test::compareWithScanning(*db, r);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("runs %d, killed before the end %d", kills, killed);
    }

    // Each run that writes is backed up first; a run that changes nothing
    // adds no backup; the oldest go.
    void backupBeforeEachRun()
    {
        SKIP_IF_CHILDREN_CANNOT_RUN();
        QTemporaryDir dir;
        const QString path = newNotesFile(dir);
        const QString backups = dir.filePath(QStringLiteral("backups"));
        QStringList states{titles(path)};
        for (int n = 0; n < 5; ++n) {
            QCOMPARE(runChild(childArguments(path, n + 1, n == 2 ? 0 : 1, backups)), 0);
            if (n != 2)
                states.prepend(titles(path));
        }
        setBackupFolder(backups);
        const std::vector<Backup> list = listBackups(path);
        QCOMPARE(int(list.size()), 4); // the run after the one that wrote nothing had nothing new to copy
        for (size_t i = 0; i < list.size(); ++i)
            QCOMPARE(titles(list[i].path), states[qsizetype(i) + 1]);
        QCOMPARE(runChild(childArguments(path, 9, 1, backups, 2)), 0);
        QCOMPARE(int(listBackups(path).size()), 2);
        setBackupFolder({});
    }

    // The backup taken at the opening holds the file as it was before the
    // save made at once; it comes back in place of the file, which is kept.
    void restore()
    {
        QTemporaryDir dir;
        const QString path = newNotesFile(dir);
        setBackupFolder(dir.filePath(QStringLiteral("backups")));
        auto db = Database::open(path);
        db->execute(QStringLiteral("update T_idea set title = 'now'"));
        finishBackups();
        QCOMPARE(int(listBackups(path).size()), 1);
        const Backup backup = listBackups(path).at(0);

        STORE_THROWS(restoreBackup(backup, path), ErrorKind::InUse);
        db->close();
        QCOMPARE(titles(path), QStringLiteral("now"));

        // A journal a crash left beside the file belongs to the file replaced.
        QFile journal(path + QStringLiteral("-journal"));
        QVERIFY(journal.open(QIODevice::WriteOnly) && journal.write(QByteArray(512, '\1')) == 512);
        journal.close();
        restoreBackup(backup, path);
        QCOMPARE(titles(path), QString());
        QVERIFY(!QFile::exists(journal.fileName()));
        const QStringList kept = QDir(QFileInfo(backup.path).path()).entryList({QStringLiteral("*-replaced.zmd")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(titles(QFileInfo(backup.path).dir().filePath(kept[0])), QStringLiteral("now"));
        stopBackups(); // as the program does before it ends
        setBackupFolder({});
    }
};

int main(int argc, char** argv)
{
    if (argc == 7 && qstrcmp(argv[1], "--save-notes") == 0)
        return saveNotes(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong(),
                         QByteArray(argv[4]).toLongLong(), QString::fromLocal8Bit(argv[5]),
                         QByteArray(argv[6]).toInt());
    if (argc == 5 && qstrcmp(argv[1], "--open-index") == 0)
        return openIndex(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong(),
                         QString::fromLocal8Bit(argv[4]));
    QCoreApplication app(argc, argv);
    TestRuns test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runs.moc"

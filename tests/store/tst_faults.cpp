#include "storefixture.h"

#include "store/backup.h"
#include "store/filestate.h"
#include "store/indexbuild.h"
#include "store/recordset.h"
#include "store/snapshot.h"
#include "store/schema.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <condition_variable>
#include <csignal>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace zumilo::store;
using namespace Qt::StringLiterals;
using zumilo::store::test::NotesFile;

namespace {

// An SQLite VFS over the system's that fails one chosen call: the nth
// write, sync, read, delete or journal creation after it is armed.
enum class Call { Write, Sync, Read, Delete, OpenJournal };

struct Fault {
    Call call = Call::Write;
    int code = SQLITE_OK;
    int countdown = 0; // 0: disarmed
    bool fired = false;

    int hit(Call c)
    {
        if (countdown == 0 || c != call || --countdown > 0)
            return SQLITE_OK;
        fired = true;
        return code;
    }
} fault;

// A slow disk, and a gate that holds every write to a backup's part file.
std::atomic<int> readDelayUs{0};
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool closed = false;
    std::set<sqlite3_file*> parts;

    void hold(bool on)
    {
        std::lock_guard lock(mutex);
        closed = on;
        if (!on) {
            parts.clear();
            opened.notify_all();
        }
    }
    void pass(sqlite3_file* f)
    {
        std::unique_lock lock(mutex);
        if (parts.count(f))
            opened.wait(lock, [&] { return !closed; });
    }
} gate;

sqlite3_vfs* systemVfs = nullptr;
sqlite3_vfs faultyVfs;
// The system's method tables (databases and journals have their own), each
// with a copy whose reads, writes and syncs may fail first.
std::list<std::pair<const sqlite3_io_methods*, sqlite3_io_methods>> tables;

const sqlite3_io_methods* real(sqlite3_file* f)
{
    for (const auto& [system, faulty] : tables) {
        if (&faulty == f->pMethods)
            return system;
    }
    return f->pMethods;
}

const sqlite3_io_methods* faulty(const sqlite3_io_methods* system)
{
    for (const auto& [s, faulty] : tables) {
        if (s == system)
            return &faulty;
    }
    sqlite3_io_methods io = *system;
    io.xRead = [](sqlite3_file* f, void* data, int n, sqlite3_int64 at) {
        if (const int us = readDelayUs)
            std::this_thread::sleep_for(std::chrono::microseconds(us));
        const int rc = fault.hit(Call::Read);
        return rc ? rc : real(f)->xRead(f, data, n, at);
    };
    io.xWrite = [](sqlite3_file* f, const void* data, int n, sqlite3_int64 at) {
        gate.pass(f);
        const int rc = fault.hit(Call::Write);
        return rc ? rc : real(f)->xWrite(f, data, n, at);
    };
    io.xSync = [](sqlite3_file* f, int flags) {
        const int rc = fault.hit(Call::Sync);
        return rc ? rc : real(f)->xSync(f, flags);
    };
    return &tables.emplace_back(system, io).second;
}

void registerFaultyVfs()
{
    systemVfs = sqlite3_vfs_find(nullptr);
    faultyVfs = *systemVfs;
    faultyVfs.zName = "faulty";
    faultyVfs.xOpen = [](sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
        if (flags & SQLITE_OPEN_MAIN_JOURNAL) {
            if (const int rc = fault.hit(Call::OpenJournal))
                return rc;
        }
        const int rc = systemVfs->xOpen(systemVfs, name, f, flags, outFlags);
        if (f->pMethods)
            f->pMethods = faulty(f->pMethods);
        if (name && QByteArray(name).endsWith(".part")) {
            std::lock_guard lock(gate.mutex);
            if (gate.closed)
                gate.parts.insert(f);
        }
        return rc;
    };
    faultyVfs.xDelete = [](sqlite3_vfs*, const char* name, int syncDir) {
        const int rc = fault.hit(Call::Delete);
        return rc ? rc : systemVfs->xDelete(systemVfs, name, syncDir);
    };
    sqlite3_vfs_register(&faultyVfs, 1);
}

// Everything a file holds that a user would miss, read by any connection.
QString contents(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "select (select group_concat(id||title||ifnull(naiyo,'')||bunID||bunrui, ';') from T_idea)"
                       "||'#'||(select group_concat(bunID||bunrui||oyabunID, ';') from T_bunrui)",
                       -1, &st, nullptr);
    const QString text = sqlite3_step(st) == SQLITE_ROW
                             ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))
                             : QString();
    sqlite3_finalize(st);
    return text;
}

QString contents(Database& db)
{
    return contents(db.handle());
}

// The writes of the windows as they make them: the statements of a row in
// one transaction, or by its name a write through a recordset, creating a
// file, exporting.
void write(Database& db, const QString& folder, const QStringList& statements)
{
    const QByteArray name = QTest::currentDataTag();
    if (name == "create file")
        return createZumiloDatabase(folder + QStringLiteral("/new.zmd"), true);
    if (!statements.isEmpty())
        return db.transaction([&] {
            for (const QString& sql : statements)
                db.execute(QString(sql).replace(QStringLiteral("FOLDER"), folder));
        });
    auto rs = db.openRecordset(QStringLiteral("select * from T_idea where bunid=1 order by title"));
    const int before = rs->recordCount();
    try {
        db.transaction([&] {
            if (name == "delete note")
                return rs->deleteCurrent();
            name == "edit note" ? rs->edit() : rs->addNew();
            rs->setText(QStringLiteral("naiyo"), QString(5000, QChar(0x3042)));
            rs->setText(QStringLiteral("kousindate"), QStringLiteral("2026/12/06"));
            if (name == "save new note")
                rs->setValue(QStringLiteral("id"), db.scalar(QStringLiteral("select max(id)+1 from T_idea")));
            rs->update();
        });
    } catch (const StoreError&) {
        QCOMPARE(rs->recordCount(), before); // no row the table does not hold
        throw;
    }
}

ErrorKind kindFor(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return ErrorKind::DiskFull;
    case SQLITE_CANTOPEN:
        return ErrorKind::CannotOpen;
    default:
        return ErrorKind::Io;
    }
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Closes the file indexed and merged whole: a build or merge cut short by
// the close goes on at the next open, over whatever a test did meanwhile.
void closeSettled(NotesFile& f)
{
    f.db->close();
    const auto db = f.openAgain();
    const QString canonical = QFileInfo(f.path).canonicalFilePath();
    if (!QTest::qWaitFor([&] { return !detail::indexBuildBusy(canonical); }, 120000))
        qFatal("the index of the test's file was not built");
    db->close();
}

// A notes file, indexed and closed, whose notes fill a few hundred pages.
std::unique_ptr<NotesFile> manyPages()
{
    auto f = std::make_unique<NotesFile>(400);
    f->db->execute(QStringLiteral("update T_idea set naiyo = hex(randomblob(1500))"));
    closeSettled(*f);
    return f;
}

// Less than the index of manyPages() takes, more than the open's first
// slice of it writes.
constexpr qint64 kSnapshotLimit = 512 << 10;

// The run's backup held at the gate, with a snapshot that keeps less than
// the search index takes, while opens write to the index in slices of ten
// notes; release() lets it go and checks that it holds `before`.
struct HeldBackup {
    QTemporaryDir folder;

    HeldBackup()
    {
        setBackupFolder(folder.path());
        detail::setSnapshotLimit(kSnapshotLimit);
        detail::setIndexBuildSlice(10);
        gate.hold(true);
    }
    ~HeldBackup()
    {
        gate.hold(false);
        setBackupFolder({});
        detail::setSnapshotLimit(0);
        detail::setIndexBuildSlice(0);
    }
    void release(const QString& path, const QString& before)
    {
        gate.hold(false);
        finishBackups();
        const auto list = listBackups(path);
        QCOMPARE(int(list.size()), 1);
        QCOMPARE(contents(*Database::open(list[0].path)), before);
    }
};

struct Tally {
    int injected = 0, reported = 0, reportedAsSuccess = 0;
} tally;

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { registerFaultyVfs(); }

    void cleanupTestCase()
    {
        qInfo("faults injected %d, reported %d, reported as success %d", tally.injected, tally.reported,
              tally.reportedAsSuccess);
    }

    // Each write fails at each of its calls in turn: it says so with the
    // failure's own message, and the file holds all it held before.
    void failuresAreReportedAndLoseNothing_data()
    {
        QTest::addColumn<QStringList>("statements");
        for (const char* name : {"save new note", "edit note", "delete note", "create file"})
            QTest::newRow(name) << QStringList();
        QTest::newRow("add category") << QStringList{
            u"INSERT INTO T_bunrui(bunid,bunrui,oyabunid) VALUES(4,'新分類',0)"_s};
        QTest::newRow("rename category") << QStringList{u"UPDATE T_bunrui SET bunrui='改名' WHERE bunID=1"_s,
                                                        u"UPDATE T_idea SET bunrui='改名' WHERE bunID=1"_s};
        QTest::newRow("move category") << QStringList{u"UPDATE T_bunrui SET oyabunid=2 WHERE bunID=1"_s};
        QTest::newRow("move note") << QStringList{u"UPDATE T_idea SET bunID=2, bunrui='二' WHERE ID=5"_s};
        QTest::newRow("delete category") << QStringList{u"DELETE FROM T_bunrui WHERE bunID=2"_s};
        QTest::newRow("export") << QStringList{u"select * into [Text;database=FOLDER].out.csv from T_idea"_s};
    }
    void failuresAreReportedAndLoseNothing()
    {
        QFETCH(QStringList, statements);
        NotesFile base(12);
        for (int i = 1; i <= 3; ++i)
            base.db->execute(QStringLiteral("insert into T_bunrui values(?, ?, 0)"),
                             {i, QStringLiteral("分類%1").arg(i)});
        base.db->execute(QStringLiteral("update T_idea set naiyo = hex(randomblob(3000)), bunrui = 'b'"));
        const QString before = contents(*base.db);
        closeSettled(base);
        auto copy = [&](const QTemporaryDir& dir) {
            const QString path = dir.filePath(QStringLiteral("notes.zmd"));
            return QFile::copy(base.path, path) ? Database::open(path) : nullptr;
        };
        QTemporaryDir clean;
        write(*copy(clean), clean.path(), statements);
        const QString after = contents(*Database::open(clean.filePath(QStringLiteral("notes.zmd"))));

        const std::pair<Call, int> kinds[] = {
            {Call::Write, SQLITE_FULL},      {Call::Write, SQLITE_IOERR_WRITE},   {Call::Sync, SQLITE_IOERR_FSYNC},
            {Call::Read, SQLITE_IOERR_READ}, {Call::Delete, SQLITE_IOERR_DELETE}, {Call::OpenJournal, SQLITE_CANTOPEN}};
        for (const auto& [call, code] : kinds) {
            for (int nth = 1;; ++nth) {
                QTemporaryDir dir;
                bool failed = false;
                std::shared_ptr<Database> db = copy(dir);
                fault = {call, code, nth, false};
                try {
                    write(*db, dir.path(), statements);
                } catch (const StoreError& e) {
                    failed = true;
                    QVERIFY2(fault.fired, e.what());
                    QCOMPARE(e.kind(), kindFor(code));
                }
                fault.countdown = 0;
                db.reset();
                if (!fault.fired)
                    break;
                ++tally.injected;
                tally.reported += failed;
                tally.reportedAsSuccess += !failed;
                db = Database::open(dir.filePath(QStringLiteral("notes.zmd")));
                QCOMPARE(db->scalar(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
                QCOMPARE(contents(*db), failed ? before : after);
                QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(),
                         failed ? 1 : QDir(clean.path()).entryList(QDir::Files).size());
            }
        }
    }

    // A save right after opening waits for no backup: the copy goes on
    // beside it (here it is held until the saves are done) and still holds
    // the file as the run found it.
    void savesWaitForNoBackup()
    {
        const auto f = manyPages();
        const QString before = contents(*f->openAgain());
        QTemporaryDir backups;
        setBackupFolder(backups.path());
        gate.hold(true);
        auto db = f->openAgain();
        db->execute(QStringLiteral("update T_idea set title = 'あと' where id = 1"));
        db->execute(QStringLiteral("delete from T_idea where id = 2"));
        QVERIFY(listBackups(f->path).empty()); // its copy is still held
        const QString after = contents(*db);
        db->close();
        gate.hold(false);
        finishBackups();
        const auto list = listBackups(f->path);
        QCOMPARE(int(list.size()), 1);
        QCOMPARE(contents(*Database::open(list[0].path)), before);
        QCOMPARE(contents(*f->openAgain()), after);
        setBackupFolder({});
    }

    // Damaged note pages on a slow disk: the file opens without reading
    // them, their check takes its time, and no write reaches the file, not
    // while it runs (the write waits and says so) and not after it. The
    // check the window runs once the file is shown names the damage.
    void noWriteBeforeThePagesPass_data()
    {
        QTest::addColumn<bool>("writeFirst");
        QTest::newRow("check when shown") << false;
        QTest::newRow("write at once") << true;
    }
    void noWriteBeforeThePagesPass()
    {
        QFETCH(bool, writeFirst);
        const auto f = manyPages();
        qsizetype root = 0, pageSize = 0;
        {
            auto db = f->openAgain();
            root = db->scalar(QStringLiteral("select rootpage from sqlite_master where name = 'T_idea'")).toLongLong();
            pageSize = db->scalar(QStringLiteral("pragma page_size")).toLongLong();
        }
        QByteArray bytes = bytesOf(f->path);
        QVERIFY(root > 1 && bytes.size() > 300 * pageSize);
        bytes.replace((root - 1) * pageSize, 8, QByteArray(8, '\x0d'));
        // Another file: this run has not checked it yet.
        const QString path = f->dir.filePath(QStringLiteral("damaged.zmd"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();

        int told = 0, over = 0;
        Database::setWaitNotice([&](bool waiting) { ++(waiting ? told : over); });
        readDelayUs = 3000;
        auto db = Database::open(path);
        if (!writeFirst)
            QCOMPARE(Database::checkThoroughly(path), Database::Health::Damaged);
        for (const char* sql :
             {"insert into T_idea(title, bunID) values('新', 0)", "update T_idea set title = '改' where id = 5",
              "delete from T_idea where id = 6", "insert into T_bunrui values(9, '分類', 0)"})
            STORE_THROWS(db->execute(QString::fromUtf8(sql)), ErrorKind::Damaged);
        readDelayUs = 0;
        Database::setWaitNotice({});
        QCOMPARE(told > 0, writeFirst);
        QCOMPARE(over, writeFirst ? 1 : 0);
        db->close();
        QCOMPARE(bytesOf(path), bytes);
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
    }

    // The program's end stops the pages' checks and the thorough one, and
    // none starts after it: a write meanwhile is refused and the file is
    // left as it was, until a file is opened again.
    void nothingStartsAfterTheEnd()
    {
        const auto f = manyPages();
        const QString path = f->dir.filePath(QStringLiteral("copy.zmd")); // not checked in this run
        QVERIFY(QFile::copy(f->path, path));
        auto db = Database::open(path);
        stopBackups();
        const QByteArray bytes = bytesOf(path);
        STORE_THROWS(db->execute(QStringLiteral("update T_idea set title = '後' where id = 1")), ErrorKind::Cancelled);
        QCOMPARE(Database::checkThoroughly(path), Database::Health::Unchecked);
        QCOMPARE(bytesOf(path), bytes);
        auto again = Database::open(path);
        again->execute(QStringLiteral("update T_idea set title = '後' where id = 1"));
        QCOMPARE(Database::checkThoroughly(path), Database::Health::Sound);
    }

    // Another program holding its write lock: the end of the run does not
    // wait for it to let go of the file whose pages are being checked.
    void theEndWaitsForNoLock()
    {
        const auto f = manyPages();
        const QString path = f->dir.filePath(QStringLiteral("copy.zmd")); // not checked in this run
        QVERIFY(QFile::copy(f->path, path));
        auto db = Database::open(path);
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        std::atomic<bool> waiting{false};
        std::atomic<ErrorKind> outcome{ErrorKind::Other};
        std::thread writer([&] {
            try {
                detail::passPageCheck(detail::identify(path), [&](bool w) { waiting = waiting || w; });
            } catch (const StoreError& e) {
                outcome = e.kind();
            }
        });
        QTRY_VERIFY(waiting.load());
        QElapsedTimer clock;
        clock.start();
        stopBackups();
        const qint64 took = clock.elapsed();
        writer.join();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY2(took < 1000, QByteArray::number(took).constData());
        QCOMPARE(outcome.load(), ErrorKind::Cancelled);
        auto again = Database::open(path);
        again->execute(QStringLiteral("update T_idea set title = '後' where id = 1"));
    }

    // A thorough check that cannot run now (another program holds the
    // file's lock, a save is on its way and would wait behind it) is to
    // be tried again, not taken for sound.
    void thoroughCheckGivesWay_data()
    {
        QTest::addColumn<bool>("otherProgram");
        QTest::newRow("another program's lock") << true;
        QTest::newRow("a save on its way") << false;
    }
    void thoroughCheckGivesWay()
    {
        QFETCH(bool, otherProgram);
        const auto f = manyPages();
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f->path).constData(), &other), SQLITE_OK);
        const auto close = qScopeGuard([&] { sqlite3_close(other); });
        {
            std::optional<detail::WriteComing> save;
            if (!otherProgram)
                save.emplace(QFileInfo(f->path).canonicalFilePath());
            else
                QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
            QCOMPARE(Database::checkThoroughly(f->path), Database::Health::Unchecked);
            sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        QCOMPARE(Database::checkThoroughly(f->path), Database::Health::Sound);
    }

    // A file another program left with a write-ahead log: leaving the log
    // writes to the file, so the open waits for the pages' check first. A
    // damaged file is refused and left exactly as it was; a sound one is
    // one file again and backed up.
    void writeAheadLogLeftAfterTheCheck_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("sound") << false;
        QTest::newRow("damaged") << true;
    }
    void writeAheadLogLeftAfterTheCheck()
    {
        QFETCH(bool, damaged);
        const auto f = manyPages();
        // Another file: this run has not checked it yet.
        const QString path = f->dir.filePath(QStringLiteral("logged.zmd"));
        QVERIFY(QFile::copy(f->path, path));
        const auto root = test::rootPage(path, "T_idea");
        {
            sqlite3* other = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
            QCOMPARE(sqlite3_exec(other, "pragma journal_mode=wal", nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(other);
        }
        QByteArray bytes = bytesOf(path);
        QVERIFY(root.page > 1 && bytes.at(18) == 2);
        if (damaged) {
            bytes.replace(root.offset(), 8, QByteArray(8, '\x0d'));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.close();
            STORE_THROWS(Database::open(path), ErrorKind::Damaged);
            QCOMPARE(bytesOf(path), bytes);
            return;
        }
        QTemporaryDir backups;
        setBackupFolder(backups.path());
        const auto noBackups = qScopeGuard([] { setBackupFolder({}); });
        const QString before = contents(*Database::open(path));
        QCOMPARE(bytesOf(path).at(18), char(1));
        auto db = Database::open(path);
        db->execute(QStringLiteral("update T_idea set title = 'あと' where id = 1"));
        db->close();
        finishBackups();
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
        const auto list = listBackups(path);
        QCOMPARE(int(list.size()), 1);
        QCOMPARE(contents(*Database::open(list[0].path)), before);
    }

    // Another program left the index more to do than an open does at once
    // (a log no longer whole, many changes, a long log): the open leaves it
    // to the background, which waits for the run's backup (its snapshot
    // keeps less here than the index writes), then builds afresh or catches
    // up a slice at a time, each change once and each slice a full share
    // however long the log still is. Searches read every row meanwhile.
    void indexedInTheBackgroundAfterTheBackup_data()
    {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<qint64>("perSlice");
        QTest::addColumn<bool>("caughtUp");
        QTest::newRow("log not whole") << QByteArray("drop trigger zumilo_log_t_idea_delete") << qint64(10) << false;
        QTest::newRow("many large notes")
            << QByteArray("update T_idea set naiyo = '会議' || hex(randomblob(1500)) where id % 4 <> 0") << qint64(10)
            << true;
        QTest::newRow("long log") << QByteArray("insert into T_idea(title, naiyo, bunrui) select a.title, b.title || "
                                                "' 会議', a.bunrui from T_idea a, T_idea b limit 7000")
                                  << qint64(400) << true;
    }
    void indexedInTheBackgroundAfterTheBackup()
    {
        QFETCH(QByteArray, change);
        QFETCH(qint64, perSlice);
        QFETCH(bool, caughtUp);
        const auto f = manyPages();
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f->path).constData(), &other), SQLITE_OK);
        const auto closeOther = qScopeGuard([&] { sqlite3_close(other); });
        QVERIFY2(sqlite3_exec(other, change.constData(), nullptr, nullptr, nullptr) == SQLITE_OK,
                 sqlite3_errmsg(other));
        const QString before = contents(other);
        sqlite3_stmt* count = nullptr;
        QCOMPARE(sqlite3_prepare_v2(other, "select count(*) from zumilo_index_changes", -1, &count, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(count), SQLITE_ROW);
        const qint64 logged = sqlite3_column_int64(count, 0);
        sqlite3_finalize(count);
        HeldBackup backup;
        std::atomic<qint64> rows{0};
        std::atomic<int> slices{0};
        detail::setIndexBuildSlice(perSlice, [&](qint64 n) {
            rows += n;
            ++slices;
        });
        auto db = f->openAgain();
        // Untouched by the open: the whole log is left to the background.
        QCOMPARE(db->scalar(QStringLiteral("select count(*) from zumilo_index_changes")).toLongLong(), logged);
        QVERIFY(!caughtUp || logged > perSlice);
        QVERIFY(db->searchIndexBuilding());
        QVERIFY(!db->searchIndexInStep());
        QTRY_VERIFY(detail::indexBuildWaiting(QFileInfo(f->path).canonicalFilePath()));
        test::searchesMatchTheRows(*db);
        backup.release(f->path, before);
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 120000);
        QVERIFY(db->searchIndexInStep());
        if (caughtUp) {
            QCOMPARE(rows.load(), logged); // each change once
            QVERIFY2(slices <= logged / perSlice * 3 / 2 + 2, qPrintable(QString::number(slices)));
        }
        test::Random r;
        test::compareWithScanning(*db, r);
    }

    // An index found damaged is built again in the background: the repair
    // returns while the run's backup is still being copied, searches read
    // every row until the index is whole again.
    void damagedIndexRepairedInTheBackground()
    {
        const auto f = manyPages();
        QVERIFY(test::damageSearchIndex(f->path));
        QTemporaryDir backups;
        setBackupFolder(backups.path());
        const auto restore = qScopeGuard([] {
            gate.hold(false);
            setBackupFolder({});
        });
        gate.hold(true);
        auto db = f->openAgain();
        QCOMPARE(Database::checkThoroughly(f->path), Database::Health::IndexDamaged);
        db->repairSearchIndex();
        QVERIFY(db->searchIndexBuilding());
        QVERIFY(!db->searchIndexInStep());
        test::searchesMatchTheRows(*db);
        gate.hold(false);
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        QCOMPARE(int(listBackups(f->path).size()), 1);
        QCOMPARE(Database::checkThoroughly(f->path), Database::Health::Sound);
        test::searchesMatchTheRows(*db);
    }

    // A backup that cannot be made is told, with its cause, and the file
    // stays as it was.
    void backupFailuresAreTold_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a file where the folder should be") << false << u"保存先のフォルダーに書き込めません"_s;
        QTest::newRow("disk full") << true << u"ディスクがいっぱいです"_s;
    }
    void backupFailuresAreTold()
    {
        QFETCH(bool, diskFull);
        QFETCH(QString, reason);
        NotesFile f(20);
        const QString before = contents(*f.db);
        f.db->close();
        f.openAgain()->close(); // indexed: the open below writes nothing
        QTemporaryDir dir;
        QString folder = dir.filePath(u"backups"_s);
        if (!diskFull) {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        setBackupFolder(folder);
        std::mutex mutex;
        std::vector<BackupFailure> told;
        setBackupFailureNotice([&](const BackupFailure& failure) {
            const std::lock_guard lock(mutex);
            told.push_back(failure);
        });
        const auto restore = qScopeGuard([] {
            fault.countdown = 0;
            setBackupFailureNotice({});
            setBackupFolder({});
        });
        if (diskFull)
            fault = {Call::Write, SQLITE_FULL, 1, false};
        auto db = f.openAgain();
        finishBackups();
        QVERIFY(fault.fired == diskFull);
        QCOMPARE(int(told.size()), 1);
        QCOMPARE(told[0].path, QFileInfo(f.path).canonicalFilePath());
        QCOMPARE(told[0].reason, reason);
        QVERIFY(listBackups(f.path).empty());
        QCOMPARE(contents(*db), before);
    }

    // The text export writes its file itself; a file size limit stands in
    // for a full disk.
    void exportToAFullDisk()
    {
        NotesFile f(300);
        rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{4096, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        ++tally.injected;
        const bool reported = !tryStep([&] {
            f.db->execute(QStringLiteral("select * into [Text;database=%1].out.csv from T_idea").arg(f.dir.path()));
        });
        setrlimit(RLIMIT_FSIZE, &old);
        tally.reported += reported;
        tally.reportedAsSuccess += !reported;
        QVERIFY(reported);
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("notes.zmd")});
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"

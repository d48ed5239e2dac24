#include "storefixture.h"

#include "store/recordset.h"
#include "store/schema.h"

#include <QFile>
#include <csignal>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace zumilo::store;
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

sqlite3_vfs* systemVfs = nullptr;
sqlite3_vfs faultyVfs;
sqlite3_io_methods faultyIo;

struct FaultyFile {
    sqlite3_file base;
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* inner(sqlite3_file* f)
{
    return reinterpret_cast<FaultyFile*>(f)->inner();
}

#define FORWARD(m) faultyIo.m = [](sqlite3_file* f, auto... a) { return inner(f)->pMethods->m(inner(f), a...); }

void buildIo(const sqlite3_io_methods* real)
{
    faultyIo = *real;
    FORWARD(xClose);
    FORWARD(xTruncate);
    FORWARD(xFileSize);
    FORWARD(xLock);
    FORWARD(xUnlock);
    FORWARD(xCheckReservedLock);
    FORWARD(xFileControl);
    FORWARD(xSectorSize);
    FORWARD(xDeviceCharacteristics);
    FORWARD(xShmMap);
    FORWARD(xShmLock);
    FORWARD(xShmBarrier);
    FORWARD(xShmUnmap);
    FORWARD(xFetch);
    FORWARD(xUnfetch);
    faultyIo.xRead = [](sqlite3_file* f, void* data, int n, sqlite3_int64 at) {
        const int rc = fault.hit(Call::Read);
        return rc ? rc : inner(f)->pMethods->xRead(inner(f), data, n, at);
    };
    faultyIo.xWrite = [](sqlite3_file* f, const void* data, int n, sqlite3_int64 at) {
        const int rc = fault.hit(Call::Write);
        return rc ? rc : inner(f)->pMethods->xWrite(inner(f), data, n, at);
    };
    faultyIo.xSync = [](sqlite3_file* f, int flags) {
        const int rc = fault.hit(Call::Sync);
        return rc ? rc : inner(f)->pMethods->xSync(inner(f), flags);
    };
}

void registerFaultyVfs()
{
    systemVfs = sqlite3_vfs_find(nullptr);
    faultyVfs = *systemVfs;
    faultyVfs.zName = "faulty";
    faultyVfs.szOsFile = int(sizeof(FaultyFile)) + systemVfs->szOsFile;
    faultyVfs.xOpen = [](sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
        f->pMethods = nullptr;
        if (flags & SQLITE_OPEN_MAIN_JOURNAL) {
            if (const int rc = fault.hit(Call::OpenJournal))
                return rc;
        }
        const int rc = systemVfs->xOpen(systemVfs, name, inner(f), flags, outFlags);
        if (inner(f)->pMethods) {
            if (!faultyIo.xRead)
                buildIo(inner(f)->pMethods);
            f->pMethods = &faultyIo;
        }
        return rc;
    };
    faultyVfs.xDelete = [](sqlite3_vfs*, const char* name, int syncDir) {
        const int rc = fault.hit(Call::Delete);
        return rc ? rc : systemVfs->xDelete(systemVfs, name, syncDir);
    };
    sqlite3_vfs_register(&faultyVfs, 1);
}

// Everything a file holds that a user would miss.
QString contents(Database& db)
{
    return db.scalar(QStringLiteral("select group_concat(x, ';') from (select id||'/'||ifnull(title,'')||'/'||ifnull(naiyo,'')"
                                    "||'/'||ifnull(bunID,'')||'/'||ifnull(bunrui,'') as x from T_idea order by id)"))
               .toString()
           + QLatin1Char('#')
           + db.scalar(QStringLiteral("select group_concat(x, ';') from (select bunID||'/'||bunrui||'/'||oyabunID as x "
                                      "from T_bunrui order by bunID)"))
                 .toString();
}

// The writes of the windows, as they make them.
using Operation = std::function<void(Database&, const QString& folder)>;
const std::vector<std::pair<const char*, Operation>>& operations()
{
    static const std::vector<std::pair<const char*, Operation>> list = {
        {"save new note", [](Database& db, const QString&) {
             auto rs = db.openRecordset(QStringLiteral("select * from T_idea where bunid=1 order by title"));
             const int before = rs->recordCount();
             try {
                 db.transaction([&] {
                     rs->addNew();
                     rs->setText(QStringLiteral("title"), QStringLiteral("新しいメモ"));
                     rs->setText(QStringLiteral("naiyo"), QString(3000, QChar(0x3042)));
                     rs->setText(QStringLiteral("kousindate"), QStringLiteral("2026/12/06"));
                     rs->setValue(QStringLiteral("bunid"), 1);
                     rs->setValue(QStringLiteral("id"), db.scalar(QStringLiteral("select max(id)+1 from T_idea")));
                     rs->update();
                 });
             } catch (const StoreError&) {
                 QCOMPARE(rs->recordCount(), before); // no row the table does not hold
                 throw;
             }
         }},
        {"edit note", [](Database& db, const QString&) {
             auto rs = db.openRecordset(QStringLiteral("select * from T_idea where id=3"));
             db.transaction([&] {
                 rs->edit();
                 rs->setText(QStringLiteral("naiyo"), QString(5000, QChar(0x30A2)));
                 rs->update();
             });
         }},
        {"delete note", [](Database& db, const QString&) {
             auto rs = db.openRecordset(QStringLiteral("select * from T_idea where id=4"));
             rs->deleteCurrent();
         }},
        {"add category", [](Database& db, const QString&) {
             db.transaction([&] {
                 db.execute(QStringLiteral("INSERT INTO T_bunrui(bunid,bunrui,oyabunid) VALUES(?,?,?)"),
                            {db.scalar(QStringLiteral("select max(bunID)+1 from T_bunrui")), QStringLiteral("新分類"), 0});
             });
         }},
        {"rename category", [](Database& db, const QString&) {
             db.transaction([&] {
                 db.execute(QStringLiteral("UPDATE T_bunrui SET bunrui=? WHERE bunID=?"), {QStringLiteral("改名"), 1});
                 db.execute(QStringLiteral("UPDATE T_idea SET bunrui=? WHERE bunID=?"), {QStringLiteral("改名"), 1});
             });
         }},
        {"move category", [](Database& db, const QString&) {
             db.execute(QStringLiteral("UPDATE T_bunrui SET oyabunid=? WHERE bunID=?"), {2, 1});
         }},
        {"move note", [](Database& db, const QString&) {
             db.execute(QStringLiteral("UPDATE T_idea SET bunID=?, bunrui=? WHERE ID=?"), {2, QStringLiteral("二"), 5});
         }},
        {"delete category", [](Database& db, const QString&) {
             db.execute(QStringLiteral("DELETE FROM T_bunrui WHERE bunID=?"), QVariantList{2});
         }},
        {"create file", [](Database&, const QString& folder) {
             createZumiloDatabase(folder + QStringLiteral("/new.zmd"), true);
         }},
        {"export", [](Database& db, const QString& folder) {
             db.execute(QStringLiteral("select id, title, naiyo into [Text;database=%1].out.csv from T_idea").arg(folder));
         }},
    };
    return list;
}

ErrorKind kindFor(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL: return ErrorKind::DiskFull;
    case SQLITE_CANTOPEN: return ErrorKind::CannotOpen;
    default: return ErrorKind::Io;
    }
}

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
        QTest::addColumn<int>("operation");
        for (size_t i = 0; i < operations().size(); ++i)
            QTest::newRow(operations()[i].first) << int(i);
    }
    void failuresAreReportedAndLoseNothing()
    {
        QFETCH(int, operation);
        const auto& [name, op] = operations()[size_t(operation)];
        NotesFile base(12);
        for (int i = 1; i <= 3; ++i)
            base.db->execute(QStringLiteral("insert into T_bunrui values(?, ?, 0)"), {i, QStringLiteral("分類%1").arg(i)});
        base.db->execute(QStringLiteral("update T_idea set naiyo = hex(randomblob(3000))"));
        const QString before = contents(*base.db);
        base.db->close();

        auto attempt = [&](const QString& folder) {
            const QString path = folder + QStringLiteral("/notes.zmd");
            QFile::remove(path);
            QVERIFY(QFile::copy(base.path, path));
            auto db = Database::open(path);
            op(*db, folder);
        };
        QTemporaryDir clean;
        attempt(clean.path());
        const QString after = contents(*Database::open(clean.filePath(QStringLiteral("notes.zmd"))));

        const std::pair<Call, int> kinds[] = {{Call::Write, SQLITE_FULL}, {Call::Write, SQLITE_IOERR_WRITE},
                                              {Call::Sync, SQLITE_IOERR_FSYNC}, {Call::Read, SQLITE_IOERR_READ},
                                              {Call::Delete, SQLITE_IOERR_DELETE}, {Call::OpenJournal, SQLITE_CANTOPEN}};
        for (const auto& [call, code] : kinds) {
            for (int nth = 1;; ++nth) {
                QTemporaryDir dir;
                bool failed = false;
                fault = {call, code, 0, false};
                std::shared_ptr<Database> db;
                try {
                    const QString path = dir.filePath(QStringLiteral("notes.zmd"));
                    QVERIFY(QFile::copy(base.path, path));
                    db = Database::open(path);
                    fault.countdown = nth;
                    op(*db, dir.path());
                } catch (const StoreError& e) {
                    failed = true;
                    QVERIFY2(fault.fired, e.what());
                    QCOMPARE(e.kind(), kindFor(code));
                    QVERIFY(!e.message().isEmpty());
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
                const QString created = dir.filePath(QStringLiteral("new.zmd"));
                QCOMPARE(QFile::exists(created), !failed && qstrcmp(name, "create file") == 0);
                QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("out.csv"))), !failed && qstrcmp(name, "export") == 0);
                if (QFile::exists(created))
                    QVERIFY(hasZumiloTables(*Database::open(created)));
            }
        }
    }

    // The text export writes its file itself; a file size limit stands in
    // for a full disk.
    void exportToAFullDisk()
    {
        NotesFile f(300);
        rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        ++tally.injected;
        try {
            f.db->execute(QStringLiteral("select id, title, naiyo into [Text;database=%1].out.csv from T_idea").arg(f.dir.path()));
            ++tally.reportedAsSuccess;
        } catch (const StoreError& e) {
            ++tally.reported;
            QCOMPARE(e.kind(), ErrorKind::Io);
        }
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files, QDir::Name), QStringList{QStringLiteral("notes.zmd")});
        QCOMPARE(tally.reportedAsSuccess, 0);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"

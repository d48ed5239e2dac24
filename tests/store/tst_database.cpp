#include "storefixture.h"

#include "store/jetsql.h"
#include "store/recordset.h"
#include "store/snapshot.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <sqlite3.h>

using namespace zumilo::store;
using namespace Qt::StringLiterals;
using zumilo::store::test::NotesFile;

namespace {

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The bytes of a closed notes file of about 150 pages.
QByteArray notesFileBytes()
{
    NotesFile f(300);
    f.db->execute(QStringLiteral("update T_idea set naiyo = hex(randomblob(1000))"));
    f.db->close();
    return readAll(f.path);
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT

private slots:
    // Taking the snapshot a backup copies, while a save holds the file,
    // leaves the save's lock in place: another program still waits.
    void snapshotKeepsTheLocksOfSaves()
    {
        SKIP_IF_CHILDREN_CANNOT_RUN();
        NotesFile f(10);
        auto writer = f.openAgain();
        QCOMPARE(sqlite3_exec(writer->handle(), "BEGIN IMMEDIATE; UPDATE T_idea SET title = 'x' WHERE id = 1", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        const auto snapshot = detail::takeSnapshot(QFileInfo(f.path).canonicalFilePath());
        QProcess tool;
        tool.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), f.path});
        QVERIFY2(tool.waitForStarted(), "the sqlite3 tool is not installed");
        tool.write("BEGIN IMMEDIATE;\n");
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY(tool.exitCode() != 0);
        QVERIFY(tool.readAllStandardError().contains("locked"));
        sqlite3_exec(writer->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        detail::dropSnapshot(snapshot);
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // written unless the name is a folder
        QTest::addColumn<int>("kind");
        QTest::newRow("missing") << "none.zmd" << QByteArray() << int(ErrorKind::FileNotFound);
        QTest::newRow("empty") << "empty.zmd" << QByteArray("") << int(ErrorKind::NotADatabase);
        QTest::newRow("few bytes") << "few.zmd" << QByteArray("SQL") << int(ErrorKind::NotADatabase);
        QByteArray random(8192, '\0');
        for (int i = 0; i < random.size(); ++i)
            random[i] = char((i * 7919 + 13) % 251);
        QTest::newRow("random bytes") << "random.zmd" << random << int(ErrorKind::NotADatabase);
        QTest::newRow("text file") << "notes.zmd" << QByteArray("メモ\r\n買い物\r\n").repeated(200)
                                   << int(ErrorKind::NotADatabase);
        QTest::newRow("folder") << "folder.zmd/" << QByteArray() << int(ErrorKind::CannotOpen);
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.zmd"));
        Database::create(good)->execute(QStringLiteral("create table t(a)"));
        QByteArray damaged = readAll(good);
        damaged.replace(100, 200, QByteArray(200, '\xff'));
        QTest::newRow("damaged schema") << "damaged.zmd" << damaged << int(ErrorKind::Damaged);
        const QByteArray notes = notesFileBytes();
        QTest::newRow("truncated") << "half.zmd" << notes.left(notes.size() / 2) << int(ErrorKind::Damaged);
        QTest::newRow("truncated header") << "head.zmd" << notes.left(60) << int(ErrorKind::Damaged);
        QTest::newRow("first 16 bytes wiped")
            << "wiped.zmd" << QByteArray(16, '\0') + notes.mid(16) << int(ErrorKind::Damaged);
        QByteArray overwritten = notes;
        for (qsizetype i = 60 * 4096; i < 90 * 4096; ++i)
            overwritten[i] = char((i * 2654435761u) >> 13);
        QTest::newRow("30 pages overwritten") << "pages.zmd" << overwritten << int(ErrorKind::Damaged);
    }
    void openFailures()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(name);
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir.path()).mkdir(name));
        else if (!bytes.isNull())
            path = write(dir, name, bytes);
        try {
            Database::open(path);
            QFAIL("opened");
        } catch (const StoreError& e) {
            QCOMPARE(int(e.kind()), kind);
            QVERIFY(!e.message().isEmpty());
            if (e.kind() == ErrorKind::Damaged)
                QVERIFY2(e.message().contains(name) && e.message().contains(QStringLiteral("バックアップ")),
                         qPrintable(e.message()));
        }
        if (kind == int(ErrorKind::Damaged))
            STORE_THROWS(Database::open(path), ErrorKind::Damaged); // and again, from what the run knows
        if (bytes.isEmpty() && !bytes.isNull())
            QCOMPARE(QFileInfo(path).size(), 0); // nothing was written into it
    }

    // Files whose tables the windows would misread are refused, naming the column.
    void unusableTables_data()
    {
        QTest::addColumn<QString>("from"); // replaced in the notes file's statements
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("insert");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("column");
        const QString none;
        QTest::newRow("no naiyo") << "naiyo longtext,"
                                  << "" << none << int(ErrorKind::MissingColumn) << "T_idea.naiyo";
        QTest::newRow("category number as text")
            << "bunID long constraint"
            << "bunID text(9) constraint" << none << int(ErrorKind::ColumnType) << "T_bunrui.bunID";
        QTest::newRow("date as text") << "kijituDate DateTime"
                                      << "kijituDate text(20)" << none << int(ErrorKind::ColumnType)
                                      << "T_idea.kijituDate";
        QTest::newRow("statement in a category number")
            << ""
            << ""
            << "insert into T_bunrui values('0 or 1=1','x',0)" << int(ErrorKind::ColumnValue) << "T_bunrui.bunID";
        QTest::newRow("2x") << ""
                            << ""
                            << "insert into T_bunrui values('2x','x',0)" << int(ErrorKind::ColumnValue)
                            << "T_bunrui.bunID";
        QTest::newRow("fraction parent") << ""
                                         << ""
                                         << "insert into T_bunrui values(3,'x',1.5)" << int(ErrorKind::ColumnValue)
                                         << "T_bunrui.oyabunID";
        QTest::newRow("note without number")
            << "id counter constraint pkey primary key"
            << "id long"
            << "insert into T_idea(title) values('x')" << int(ErrorKind::ColumnValue) << "T_idea.id";
        QTest::newRow("note number as text")
            << "id counter constraint pkey primary key"
            << "id long"
            << "insert into T_idea(id) values('a')" << int(ErrorKind::ColumnValue) << "T_idea.id";
        QTest::newRow("digits as text are numbers") << ""
                                                    << ""
                                                    << "insert into T_bunrui values('5','x','0')" << -1 << "";
        QTest::newRow("unused columns missing") << ",yusen text(50),naiyoOLE LONGBINARY,fileMEI text(250)"
                                                << "" << none << -1 << "";
    }
    void unusableTables()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, insert);
        QFETCH(int, kind);
        QFETCH(QString, column);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("foreign.zmd"));
        {
            auto db = Database::create(path);
            zumilo::store::test::createNoteTables(*db,
                                                  [&](QString s) { return from.isEmpty() ? s : s.replace(from, to); });
            if (!insert.isEmpty())
                db->execute(insert);
        }
        try {
            Database::open(path);
            QCOMPARE(kind, -1);
        } catch (const StoreError& e) {
            QCOMPARE(int(e.kind()), kind);
            QCOMPARE(e.field(), column);
            QVERIFY2(e.message().contains(column), qPrintable(e.message()));
        }
    }

    // The engine calls a file it can no longer find "read-only".
    void fileGoneWhileOpen_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("deleted") << false;
        QTest::newRow("replaced") << true;
    }
    void fileGoneWhileOpen()
    {
        QFETCH(bool, replace);
        NotesFile f(1);
        NotesFile other(2);
        other.db->close();
        QVERIFY(replace ? QFile::remove(f.path) && QFile::rename(other.path, f.path) : QFile::remove(f.path));
        try {
            f.db->execute(QStringLiteral("insert into T_idea(title) values('x')"));
            QFAIL("saved into a file that is gone");
        } catch (const StoreError& e) {
            QCOMPARE(e.kind(), replace ? ErrorKind::FileReplaced : ErrorKind::FileDeleted);
            QVERIFY(e.message().contains(QStringLiteral("notes.zmd")));
        }
    }

    void createAndIdentity()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("新規.zmd"));
        Database::create(path)->close();
        auto db = Database::open(path);
        QCOMPARE(db->scalar(QStringLiteral("PRAGMA application_id")).toInt(), Database::ApplicationId);
        QCOMPARE(db->scalar(QStringLiteral("PRAGMA user_version")).toInt(), Database::SchemaVersion);
        QCOMPARE(db->scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
        QCOMPARE(db->scalar(QStringLiteral("PRAGMA synchronous")).toInt(), 2); // FULL
        QVERIFY(!db->isReadOnly());
        STORE_THROWS(Database::create(path), ErrorKind::FileExists);
    }

    void createFailuresLeaveNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing folder") << "no/such/folder/a.zmd";
        QTest::newRow("name too long") << QString(300, QLatin1Char('a')) + QStringLiteral(".zmd");
    }
    void createFailuresLeaveNothing()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        STORE_THROWS(Database::create(dir.filePath(name)), ErrorKind::CannotOpen);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void foreignSqliteFileOpens()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("other.db"));
        Database::create(path)->execute(QStringLiteral("create table things(a, b)"));
        auto db = Database::open(path);
        QCOMPARE(db->tableNames(), QStringList{QStringLiteral("things")});
    }

    void counterNumbering()
    {
        NotesFile f;
        QCOMPARE(f.db->tableNames(), (QStringList{u"T_idea"_s, u"T_bunrui"_s, u"T_option"_s}));
        f.db->execute(QStringLiteral("INSERT INTO T_idea(id,naiyo)  VALUES(1,' ')"));
        f.db->execute(QStringLiteral("INSERT INTO T_idea(title) VALUES('a')"));
        f.db->execute(QStringLiteral("INSERT INTO T_idea(id,title) VALUES(10,'b')"));
        f.db->execute(QStringLiteral("INSERT INTO T_idea(title) VALUES('c')"));
        QCOMPARE(f.db->scalar(QStringLiteral("Select max(ID) as MaxID from T_idea")).toInt(), 11);
        QCOMPARE(f.db->scalar(QStringLiteral("select id from T_idea where title='a'")).toInt(), 2);
        STORE_THROWS(f.db->execute(QStringLiteral("INSERT INTO T_idea(id) VALUES(10)")), ErrorKind::Constraint);
        f.db->execute(QStringLiteral("update T_idea  set bunrui='x'  where id=10 ;"));
        QCOMPARE(f.db->changes(), 1);
    }

    // Comparisons the program's statements rely on.
    void dialect_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("count");
        QTest::newRow("date against number") << "kijitudate >= 1" << 2;
        QTest::newRow("date range") << "kijituDate >= '2026-12-01' and kijituDate < '2026-12-07'" << 1;
        QTest::newRow("yes") << "jyuyoCK= -1" << 1;
        QTest::newRow("no") << "jyuyoCK= 0" << 2;
        QTest::newRow("brackets and case") << "[T_idea].[JYUYOck] = -1" << 1;
        QTest::newRow("like") << "TITLE like '*ＭＥＭＯ*'" << 2;
        QTest::newRow("null date") << "kijituDate is null" << 1;
    }
    void dialect()
    {
        QFETCH(QString, where);
        QFETCH(int, count);
        NotesFile f;
        f.db->execute(QStringLiteral("insert into T_idea(title,kijituDate,jyuyoCK) values('memo 1','2026-12-06',-1)"));
        f.db->execute(
            QStringLiteral("insert into T_idea(title,kijituDate,jyuyoCK) values('Memo 2','2027-01-01 09:05:00',0)"));
        f.db->execute(QStringLiteral("insert into T_idea(title,kijituDate,jyuyoCK) values('other',null,0)"));
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) as n from [T_idea] where ") + where).toInt(), count);
    }

    void parameters()
    {
        NotesFile f;
        f.db->execute(QStringLiteral(
                          "insert into T_idea(id,title,bunID,kijituDate,jyuyoCK,naiyoOLE,naiyo) values(?,?,?,?,?,?,?)"),
                      {7, QStringLiteral("it's"), qint64(1) << 40, QDate(2026, 12, 6), true, QByteArray("\0\1", 2),
                       QVariant()});
        QCOMPARE(f.db->scalar(QStringLiteral("select title from T_idea where id=?"), {7}).toString(),
                 QStringLiteral("it's"));
        QCOMPARE(f.db->scalar(QStringLiteral("select bunID from T_idea")).toLongLong(), qint64(1) << 40);
        QCOMPARE(f.db->scalar(QStringLiteral("select kijituDate from T_idea")).toString(),
                 QStringLiteral("2026-12-06"));
        QCOMPARE(f.db->scalar(QStringLiteral("select jyuyoCK from T_idea")).toInt(), -1);
        QCOMPARE(f.db->scalar(QStringLiteral("select naiyoOLE from T_idea")).toByteArray(), QByteArray("\0\1", 2));
        QVERIFY(f.db->scalar(QStringLiteral("select naiyo from T_idea")).isNull());
        QVERIFY(f.db->scalar(QStringLiteral("select title from T_idea where id=8")).isNull());
    }

    void failingStatementsChangeNothing_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("kind");
        QTest::newRow("duplicate half way")
            << "insert into T_bunrui(bunID,bunrui) select bunID+1, 'x' from T_bunrui" << int(ErrorKind::Constraint);
        QTest::newRow("syntax") << "updat T_bunrui set bunrui='x'" << int(ErrorKind::Syntax);
        QTest::newRow("two statements") << "delete from T_bunrui; delete from T_idea" << int(ErrorKind::Syntax);
        QTest::newRow("no such table") << "delete from T_nothing" << int(ErrorKind::Other);
    }
    void failingStatementsChangeNothing()
    {
        QFETCH(QString, sql);
        QFETCH(int, kind);
        NotesFile f;
        for (int id : {1, 3, 4})
            f.db->execute(QStringLiteral("insert into T_bunrui(bunID,bunrui) values(?, 'b')"), QVariantList{id});
        STORE_THROWS(f.db->execute(sql, FailOnError), ErrorKind(kind));
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_bunrui")).toInt(), 3);
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_bunrui where bunrui='x'")).toInt(), 0);
    }

    void transactions()
    {
        NotesFile f;
        auto count = [&] { return f.db->scalar(QStringLiteral("select count(*) from T_option")).toInt(); };
        try {
            f.db->transaction([&] {
                f.db->execute(QStringLiteral("insert into T_option(ID) values('a')"));
                f.db->transaction([&] { f.db->execute(QStringLiteral("insert into T_option(ID) values('b')")); });
                f.db->execute(QStringLiteral("insert into T_option(ID) values('a')"));
            });
            QFAIL("duplicate accepted");
        } catch (const StoreError& e) {
            QCOMPARE(e.kind(), ErrorKind::Constraint);
        }
        QCOMPARE(count(), 0);
        f.db->transaction([&] {
            f.db->transaction([&] { f.db->execute(QStringLiteral("insert into T_option(ID) values('a')")); });
            f.db->execute(QStringLiteral("insert into T_option(ID) values('b')"));
        });
        QCOMPARE(count(), 2);
    }

    // Each window has its own connection; none may lock out another.
    void twoConnections()
    {
        NotesFile f(3);
        auto other = f.openAgain();
        auto list = f.db->openRecordset(QStringLiteral("select * from T_idea order by id"));
        list->moveLast();
        QCOMPARE(list->value(QStringLiteral("title")).toString(), QStringLiteral("note 003"));
        other->execute(QStringLiteral("update T_idea set title='changed' where id=3"));
        other->execute(QStringLiteral("insert into T_idea(title) values('new')"));
        f.db->execute(QStringLiteral("insert into T_idea(title) values('mine')"));
        QCOMPARE(other->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 5);
        list->requery();
        QCOMPARE(list->recordCount(), 5);
        list->setAbsolutePosition(2);
        QCOMPARE(list->value(QStringLiteral("title")).toString(), QStringLiteral("changed"));
    }

    void readOnlyFile()
    {
        NotesFile f(1);
        f.db->close();
        QVERIFY(
            QFile::setPermissions(f.path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        auto db = Database::open(f.path);
        QVERIFY(db->isReadOnly());
        QCOMPARE(db->scalar(QStringLiteral("select title from T_idea")).toString(), QStringLiteral("note 001"));
        STORE_THROWS(db->execute(QStringLiteral("delete from T_idea")), ErrorKind::ReadOnly);
        STORE_THROWS(db->transaction([&] { db->execute(QStringLiteral("delete from T_idea")); }), ErrorKind::ReadOnly);
        QCOMPARE(db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 1);
    }

    void writesLeaveOneFile()
    {
        NotesFile f;
        f.db->execute(QStringLiteral("insert into T_option(ID,naiyo) values('k','v')"));
        QVERIFY(!QFile::exists(f.path + QStringLiteral("-journal")));
        QVERIFY(!QFile::exists(f.path + QStringLiteral("-wal")));
        f.db->close();
        QVERIFY(!f.db->isOpen());
        STORE_THROWS(f.db->scalar(QStringLiteral("select 1")), ErrorKind::Other);
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("notes.zmd")});
        QCOMPARE(Database::open(f.path)->scalar(QStringLiteral("select naiyo from T_option")).toString(),
                 QStringLiteral("v"));
    }

    void textExport()
    {
        NotesFile f;
        f.db->execute(QStringLiteral(
            "insert into T_idea(id,title,kijituDate,jyuyoCK,bunID) values(1,'say \"hi\", ok','2026-12-06',-1,5)"));
        f.db->execute(
            QStringLiteral(
                "insert into T_idea(id,title,kijituDate,jyuyoCK,bunID) values(2,?,'2026-12-07 09:05:00',0,null)"),
            {QStringLiteral("一行目\r\n二行目")});
        f.db->execute(QStringLiteral("insert into T_idea(id,title,jyuyoCK) values(3,null,0)"));
        QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("x y")));
        const QString folder = f.dir.filePath(QStringLiteral("x y"));
        const QString sql = QStringLiteral(
                                "SELECT id, title, kijituDate, jyuyoCK, bunID INTO [Text;database=%1].out file.csv "
                                "FROM T_idea ORDER BY id")
                                .arg(folder);
        f.db->execute(sql, FailOnError);
        const QByteArray expected = "\xEF\xBB\xBFid,title,kijituDate,jyuyoCK,bunID\r\n"
                                    "1,\"say \"\"hi\"\", ok\",2026/12/06,-1,5\r\n"
                                    "2,\""
                                    + QStringLiteral("一行目\r\n二行目").toUtf8()
                                    + "\",2026/12/07 09:05:00,0,\r\n"
                                      "3,,,0,\r\n";
        QCOMPARE(readAll(folder + QStringLiteral("/out file.csv")), expected);

        // An existing file is never replaced.
        f.db->execute(QStringLiteral("delete from T_idea"));
        STORE_THROWS(f.db->execute(sql), ErrorKind::FileExists);
        QCOMPARE(readAll(folder + QStringLiteral("/out file.csv")), expected);
        STORE_THROWS(f.db->execute(QString(sql).replace(QStringLiteral("x y"), QStringLiteral("none"))), ErrorKind::Io);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("out file.csv")});
    }

    // The save dialog lets the user pick any folder: each one gets the file
    // or a refusal, never a file somewhere else.
    void textTargetsTakeAnyFolderAndName_data()
    {
        QTest::addColumn<QString>("folder"); // "" a relative one
        QTest::addColumn<QString>("file");
        QTest::newRow("; beside a folder named before it") << "a;b"
                                                           << "out.csv";
        QTest::newRow("; and database= in the folder") << "a;database=b"
                                                       << "out.csv";
        QTest::newRow("brackets") << "[x]]y]"
                                  << "[z].csv";
        QTest::newRow("quote and blanks around") << " it's "
                                                 << " it's; a].csv";
        QTest::newRow("from in the name") << "a from b"
                                          << "c from d.csv";
        QTest::newRow("refused: a path for a name") << "a"
                                                    << "../out.csv";
        QTest::newRow("refused: a relative folder") << ""
                                                    << "out.csv";
    }
    void textTargetsTakeAnyFolderAndName()
    {
        QFETCH(QString, folder);
        QFETCH(QString, file);
        const bool written = !QByteArray(QTest::currentDataTag()).startsWith("refused");
        NotesFile f(2);
        QTemporaryDir root;
        for (const QString& name : {QStringLiteral("a"), QStringLiteral("a;b"), QStringLiteral("a;database=b"), folder})
            QVERIFY(QDir(root.path()).mkpath(name.isEmpty() ? QStringLiteral("a") : name));
        const QString into = folder.isEmpty() ? QStringLiteral("rel") : root.filePath(folder);
        const QString sql =
            QStringLiteral("select id, title into %1 from T_idea order by id").arg(textTarget(into, file));
        if (written) {
            f.db->execute(sql);
            QCOMPARE(readAll(QDir(into).filePath(file)),
                     QByteArray("\xEF\xBB\xBFid,title\r\n1,\"note 001\"\r\n2,\"note 002\"\r\n"));
        } else {
            STORE_THROWS(f.db->execute(sql), ErrorKind::Io);
        }
        QDirIterator all(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (all.hasNext())
            files << all.next();
        QCOMPARE(files.size(), int(written));
    }

    // Another program in the middle of a write: a clear error, no hang.
    void lockedByAnotherProgram()
    {
        SKIP_IF_CHILDREN_CANNOT_RUN();
        NotesFile f(1);
        f.db->setBusyTimeout(20);
        QProcess cli;
        cli.start(QStringLiteral("sqlite3"), {f.path});
        QVERIFY2(cli.waitForStarted(), "sqlite3 command-line program missing");
        cli.write("BEGIN EXCLUSIVE;\n.system echo locked\n");
        QByteArray out;
        while (!out.contains("locked") && cli.waitForReadyRead(30000))
            out += cli.readAllStandardOutput();
        QVERIFY2(out.contains("locked"), out.constData());

        STORE_THROWS(f.db->scalar(QStringLiteral("select count(*) from T_idea")), ErrorKind::Busy);
        STORE_THROWS(f.db->execute(QStringLiteral("insert into T_idea(title) values('x')")), ErrorKind::Busy);
        STORE_THROWS(f.db->openRecordset(QStringLiteral("T_idea")), ErrorKind::Busy);

        cli.write("ROLLBACK;\n.quit\n");
        cli.closeWriteChannel();
        QVERIFY(cli.waitForFinished(30000));
        f.db->execute(QStringLiteral("insert into T_idea(title) values('x')"));
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"

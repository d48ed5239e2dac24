// The real sqlite3 command-line tool changes notes in a file, closed or
// open here; every search then finds what reading every row finds.

#include "storefixture.h"

#include "store/jetsql.h"

#include <QProcess>

using namespace zumilo::store;
using zumilo::store::test::found;
using zumilo::store::test::NotesFile;

namespace {

// Runs statements through the sqlite3 tool on the file.
void tool(const QString& path, const QByteArray& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
    QVERIFY2(p.waitForStarted(), "the sqlite3 tool is not installed");
    p.write(sql);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());
}

// Changes, additions and deletions, with U+0000 inside text and values
// far longer than any the windows write.
const QByteArray kChanges = R"(
BEGIN;
UPDATE T_idea SET naiyo = CAST(X'E4BC9A00E8ADB0' AS TEXT) || naiyo WHERE id % 4 = 0;
UPDATE T_idea SET title = 'ｶﾞ' || char(0) || '会議' || title WHERE id % 5 = 0;
UPDATE T_idea SET bunrui = '分類' || char(0) || (id % 3) WHERE id % 3 = 0;
INSERT INTO T_idea(title, naiyo, bunrui)
  VALUES(replace(hex(zeroblob(150000)), '00', '議会'), replace(hex(zeroblob(300000)), '00', 'が' || char(0)), 'x');
INSERT INTO T_idea(title, naiyo) VALUES(char(0), char(0, 0, 0x4f1a));
DELETE FROM T_idea WHERE id % 7 = 1;
UPDATE T_bunrui SET bunrui = 'ガ会' || char(0) || bunrui WHERE bunID % 2 = 0;
INSERT INTO T_bunrui(bunID, bunrui, oyabunID) VALUES(100, '議' || char(0) || '会議', 0);
COMMIT;
)";

void searchesMatchTheRows(Database& db)
{
    for (const char* word : {"会", "議", "会議", "議会", "ｶﾞ", "が", "分類", "note 01", "1"}) {
        for (const char* column : {"title", "naiyo", "bunrui"}) {
            const QString where = QStringLiteral("%1 like %2").arg(QLatin1String(column), likeContains(QString::fromUtf8(word)));
            QCOMPARE(found(db, where), found(db, where, true));
        }
        const QString where = QStringLiteral("bunrui like ") + likeContains(QString::fromUtf8(word));
        QCOMPARE(found(db, where, false, QStringLiteral("T_bunrui")), found(db, where, true, QStringLiteral("T_bunrui")));
    }
}

// Notes with categories, indexed.
void withCategories(NotesFile& f)
{
    f.db->transaction([&] {
        for (int i = 1; i <= 20; ++i)
            f.db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID, bunrui, oyabunID) VALUES(?, ?, 0)"),
                          {i, QStringLiteral("分類 %1 会").arg(i)});
        f.db->execute(QStringLiteral("UPDATE T_idea SET bunrui = '分類 ' || bunID, naiyo = naiyo || ' 会議 ' || id"));
    });
    f.db = f.openAgain();
}

} // namespace

class TestSqlite3Tool : public QObject {
    Q_OBJECT

private slots:
    void changesToAClosedFile()
    {
        NotesFile f(200);
        withCategories(f);
        f.db->close();
        tool(f.path, kChanges);
        auto db = f.openAgain(); // indexed afresh
        QVERIFY(db->searchIndexInStep());
        searchesMatchTheRows(*db);
    }

    // While the store has the file open, its searches read every row; its
    // own saves afterwards and the next open bring the index back.
    void changesToAnOpenFile()
    {
        NotesFile f(200);
        withCategories(f);
        QVERIFY(f.db->searchIndexInStep());
        searchesMatchTheRows(*f.db);
        tool(f.path, kChanges);
        searchesMatchTheRows(*f.db);
        f.db->execute(QStringLiteral("UPDATE T_idea SET naiyo = ? WHERE id = 2"), {QStringLiteral("会") + QChar(0) + QStringLiteral("議")});
        searchesMatchTheRows(*f.db);
        auto again = f.openAgain();
        QVERIFY(again->searchIndexInStep());
        searchesMatchTheRows(*again);
        searchesMatchTheRows(*f.db);
        tool(f.path, "DELETE FROM T_idea WHERE id % 2 = 0; UPDATE T_bunrui SET bunrui = '会' WHERE bunID = 3;");
        searchesMatchTheRows(*again);
    }
};

QTEST_GUILESS_MAIN(TestSqlite3Tool)
#include "tst_sqlite3tool.moc"

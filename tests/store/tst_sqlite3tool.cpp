// The real sqlite3 command-line tool changes notes in a file, closed or
// open here; every search then finds what reading every row finds.

#include "storefixture.h"

using namespace zumilo::store;
using zumilo::store::test::NotesFile;
using zumilo::store::test::kToolChanges;
using zumilo::store::test::searchesMatchTheRows;
using zumilo::store::test::tool;

namespace {

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
        tool(f.path, kToolChanges);
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
        tool(f.path, kToolChanges);
        searchesMatchTheRows(*f.db);
        f.db->execute(QStringLiteral("UPDATE T_idea SET naiyo = ? WHERE id = 2"),
                      {QStringLiteral("会") + QChar(0) + QStringLiteral("議")});
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

#include "store/jetsql.h"

#include <QTest>

using namespace zumilo::store;

class TestJetSql : public QObject {
    Q_OBJECT

private slots:
    void quoting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("contains");
        QTest::newRow("plain") << "abc" << "'abc'" << "'*abc*'";
        QTest::newRow("quote") << "it's" << "'it''s'" << "'*it''s*'";
        QTest::newRow("wildcards") << "a*b?c#d[e" << "'a*b?c#d[e'" << "'*a[*]b[?]c[#]d[[]e*'";
        QTest::newRow("empty") << "" << "''" << "'**'";
    }
    void quoting()
    {
        QFETCH(QString, text);
        QFETCH(QString, literal);
        QFETCH(QString, contains);
        QCOMPARE(sqlText(text), literal);
        QCOMPARE(likeContains(text), contains);
    }

    void selectParts_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("clauses"); // list, from, where, groupBy, having, orderBy, into
        QTest::addColumn<int>("flags");           // 1 distinct, 2 compound, 4 aggregate
        QTest::newRow("list") << "select * from T_idea  order by title "
                              << QStringList{"*", "T_idea", "", "", "", "title", ""} << 0;
        QTest::newRow("where") << "SELECT id,title FROM [T_idea] WHERE bunID=5 ORDER BY title desc ;"
                               << QStringList{"id,title", "[T_idea]", "bunID=5", "", "", "title desc", ""} << 0;
        QTest::newRow("keywords in strings") << "select a from t where b='x from y order by z' and [order]=1"
                                             << QStringList{"a", "t", "b='x from y order by z' and [order]=1", "", "", "", ""} << 0;
        QTest::newRow("subquery") << "select a, (select max(b) from u where u.c = t.c) from t where a in (select a from v)"
                                  << QStringList{"a, (select max(b) from u where u.c = t.c)", "t", "a in (select a from v)", "", "", "", ""}
                                  << 0;
        QTest::newRow("aggregate") << "Select max(ID) as MaxID from T_idea"
                                   << QStringList{"max(ID) as MaxID", "T_idea", "", "", "", "", ""} << 4;
        QTest::newRow("group") << "select bunID, count(*) as n from T_idea group by bunID having count(*) > 1 order by n"
                               << QStringList{"bunID, count(*) as n", "T_idea", "", "bunID", "count(*) > 1", "n", ""} << 4;
        QTest::newRow("distinct") << "select distinct bunrui from T_idea"
                                  << QStringList{"bunrui", "T_idea", "", "", "", "", ""} << 1;
        QTest::newRow("union") << "select a from t union select a from u"
                               << QStringList{"a", "t", "", "", "", "", ""} << 2;
        QTest::newRow("into") << "SELECT title INTO [Text;database=/tmp/a from b].out (1).csv FROM T_idea WHERE id>1"
                              << QStringList{"title", "T_idea", "id>1", "", "", "", "[Text;database=/tmp/a from b].out (1).csv"}
                              << 0;
    }
    void selectParts()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, clauses);
        QFETCH(int, flags);
        const auto p = parseSelect(sql);
        QVERIFY(p);
        QCOMPARE(p->selectList, clauses[0]);
        QCOMPARE(p->from, clauses[1]);
        QCOMPARE(p->where, clauses[2]);
        QCOMPARE(p->groupBy, clauses[3]);
        QCOMPARE(p->having, clauses[4]);
        QCOMPARE(p->orderBy, clauses[5]);
        QCOMPARE(p->into, clauses[6]);
        QCOMPARE(p->distinct, bool(flags & 1));
        QCOMPARE(p->compound, bool(flags & 2));
        QCOMPARE(p->hasAggregate, bool(flags & 4));
    }

    void notSelect()
    {
        QVERIFY(!parseSelect(QStringLiteral("update T_idea set a=1")));
        QVERIFY(!parseSelect(QString()));
    }

    void tableName_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("table");
        QTest::newRow("bare") << "T_idea" << "T_idea";
        QTest::newRow("brackets") << " [T_idea] " << "T_idea";
        QTest::newRow("blank in name") << "[my table]" << "my table";
        QTest::newRow("quoted") << "\"T_idea\"" << "T_idea";
        QTest::newRow("alias") << "T_idea AS i" << "T_idea";
        QTest::newRow("bare alias") << "T_idea i" << "T_idea";
        QTest::newRow("two tables") << "T_idea, T_bunrui" << "";
        QTest::newRow("join") << "T_idea inner join T_bunrui on T_idea.bunID = T_bunrui.bunID" << "";
        QTest::newRow("left join") << "T_idea left join T_bunrui using (bunID)" << "";
        QTest::newRow("subquery") << "(select * from T_idea)" << "";
    }
    void tableName()
    {
        QFETCH(QString, from);
        QFETCH(QString, table);
        QCOMPARE(singleTableName(from), table);
    }

    void textTarget_data()
    {
        QTest::addColumn<QString>("into");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("blanks") << "[Text;database=/tmp/x y].out file.csv" << true << "/tmp/x y" << "out file.csv";
        QTest::newRow("case and spaces") << " [TEXT; Database=/tmp] . a.csv " << true << "/tmp" << "a.csv";
        QTest::newRow("doubled bracket") << "[Text;database=/tmp/a]]b].c.csv" << true << "/tmp/a]b" << "c.csv";
        QTest::newRow("bracketed file") << "[Text;HDR=Yes;database=/tmp].[d e.csv]" << true << "/tmp" << "d e.csv";
        QTest::newRow("no folder") << "[Text;HDR=Yes].a.csv" << false << "" << "";
        QTest::newRow("no file") << "[Text;database=/tmp]." << false << "" << "";
        QTest::newRow("not text") << "[Excel 8.0;database=/tmp/a.xls].s" << false << "" << "";
        QTest::newRow("plain table") << "T_copy" << false << "" << "";
    }
    void textTarget()
    {
        QFETCH(QString, into);
        QFETCH(bool, valid);
        const auto t = parseTextTarget(into);
        QCOMPARE(bool(t), valid);
        if (valid) {
            QTEST(t->folder, "folder");
            QTEST(t->fileName, "file");
        }
    }

    void ddl_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("rewritten");
        QTest::newRow("counter key")
            << "CREATE TABLE T_idea(id counter constraint pkey primary key,title text(250),naiyo longtext)"
            << "CREATE TABLE T_idea(id INTEGER constraint pkey primary key,title text(250),naiyo longtext)";
        QTest::newRow("seed and step") << "create table t (n COUNTER(1,1), c text)" << "create table t (n INTEGER, c text)";
        QTest::newRow("column named counter") << "create table t (counter long, x text)"
                                              << "create table t (counter long, x text)";
        QTest::newRow("word in a default") << "create table t (a text default 'counter')"
                                           << "create table t (a text default 'counter')";
        QTest::newRow("alter") << "alter table t add column n counter" << "alter table t add column n INTEGER";
        QTest::newRow("not ddl") << "select counter from t" << "select counter from t";
    }
    void ddl()
    {
        QFETCH(QString, sql);
        QTEST(rewriteJetDdl(sql), "rewritten");
    }
};

QTEST_APPLESS_MAIN(TestJetSql)
#include "tst_jetsql.moc"

// The real sqlite3 tool changes the notes of a file the main window has
// open; what the window then saves and every search agree with the rows.

#include "mainwindowapp.h"

#include "main/mainwindow.h"
#include "records/recordeditor.h"
#include "store/storefixture.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QtTest>

using namespace zumilo;

class TestSqlite3Window : public QObject {
    Q_OBJECT

private slots:
    void toolChangesTheOpenFile()
    {
        test::TestApp env;
        const QString path = env.makeDatabase(QStringLiteral("data/notes.zmd"), true);
        store::Database::open(path)->execute(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
            "INSERT INTO T_idea(id, title, naiyo, bunID, bunrui) SELECT i, 'note ' || i, '会議 ' || i, 0, '' FROM n"));
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), path);
        env.settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QStringLiteral("notes.zmd"));
        app::MainWindow w(*env.state);
        w.Form_Load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        store::Database& db = *w.currentDatabase();
        QVERIFY(db.searchIndexInStep());

        store::test::tool(path, store::test::kToolChanges);
        store::test::searchesMatchTheRows(db);
        // The note shown is saved over the tool's change of it.
        QPlainTextEdit* body = w.editor()->visibleBodyBox();
        body->setFocus();
        body->selectAll();
        QTest::keyClicks(body, QStringLiteral("council news"));
        test::trigger(w, u"mnuUpdate");
        QVERIFY(!w.recordChanged());
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from T_idea where naiyo = 'council news'")).toInt(), 1);
        store::test::searchesMatchTheRows(db);

        store::test::tool(
            path, "DELETE FROM T_idea WHERE id % 3 = 0; UPDATE T_idea SET title = '議' || char(0) WHERE id = 5;");
        store::test::searchesMatchTheRows(db);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }
};

QTEST_MAIN(TestSqlite3Window)
#include "tst_sqlite3window.moc"

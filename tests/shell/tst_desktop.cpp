#include "shell/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QTest>
#include <QUrl>

using zumilo::shell::QtDesktop;

class TestDesktop : public QObject {
    Q_OBJECT

    QList<QUrl> opened_;

public slots:
    void record(const QUrl& url) { opened_.append(url); }

private slots:
    void initTestCase()
    {
        // Catch every scheme we hand out, so nothing really opens.
        for (const char* scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "record");
    }
    void cleanupTestCase()
    {
        for (const char* scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    void init() { opened_.clear(); }

    void targets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("url");
        QTest::newRow("absolute path") << "/home/u/メモ 1.txt" << "file:///home/u/メモ 1.txt";
        QTest::newRow("drive path") << "C:\\文書\\a.txt" << "file:///C:/文書/a.txt";
        QTest::newRow("unc path") << "\\\\server\\share\\a.txt" << "file://server/share/a.txt";
        QTest::newRow("relative path") << "notes/a.txt" << QUrl::fromLocalFile(QDir::current().filePath("notes/a.txt")).toString();
        QTest::newRow("file url") << "file:///tmp/x.zmd" << "file:///tmp/x.zmd";
        QTest::newRow("www") << "www.example.jp/a" << "http://www.example.jp/a";
        QTest::newRow("https") << " https://example.jp/a?b=1 " << "https://example.jp/a?b=1";
        QTest::newRow("mail") << "mailto:a@example.jp" << "mailto:a@example.jp";
    }
    void targets()
    {
        QFETCH(QString, target);
        QFETCH(QString, url);
        QVERIFY(QtDesktop().open(target));
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(opened_.first(), QUrl(url));
    }

    void emptyTargetOpensNothing()
    {
        QVERIFY(!QtDesktop().open(QStringLiteral("  ")));
        QVERIFY(opened_.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"

#include "shell/desktop.h"

#include "fixtures.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

using zumilo::shell::QtDesktop;
using zumilo::test::fileBytes;

namespace {

// A stand-in for xdg-open in `folder`: it writes its arguments, one a line,
// into the file whose path is returned, and ends with `exitCode`.
QString writeOpener(const QString& folder, int exitCode = 0)
{
    const QString log = QDir(folder).filePath(QStringLiteral("args"));
    QFile script(QDir(folder).filePath(QStringLiteral("xdg-open")));
    if (script.open(QIODevice::WriteOnly)) {
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp'\nmv '%1.tmp' '%1'\nexit %2\n")
                         .arg(log)
                         .arg(exitCode)
                         .toUtf8());
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
    }
    return log;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    QList<QUrl> opened_;
    QTemporaryDir launcherDir_;

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
        QTest::newRow("absolute path") << u"/home/u/メモ 1.txt"_s << u"file:///home/u/メモ 1.txt"_s;
        QTest::newRow("drive path") << u"C:\\文書\\a.txt"_s << u"file:///C:/文書/a.txt"_s;
        QTest::newRow("unc path") << u"\\\\server\\share\\a.txt"_s << u"file://server/share/a.txt"_s;
        QTest::newRow("relative path") << u"notes/a.txt"_s
                                       << QUrl::fromLocalFile(QDir::current().filePath(u"notes/a.txt"_s)).toString();
        QTest::newRow("file url") << u"file:///tmp/x.zmd"_s << u"file:///tmp/x.zmd"_s;
        QTest::newRow("www") << u"www.example.jp/a"_s << u"http://www.example.jp/a"_s;
        QTest::newRow("https") << u" https://example.jp/a?b=1 "_s << u"https://example.jp/a?b=1"_s;
        QTest::newRow("mail") << u"mailto:a@example.jp"_s << u"mailto:a@example.jp"_s;
        QTest::newRow("full-width www") << u"ｗｗｗ．example．jp/メモ"_s << u"http://www.example.jp/メモ"_s;
        // What a shell would read as commands stays inside one URL.
        QTest::newRow("hostile path") << u"/tmp/a;touch b|c$(touch d)'e'.txt"_s
                                      << u"file:///tmp/a;touch%20b%7Cc$(touch%20d)'e'.txt"_s;
        QTest::newRow("hostile drive path") << u"C:\\a;b|c$(id)'.txt"_s << u"file:///C:/a;b%7Cc$(id)'.txt"_s;
        QTest::newRow("hostile url") << u"http://x.jp/;rm -rf ~|sh`id`"_s
                                     << u"http://x.jp/;rm%20-rf%20~%7Csh%60id%60"_s;
        QTest::newRow("blanks: nothing") << u"  "_s << u""_s;
    }
    void targets()
    {
        QFETCH(QString, target);
        QFETCH(QString, url);
        QCOMPARE(QtDesktop().open(target), !url.isEmpty());
        QCOMPARE(opened_, url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl(url)});
    }

    // A document goes to xdg-open as one argument; its answer that it has
    // no program for it (or could not start it) reaches the caller. Without
    // xdg-open, Qt's own open action takes it.
    void documentsAnswerWhetherTheyOpened_data()
    {
        QTest::addColumn<int>("exitCode"); // of the stand-in xdg-open; -1: there is none
        QTest::addColumn<bool>("failed");
        QTest::newRow("opened") << 0 << false;
        QTest::newRow("no program for it") << 3 << true;
        QTest::newRow("the program did not start") << 4 << true;
        QTest::newRow("no xdg-open") << -1 << false;
    }
    void documentsAnswerWhetherTheyOpened()
    {
        QFETCH(int, exitCode);
        QFETCH(bool, failed);
        QTemporaryDir bin;
        const QString log = exitCode >= 0 ? writeOpener(bin.path(), exitCode) : QString();
        const QString document = bin.filePath(QStringLiteral("ｴｸｽﾎﾟｰﾄ 1; $(id).xlsx"));
        QFile(document).open(QIODevice::WriteOnly);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", exitCode >= 0 ? QFile::encodeName(bin.path()) + ':' + path : QFile::encodeName(bin.path()));
        bool told = false;
        const bool asked = QtDesktop().openDocument(document, [&] { told = true; });
        qputenv("PATH", path);
        QVERIFY(asked);
        if (exitCode < 0) {
            QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(document)});
        } else {
            QTRY_VERIFY(QFile::exists(log));
            QCOMPARE(QString::fromUtf8(fileBytes(log)), document + QLatin1Char('\n'));
        }
        QTRY_VERIFY(qApp->findChildren<QProcess*>().isEmpty());
        QCOMPARE(told, failed);
    }

    // No handler of ours this time: Qt's own launcher runs. A stand-in for
    // xdg-open records its arguments; the marks a shell would obey run nothing.
    void hostileTargetsRunNothing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("scheme");
        QTest::newRow("path") << u"%1/a;touch %1/hit1|touch %1/hit2$(touch %1/hit3)'`touch %1/hit4`.txt"_s
                              << u"file:"_s;
        QTest::newRow("url") << u"http://x.jp/;touch${IFS}%1/hit1|touch %1/hit2\"$(touch %1/hit3)\""_s << u"http:"_s;
        QTest::newRow("mail") << u"mailto:a@b;touch %1/hit1 & touch %1/hit2"_s << u"mailto:"_s;
    }
    void hostileTargetsRunNothing()
    {
        QFETCH(QString, target);
        QFETCH(QString, scheme);
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("The offscreen platform has no open action; CTest runs this again in Xvfb (shell_tst_desktop_x11).");
        // Qt finds its launcher once and keeps it: one folder for every row.
        const QString log = writeOpener(launcherDir_.path());
        QFile::remove(log);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(launcherDir_.path()) + ':' + path);
        cleanupTestCase(); // Qt's own launcher, not our recorder

        target = target.arg(launcherDir_.path());
        const bool accepted = QtDesktop().open(target);
        qputenv("PATH", path);
        initTestCase();
        QVERIFY(accepted);
        QTRY_VERIFY(QFile::exists(log));
        // One argument: the URL, as Qt encoded it.
        const QStringList lines = QString::fromUtf8(fileBytes(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(scheme) && !lines.first().contains(QLatin1Char(' ')),
                 qPrintable(lines.first()));
        for (int i = 1; i <= 4; ++i)
            QVERIFY(!QFile::exists(launcherDir_.filePath(QStringLiteral("hit%1").arg(i))));
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"

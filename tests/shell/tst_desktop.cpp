#include "shell/desktop.h"

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
        QTest::newRow("absolute path") << "/home/u/メモ 1.txt"
                                       << "file:///home/u/メモ 1.txt";
        QTest::newRow("drive path") << "C:\\文書\\a.txt"
                                    << "file:///C:/文書/a.txt";
        QTest::newRow("unc path") << "\\\\server\\share\\a.txt"
                                  << "file://server/share/a.txt";
        QTest::newRow("relative path") << "notes/a.txt"
                                       << QUrl::fromLocalFile(QDir::current().filePath(u"notes/a.txt"_s)).toString();
        QTest::newRow("file url") << "file:///tmp/x.zmd"
                                  << "file:///tmp/x.zmd";
        QTest::newRow("www") << "www.example.jp/a"
                             << "http://www.example.jp/a";
        QTest::newRow("https") << " https://example.jp/a?b=1 "
                               << "https://example.jp/a?b=1";
        QTest::newRow("mail") << "mailto:a@example.jp"
                              << "mailto:a@example.jp";
        QTest::newRow("full-width www") << "ｗｗｗ．example．jp/メモ"
                                        << "http://www.example.jp/メモ";
        // What a shell would read as commands stays inside one URL.
        QTest::newRow("hostile path") << "/tmp/a;touch b|c$(touch d)'e'.txt"
                                      << "file:///tmp/a;touch%20b%7Cc$(touch%20d)'e'.txt";
        QTest::newRow("hostile drive path") << "C:\\a;b|c$(id)'.txt"
                                            << "file:///C:/a;b%7Cc$(id)'.txt";
        QTest::newRow("hostile url") << "http://x.jp/;rm -rf ~|sh`id`"
                                     << "http://x.jp/;rm%20-rf%20~%7Csh%60id%60";
        QTest::newRow("blanks: nothing") << "  "
                                         << "";
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
        const QString log = bin.filePath(QStringLiteral("args"));
        if (exitCode >= 0) {
            QFile script(bin.filePath(QStringLiteral("xdg-open")));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp'\nmv '%1.tmp' '%1'\nexit %2\n")
                             .arg(log)
                             .arg(exitCode)
                             .toUtf8());
            script.close();
            script.setPermissions(script.permissions() | QFile::ExeOwner);
        }
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
            QFile args(log);
            QVERIFY(args.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(args.readAll()), document + QLatin1Char('\n'));
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
        QTest::newRow("path") << "%1/a;touch %1/hit1|touch %1/hit2$(touch %1/hit3)'`touch %1/hit4`.txt"
                              << "file:";
        QTest::newRow("url") << "http://x.jp/;touch${IFS}%1/hit1|touch %1/hit2\"$(touch %1/hit3)\""
                             << "http:";
        QTest::newRow("mail") << "mailto:a@b;touch %1/hit1 & touch %1/hit2"
                              << "mailto:";
    }
    void hostileTargetsRunNothing()
    {
        QFETCH(QString, target);
        QFETCH(QString, scheme);
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("The offscreen platform has no open action; CTest runs this again in Xvfb (shell_tst_desktop_x11).");
        // Qt finds its launcher once and keeps it: one folder for every row.
        const QString log = launcherDir_.filePath(QStringLiteral("args"));
        QFile script(launcherDir_.filePath(QStringLiteral("xdg-open")));
        if (!script.exists()) {
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\n"
                                        "mv '%1.tmp' '%1'\n")
                             .arg(log)
                             .toUtf8());
            script.close();
            script.setPermissions(script.permissions() | QFile::ExeOwner);
        }
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
        QFile args(log);
        QVERIFY(args.open(QIODevice::ReadOnly));
        // One argument: the URL, as Qt encoded it.
        const QStringList lines = QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(scheme) && !lines.first().contains(QLatin1Char(' ')),
                 qPrintable(lines.first()));
        for (int i = 1; i <= 4; ++i)
            QVERIFY(!QFile::exists(launcherDir_.filePath(QStringLiteral("hit%1").arg(i))));
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"

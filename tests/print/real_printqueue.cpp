// Printing a note on a real print queue: a private cupsd of this test's
// own, with the cups-pdf driver's queue writing each job into a file after
// the print system's own filters (paper, orientation) have run.

#include "support/mainwindowapp.h"

#include "main/mainwindow.h"
#include "shell/fonts.h"

#include <QAction>
#include <QPrinterInfo>
#include <QProcess>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

// cupsd in a folder of its own, listening on a socket there.
class PrintQueue {
public:
    // Empty when the queue is up and the default of this process.
    QString start()
    {
        const QString cupsd = QStringLiteral("/usr/sbin/cupsd");
        const QString driver = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
        if (!QFile::exists(cupsd) || !QFile::exists(driver)
            || QStandardPaths::findExecutable(QStringLiteral("lpadmin")).isEmpty())
            return QStringLiteral("cupsd, lpadmin or the cups-pdf driver is not installed");
        // The print system's filters run as another user: they must reach
        // the spool folder.
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                               | QFileDevice::ReadOther | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                               | QFileDevice::ExeGroup);
        for (const char* sub : {"spool", "cache", "state", "log", "out"})
            QDir(dir_.path()).mkdir(QLatin1String(sub));
        socket_ = dir_.filePath(QStringLiteral("cups.sock"));
        write(QStringLiteral("cupsd.conf"),
              QStringLiteral("Listen %1\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
                             "PreserveJobFiles Yes\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n")
                  .arg(socket_));
        write(QStringLiteral("cups-files.conf"),
              QStringLiteral("FileDevice Yes\nServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\n"
                             "StateDir %1/state\nTempDir %1/spool\nErrorLog %1/log/error_log\n"
                             "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n")
                  .arg(dir_.path()));
        // The driver's queue hands the job on as PDF, into a file.
        QFile ppd(driver);
        if (!ppd.open(QIODevice::ReadOnly))
            return QStringLiteral("the cups-pdf driver cannot be read");
        QByteArray text = ppd.readAll();
        text.replace("*PPD-Adobe: \"4.3\"\n",
                     "*PPD-Adobe: \"4.3\"\n*cupsFilter2: \"application/vnd.cups-pdf application/pdf 0 -\"\n");
        write(QStringLiteral("queue.ppd"), QString::fromLatin1(text));

        daemon_.setProcessChannelMode(QProcess::MergedChannels);
        daemon_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), dir_.filePath(QStringLiteral("cupsd.conf")),
                              QStringLiteral("-s"), dir_.filePath(QStringLiteral("cups-files.conf"))});
        if (!daemon_.waitForStarted(10000))
            return QStringLiteral("cupsd does not start: ") + daemon_.errorString();
        qputenv("CUPS_SERVER", socket_.toLocal8Bit());
        QElapsedTimer waited;
        waited.start();
        while (!lpadmin({QStringLiteral("-p"), QStringLiteral("zumilo"), QStringLiteral("-E"), QStringLiteral("-v"),
                         QUrl::fromLocalFile(output()).toString(), QStringLiteral("-P"),
                         dir_.filePath(QStringLiteral("queue.ppd"))})) {
            if (daemon_.state() != QProcess::Running || waited.elapsed() > 10000)
                return QStringLiteral("cupsd does not run here: ") + QString::fromLocal8Bit(daemon_.readAll());
            QTest::qWait(50);
        }
        return lpadmin({QStringLiteral("-d"), QStringLiteral("zumilo")}) ? QString()
                                                                         : QStringLiteral("no default queue");
    }
    ~PrintQueue()
    {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(10000);
        }
    }
    QString output() const { return dir_.filePath(QStringLiteral("out/job.pdf")); }
    // The document of the last job, as the program handed it to the queue.
    QString lastJob() const
    {
        const QDir spool(dir_.filePath(QStringLiteral("spool")));
        return spool.filePath(spool.entryList({QStringLiteral("d*-001")}, QDir::Files, QDir::Name)
                                  .value(-1 + spool.entryList({QStringLiteral("d*-001")}).size()));
    }
    // No job waits or runs.
    bool idle() const { return test::runTool(QStringLiteral("lpstat"), {QStringLiteral("-o")}).trimmed().isEmpty(); }

private:
    void write(const QString& name, const QString& text)
    {
        QFile f(dir_.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    static bool lpadmin(const QStringList& arguments)
    {
        QProcess p;
        p.start(QStringLiteral("lpadmin"), arguments);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir_;
    QString socket_;
    QProcess daemon_;
};

} // namespace

class TestPrintQueue : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        shell::installJapaneseFonts();
        const QString why = queue_.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no private print queue on this machine: ") + why));
        QCOMPARE(QPrinterInfo::defaultPrinterName(), QStringLiteral("zumilo"));
    }

    // The job goes to the queue on the paper, in the orientation and with
    // the margins and font of the print settings, as the preview showed
    // it: no printer dialog puts the queue's own A4 back. The queue prints
    // a landscape page turned on its sheet.
    void jobKeepsTheSettings_data()
    {
        QTest::addColumn<QString>("paper");
        QTest::addColumn<QString>("orientation");
        QTest::addColumn<QSizeF>("job"); // points
        QTest::addColumn<QSizeF>("sheet");
        QTest::newRow("B5 landscape") << u"13"_s << u"2"_s << QSizeF(728.5, 515.9) << QSizeF(518, 727);
        QTest::newRow("A3 portrait") << u"8"_s << u"1"_s << QSizeF(841.9, 1190.6) << QSizeF(842, 1191);
        QTest::newRow("B4 landscape") << u"12"_s << u"2"_s << QSizeF(1000.6, 708.7) << QSizeF(708, 1000);
    }

    void jobKeepsTheSettings()
    {
        QFETCH(QString, paper);
        QFETCH(QString, orientation);
        QFETCH(QSizeF, job);
        QFETCH(QSizeF, sheet);
        test::MainWindowApp app;
        app.category(1, QStringLiteral("会議"), 0);
        const QString body = QStringLiteral(
            "〒１００-０００１ 東京都千代田区 ℡０３-１２３４-５６７８\n日 用 長 行 文 白 角 𠮷野家");
        app.note(10, QStringLiteral("議事録"), 1,
                 {{QStringLiteral("bunrui"), QStringLiteral("会議")}, {QStringLiteral("naiyo"), body}});
        for (const auto& [key, value] :
             {std::pair{"PaperSize", paper}, std::pair{"Orientation", orientation},
              std::pair{"Leftyohaku", QStringLiteral("30")}, std::pair{"FontName", QStringLiteral("ＭＳ Ｐ明朝")}})
            app.settings->write(QStringLiteral("PrintOption"), QLatin1String(key), value);
        app.load();
        app.choose(QStringLiteral("1_id"));
        QFile::remove(queue_.output());

        app.prompts.expectPrintPreview(true);
        test::trigger(*app.window, "mnuPrint1");
        ZUMILO_VERIFY_PROMPTS_DONE(app.prompts);
        QTRY_VERIFY_WITH_TIMEOUT(queue_.idle() && QFileInfo(queue_.output()).size() > 0, 20000);

        auto sizeOf = [](const QString& pdf) {
            const QRegularExpressionMatch m = QRegularExpression(
                                                  QStringLiteral("Page size: +([0-9.]+) x ([0-9.]+) pts"))
                                                  .match(test::runTool(QStringLiteral("pdfinfo"), {pdf}));
            return QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble());
        };
        const QString sent = queue_.lastJob();
        for (const auto& [pdf, size] : {std::pair{sent, job}, std::pair{queue_.output(), sheet}}) {
            const QSizeF got = sizeOf(pdf);
            QVERIFY2(qAbs(got.width() - size.width()) < 1 && qAbs(got.height() - size.height()) < 1,
                     qPrintable(QStringLiteral("%1 x %2").arg(got.width()).arg(got.height())));
            const QStringList text =
                test::runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).split(u'\n');
            for (const QString& line : body.split(u'\n'))
                QVERIFY2(text.contains(line), qPrintable(text.join(u'\n')));
            const QString fonts = test::runTool(QStringLiteral("pdffonts"), {pdf});
            QVERIFY2(fonts.contains(QRegularExpression(
                         QStringLiteral("\\+NotoSerifCJKjp-Regular +CID Type 0C +Identity-H +yes +yes +yes"))),
                     qPrintable(fonts));
        }
        // The left margin of 30 mm: the text starts 85 points in.
        const QString words = test::runTool(QStringLiteral("pdftotext"),
                                            {QStringLiteral("-bbox"), sent, QStringLiteral("-")});
        const QRegularExpressionMatch first = QRegularExpression(QStringLiteral("xMin=\"([0-9.]+)\"")).match(words);
        QVERIFY2(qAbs(first.captured(1).toDouble() - 85) < 1, qPrintable(words));
    }

private:
    PrintQueue queue_;
};

QTEST_MAIN(TestPrintQueue)
#include "real_printqueue.moc"

// Printing a note from the three windows into PDF files, read back with
// poppler's tools; the line breaking at the print width.

#include "support/mainwindowapp.h"

#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "print/linebreaker.h"
#include "print/noteprinter.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/fonts.h"
#include "shell/tabstrip.h"

#include <QAction>
#include <QDir>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTabBar>
#include <QTextBoundaryFinder>
#include <QXmlStreamReader>
#include <QtTest>

using namespace zumilo;
using shell::Msg::No;
using shell::Msg::Yes;

namespace {

const QString kNoPrinter = QStringLiteral("プリンターが見つかりません。\n印刷する内容を PDF ファイルに保存しますか？");
const QString kSaved = QStringLiteral("PDF ファイルに保存しました。\n");
const QString kMixed = QStringLiteral("日本語とEnglishが混ざったABCｱｲｳ１２３の行です。").repeated(8);
constexpr double kTwipsPerPoint = 20;

QString tool(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)").arg(program, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Text as poppler reads it back and as the note holds it compare equal
// once both are folded: the PDF names some kanji by their radical look-alikes.
QString folded(const QString& text)
{
    return text.normalized(QString::NormalizationForm_KC).simplified().remove(QLatin1Char(' '));
}

struct PrintedLine {
    int page;
    QRectF box; // points
    QString text;
};

QList<PrintedLine> printedLines(const QString& pdf, QSizeF* pageSize = nullptr)
{
    QList<PrintedLine> lines;
    QXmlStreamReader xml(tool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox-layout"), pdf, QStringLiteral("-")}));
    int page = -1;
    auto number = [&](const char* name) { return xml.attributes().value(QLatin1String(name)).toDouble(); };
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"page") {
            ++page;
            if (pageSize)
                *pageSize = QSizeF(number("width"), number("height"));
        } else if (xml.name() == u"line") {
            lines.append({page, QRectF(QPointF(number("xMin"), number("yMin")), QPointF(number("xMax"), number("yMax"))), {}});
        } else if (xml.name() == u"word") {
            lines.last().text += xml.readElementText();
        }
    }
    for (PrintedLine& l : lines)
        l.text = folded(l.text);
    return lines;
}

QList<int> characterBounds(const QString& line)
{
    QList<int> bounds{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        bounds.append(int(at));
    return bounds;
}

// The rule as first written: grow a run one character at a time while
// it stays narrower than the width.
QStringList growingRuns(const QString& line, const QFontMetricsF& metrics, qreal width)
{
    const QList<int> bounds = characterBounds(line);
    QStringList pieces;
    for (int first = 0; first + 1 < bounds.size();) {
        int n = 1;
        while (first + n + 1 < bounds.size()
               && metrics.horizontalAdvance(line.mid(bounds[first], bounds[first + n + 1] - bounds[first])) < width)
            ++n;
        pieces.append(line.mid(bounds[first], bounds[first + n] - bounds[first]));
        first += n;
    }
    return pieces;
}

// The printer the print command sets up with the stored options, and the
// width its lines are broken at.
struct PdfPrinter {
    QPrinter printer{QPrinter::HighResolution};
    print::PrintOptions options;
    PdfPrinter(const shell::SettingsStore& settings)
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        options = print::readPrintOptions(settings).options;
        print::PrintSetup(printer, options);
    }
    QFontMetricsF metrics() { return QFontMetricsF(print::printFont(options), &printer); }
    qreal deviceUnits(double twips) const { return twips * printer.resolution() / 1440.0; }
};

struct Env : test::MainWindowApp {
    explicit Env(const QString& body = QStringLiteral("本文"))
    {
        category(1, QStringLiteral("会議"), 0);
        for (const auto& [id, title] : {std::pair{10, QStringLiteral("議事録")}, std::pair{11, QStringLiteral("連絡")}}) {
            note(id, title, 1,
                 {{QStringLiteral("bunrui"), QStringLiteral("会議")}, {QStringLiteral("naiyo"), body},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-01")},
                  {QStringLiteral("kousinTime"), QStringLiteral("09:15:00")}});
        }
        load();
        choose(QStringLiteral("1_id"));
    }
    QString pdf(const QString& name = QStringLiteral("note.pdf")) const { return path(QStringLiteral("out/") + name); }
    void print(QMainWindow& from) { from.findChild<QAction*>(QStringLiteral("mnuPrint1"))->trigger(); }
    // Prints from `from` as a user without a printer does: into a PDF.
    QList<PrintedLine> printToPdf(QMainWindow& from, QSizeF* pageSize = nullptr,
                                  const QString& name = QStringLiteral("note.pdf"))
    {
        prompts.expectMessage(kNoPrinter, Yes).expectSaveFile(pdf(name)).expectPrintPreview(true).expectMessage(kSaved + pdf(name));
        print(from);
        return printedLines(pdf(name), pageSize);
    }
};

} // namespace

class TestPrinting : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        shell::installJapaneseFonts();
        if (!QPrinterInfo::availablePrinters().isEmpty())
            QSKIP("this machine has a printer: the print command would use it");
    }

    void init() { QVERIFY(!QGuiApplication::overrideCursor()); }
    // The hourglass never outlives a command, however it ended.
    void cleanup() { QVERIFY(!QGuiApplication::overrideCursor()); }

    void lineBreaking_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("widthOf"); // the width is this text's
        QTest::addColumn<QString>("firstPiece");
        QTest::newRow("mixed full and half width") << kMixed << "日本語とEnglishが混ざった" << "";
        QTest::newRow("a run exactly as wide is broken") << "あいうえおかきくけこ" << "あいうえお" << "あいうえ";
        QTest::newRow("half width only") << QStringLiteral("abcdefghij").repeated(20) << "abcdefghijklmnopq" << "";
        QTest::newRow("surrogate pairs stay whole") << "𠮷野家の𠮷と𩸽𩸽𩸽𩸽" << "𠮷野" << "𠮷";
        QTest::newRow("marks stay with their letter") << "か\u3099き\u3099く\u3099け\u3099" << "か\u3099き" << "か\u3099";
        QTest::newRow("wider than the width: one each") << "亜宇" << "" << "亜";
    }

    void lineBreaking()
    {
        QFETCH(QString, line);
        QFETCH(QString, widthOf);
        QFETCH(QString, firstPiece);
        test::TestApp app;
        PdfPrinter pdf(*app.settings);
        const QFontMetricsF metrics = pdf.metrics();
        const qreal width = metrics.horizontalAdvance(widthOf);
        const QStringList pieces = print::LineBreaker(metrics, width).pieces(line);
        QCOMPARE(pieces, growingRuns(line, metrics, width));
        QCOMPARE(pieces.join(QString()), line);
        if (!firstPiece.isEmpty())
            QCOMPARE(pieces.first(), firstPiece);
    }

    // The whole page: header, rules, title, body; lines cut at the width,
    // an empty line kept, a second page where the next line would pass
    // the bottom margin, and no empty page at the end.
    void printedPage()
    {
        QStringList body{QStringLiteral("一行目"), QString(), kMixed};
        for (int i = 1; i <= 80; ++i)
            body << QStringLiteral("行%1").arg(i);
        Env env(body.join(QLatin1Char('\n')));
        QSizeF page;
        const QList<PrintedLine> lines = env.printToPdf(*env.window, &page);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        // With the defaults the lines are 1474 twips narrower than A4.
        PdfPrinter pdf(*env.settings);
        const qreal width = pdf.deviceUnits(qRound(210 / 25.4 * 1440) - 1474);
        QStringList expected{folded(QStringLiteral("分類： 会議   更新日： 2026/12/01  09:15:00")), QStringLiteral("議事録"),
                             QStringLiteral("一行目")};
        for (const QString& piece : growingRuns(kMixed, pdf.metrics(), width))
            expected << folded(piece);
        for (int i = 1; i <= 80; ++i)
            expected << QStringLiteral("行%1").arg(i);
        QStringList texts;
        for (const PrintedLine& l : lines)
            texts << l.text;
        QCOMPARE(texts, expected);

        // Margins 8, 16, 10 and 8 mm; a line below another by its height.
        const double top = 454 / kTwipsPerPoint;
        const double bottom = page.height() - 454 / kTwipsPerPoint;
        const double right = page.width() - 567 / kTwipsPerPoint;
        QCOMPARE(qRound(lines.first().box.left() * kTwipsPerPoint), 907);
        QVERIFY(qAbs(lines.first().box.top() - top) < 0.5);
        const double lineHeight = lines[5].box.top() - lines[4].box.top();
        for (const PrintedLine& l : lines)
            QVERIFY2(l.box.right() <= right + 0.1 && l.box.top() + lineHeight <= bottom + 0.1, qPrintable(l.text));
        // The empty line between 一行目 and the mixed line.
        QVERIFY(qAbs(lines[3].box.top() - lines[2].box.top() - 2 * lineHeight) < 0.1);

        const auto second = std::find_if(lines.begin(), lines.end(), [](const PrintedLine& l) { return l.page == 1; });
        QVERIFY(second != lines.end());
        QVERIFY(std::prev(second)->box.top() + 2 * lineHeight > bottom);
        QVERIFY(qAbs(second->box.top() - top) < 0.5);
        QCOMPARE(lines.last().page, 1);

        // A body that fills the first page to its last line: the page
        // break it asks for starts no empty sheet.
        const int places = qRound((std::prev(second)->box.top() - top) / lineHeight) + 1;
        QStringList filling;
        for (int i = 1; i <= places - 5; ++i) // header, blank, title, blank, blank
            filling << QStringLiteral("行%1").arg(i);
        env.editor().setText(1, filling.join(QLatin1Char('\n')));
        QCOMPARE(env.printToPdf(*env.window, nullptr, QStringLiteral("full.pdf")).last().text, filling.last());
        QVERIFY(tool(QStringLiteral("pdfinfo"), {env.pdf(QStringLiteral("full.pdf"))}).contains(QRegularExpression(QStringLiteral("Pages:\\s+1\n"))));

        // Japanese glyphs, from a font carried in the file.
        const QStringList fonts = tool(QStringLiteral("pdffonts"), {env.pdf()}).split(QLatin1Char('\n')).mid(2);
        QVERIFY(std::any_of(fonts.begin(), fonts.end(), [](const QString& f) { return f.contains(QStringLiteral("CJK")); }));
        for (const QString& font : fonts)
            QVERIFY2(font.isEmpty() || font.section(QLatin1Char(' '), -5, -5, QString::SectionSkipEmpty) == u"yes",
                     qPrintable(font));
    }

    void everyWindowPrintsItsNote_data()
    {
        QTest::addColumn<int>("window");
        QTest::newRow("main") << 0;
        QTest::newRow("single record") << 1;
        QTest::newRow("grid") << 2;
    }

    void everyWindowPrintsItsNote()
    {
        QFETCH(int, window);
        Env env(QStringLiteral("一行目\n二行目"));
        QMainWindow* from = env.window.get();
        if (window == 1) {
            env.list().selectKey(QStringLiteral("11_id"));
            QTest::keyClick(&env.list(), Qt::Key_Return);
            from = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* r = qobject_cast<records::RecordWindow*>(w); r && r->isVisible())
                    from = r;
            }
        } else if (window == 2) {
            env.window->findChild<shell::TabStrip*>(QStringLiteral("TabStrip1"))->bar()->setCurrentIndex(1);
            from = env.window->gridWindow();
        }
        QVERIFY(from);
        const QString title = records::commandWindow(*from)->editor()->text(0);
        QVERIFY(!title.isEmpty());
        const QList<PrintedLine> lines = env.printToPdf(*from);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QStringList texts;
        for (const PrintedLine& l : lines)
            texts << l.text;
        QCOMPARE(texts, (QStringList{folded(QStringLiteral("分類： 会議   更新日： 2026/12/01  09:15:00")), title,
                                     QStringLiteral("一行目"), QStringLiteral("二行目")}));
        if (window == 1)
            from->close();
    }

    // Settings the print cannot use are named; nothing is printed.
    void unusableSettings_data()
    {
        QTest::addColumn<QStringList>("stored"); // key, value, key, value...
        QTest::addColumn<QString>("message");
        const QString fix = QStringLiteral("\n「印刷設定」で直してください。");
        QTest::newRow("no paper chosen") << QStringList{"PaperSize", "0"}
                                         << "印刷設定で用紙が選ばれていません（コード 0）。\n「印刷設定」で用紙を選んでください。";
        QTest::newRow("margin that is no number") << QStringList{"Ueyohaku", "広め"}
                                                  << "印刷設定の「上余白」に使えない値「広め」が入っています。" + fix;
        QTest::newRow("negative margin") << QStringList{"Rightyohaku", "-5"}
                                         << "印刷設定の「右余白」に使えない値「-5」が入っています。" + fix;
        QTest::newRow("size beyond 16 bits") << QStringList{"Point", "40000"}
                                             << "印刷設定の「フォントの大きさ」に使えない値「40000」が入っています。" + fix;
        QTest::newRow("unknown orientation") << QStringList{"Orientation", "3"}
                                             << "印刷設定の「印刷の向き」に使えない値「3」が入っています。" + fix;
        const QString noRoom = QStringLiteral("余白が大きすぎて、用紙に印刷する場所がありません。\n「印刷設定」で余白を小さくしてください。");
        QTest::newRow("no width left") << QStringList{"Leftyohaku", "150", "Rightyohaku", "60"} << noRoom;
        QTest::newRow("not one line high") << QStringList{"Orientation", "2", "Ueyohaku", "100", "Sitayohaku", "105"} << noRoom;
    }

    void unusableSettings()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, message);
        Env env;
        for (qsizetype i = 0; i + 1 < stored.size(); i += 2)
            env.settings->write(shell::Settings::PrintOption, stored[i], stored[i + 1]);
        env.prompts.expectMessage(message, shell::Msg::Ok,
                                  shell::Msg::Exclamation);
        env.print(*env.window);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.window->isVisible());
    }

    // Where the printout goes when there is no printer.
    void pdfFile_data()
    {
        QTest::addColumn<QString>("chosen");     // in the file dialog; empty: cancelled
        QTest::addColumn<int>("overwrite");      // answer to the question, 0 when not asked
        QTest::addColumn<QString>("written");    // empty: nothing written
        QTest::addColumn<QString>("message");    // after the preview
        QTest::newRow("the suffix is added") << "out/メモ" << 0 << "out/メモ.pdf" << "saved";
        QTest::newRow("file dialog cancelled") << "" << 0 << "" << "";
        QTest::newRow("existing file kept") << "out/old.pdf" << int(No) << "" << "";
        QTest::newRow("existing file replaced") << "out/old.pdf" << int(Yes) << "out/old.pdf" << "saved";
        QTest::newRow("folder that is not there") << "missing/x.pdf" << 0 << ""
                                                 << "PDF ファイルを書き込めませんでした。\n%1\n\n保存先のフォルダーに書き込めるか確かめてください。";
    }

    void pdfFile()
    {
        QFETCH(QString, chosen);
        QFETCH(int, overwrite);
        QFETCH(QString, written);
        QFETCH(QString, message);
        Env env;
        const QString old = env.writeFile(QStringLiteral("out/old.pdf"), "old");
        const QString path = chosen.isEmpty() ? QString() : QDir(env.dir.path()).filePath(chosen);
        env.prompts.expectMessage(kNoPrinter, Yes).expectSaveFile(chosen.isEmpty() ? std::nullopt : std::optional(path));
        if (overwrite)
            env.prompts.expectMessage(path + QStringLiteral(" は既にあります。\n上書きしますか？"), overwrite);
        if (!chosen.isEmpty() && overwrite != No)
            env.prompts.expectPrintPreview(true);
        const QString target = written.isEmpty() ? path : env.path(written);
        if (message == u"saved")
            env.prompts.expectMessage(kSaved + target);
        else if (!message.isEmpty())
            env.prompts.expectMessage(message.arg(path));
        env.print(*env.window);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        if (!written.isEmpty())
            QVERIFY(tool(QStringLiteral("pdftotext"), {target, QStringLiteral("-")}).contains(QStringLiteral("議事録")));
        QFile kept(old);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll() == "old", written != u"out/old.pdf");
    }

    // The next print takes what the options dialog stored: paper,
    // orientation, margins, font size.
    void storedOptionsAreUsed()
    {
        Env env;
        for (const auto& [key, value] : {std::pair{"PaperSize", "13"}, {"Orientation", "2"}, {"Ueyohaku", "25"},
                                         {"Leftyohaku", "15"}, {"Point", "14"}})
            env.settings->write(shell::Settings::PrintOption, QString::fromLatin1(key), QString::fromLatin1(value));
        QSizeF page;
        const QList<PrintedLine> lines = env.printToPdf(*env.window, &page);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(qRound(page.width() / 72 * 25.4), 257); // JIS B5, landscape
        QCOMPARE(qRound(page.height() / 72 * 25.4), 182);
        QCOMPARE(qRound(lines.first().box.left() * kTwipsPerPoint), 850);
        QVERIFY(qAbs(lines.first().box.top() * kTwipsPerPoint - 1418) < 10);
        QVERIFY(qAbs(lines[1].box.top() - lines[0].box.top() - 2 * 14 * 1.437) < 0.5);
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"

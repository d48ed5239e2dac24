// Printing a note from the three windows into PDF files, read back with
// poppler's tools; the line breaking at the print width; the options
// dialog and what it stores.

#include "support/mainwindowapp.h"

#include "main/mainwindow.h"
#include "print/linebreaker.h"
#include "print/noteprinter.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "shell/fonts.h"
#include "shell/tabstrip.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTabBar>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QXmlStreamReader>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;
using shell::Msg::No;
using shell::Msg::Yes;

namespace {

using Gesture = std::function<void(QDialog&, test::ScriptedPrompts&)>;
using Values = QList<std::pair<QString, QString>>; // "Section/Key", value

const QString kNoPrinter = QStringLiteral("プリンターが見つかりません。\n印刷する内容を PDF ファイルに保存しますか？");
const QString kSaved = QStringLiteral("PDF ファイルに保存しました。\n");
const QString kMixed = QStringLiteral("日本語とEnglishが混ざったABCｱｲｳ１２３の行です。").repeated(8);

// The note's text as poppler reads it back from a line's words.
QString folded(const QString& text)
{
    return text.normalized(QString::NormalizationForm_C).remove(QLatin1Char(' '));
}

// Every font of the PDF embedded and mapped to Unicode; the print font,
// the first, of `family`.
void checkFonts(const QString& pdf, const QString& family)
{
    const QStringList fonts = test::runTool(QStringLiteral("pdffonts"), {pdf}).split(u'\n', Qt::SkipEmptyParts).mid(2);
    QVERIFY(!fonts.isEmpty());
    QVERIFY2(fonts.first().contains(QRegularExpression(QStringLiteral("^([A-Z]{6}\\+)?%1").arg(family))),
             qPrintable(fonts.first()));
    for (const QString& font : fonts)
        QVERIFY2(font.contains(QRegularExpression(QStringLiteral(" Identity-H +yes +yes +yes "))), qPrintable(font));
}
const QString kHeader = folded(QStringLiteral("分類： 会議   更新日： 2026/12/01  09:15:00"));

struct PrintedLine {
    int page;
    QRectF box; // points
    QString text;
};

QList<PrintedLine> printedLines(const QString& pdf, QSizeF* pageSize = nullptr)
{
    QList<PrintedLine> lines;
    QXmlStreamReader xml(
        test::runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox-layout"), pdf, QStringLiteral("-")}));
    int page = -1;
    auto at = [&](const char* name) { return xml.attributes().value(QLatin1String(name)).toDouble(); };
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"page" && ++page >= 0 && pageSize)
            *pageSize = QSizeF(at("width"), at("height"));
        else if (xml.name() == u"line")
            lines.append({page, QRectF(QPointF(at("xMin"), at("yMin")), QPointF(at("xMax"), at("yMax"))), {}});
        else if (xml.name() == u"word")
            lines.last().text += folded(xml.readElementText());
    }
    return lines;
}

QStringList textsOf(const QList<PrintedLine>& lines)
{
    QStringList texts;
    for (const PrintedLine& l : lines)
        texts << l.text;
    return texts;
}

// The rule as first written: a run grown one character at a time while it
// stays narrower than the width.
QStringList growingRuns(const QString& line, const QFontMetricsF& metrics, qreal width)
{
    QList<int> bounds{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        bounds.append(int(at));
    QStringList pieces;
    for (int first = 0, n = 1; first + 1 < bounds.size(); first += n, n = 1) {
        auto run = [&](int k) { return line.mid(bounds[first], bounds[first + k] - bounds[first]); };
        while (first + n + 1 < bounds.size() && metrics.horizontalAdvance(run(n + 1)) < width)
            ++n;
        pieces.append(run(n));
    }
    return pieces;
}

// The print font as it measures on a printer set up with the defaults.
QFontMetricsF defaultPrintMetrics()
{
    static QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    print::PrintSetup(printer, {});
    return QFontMetricsF(print::printFont({}), &printer);
}

void click(QDialog& dialog, const QString& name)
{
    QTest::mouseClick(dialog.findChild<QWidget*>(name), Qt::LeftButton);
}

// Replaces the box's text the way Japanese is typed: through the input
// method, which hands over what was composed.
void type(QDialog& dialog, const QString& box, const QString& text)
{
    QLineEdit* edit = dialog.findChild<QLineEdit*>(box);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

QString fontFrame(QDialog& dialog)
{
    return dialog.findChild<QLineEdit*>(QStringLiteral("Text2(0)"))->text() + u'|'
           + dialog.findChild<QLineEdit*>(QStringLiteral("Text2(1)"))->text();
}

void chooseTab(QDialog& dialog, int index)
{
    QTabBar* tabs = dialog.findChild<QTabBar*>(QStringLiteral("TabStrip1"));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
}

void chooseEntry(QDialog& dialog, const QString& combo, const QString& entry)
{
    QComboBox* box = dialog.findChild<QComboBox*>(combo);
    while (box->currentText() != entry && box->currentIndex() < box->count() - 1)
        QTest::keyClick(box, Qt::Key_Down);
}

struct Env : test::MainWindowApp {
    explicit Env(const QString& body = QStringLiteral("本文"))
    {
        category(1, QStringLiteral("会議"), 0);
        for (const auto& [id, title] :
             {std::pair{10, QStringLiteral("議事録")}, std::pair{11, QStringLiteral("連絡")}}) {
            note(id, title, 1,
                 {{QStringLiteral("bunrui"), QStringLiteral("会議")},
                  {QStringLiteral("naiyo"), body},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-01")},
                  {QStringLiteral("kousinTime"), QStringLiteral("09:15:00")}});
        }
        load();
        choose(QStringLiteral("1_id"));
    }
    QString stored(const QString& key) const
    {
        return settings->read(key.section(u'/', 0, 0), key.section(u'/', 1), QStringLiteral("(none)"));
    }
    void store(const Values& values)
    {
        for (const auto& [key, value] : values)
            settings->write(key.section(u'/', 0, 0), key.section(u'/', 1), value);
    }
    // Opens the dialog from the main window's menu and lets `act` use it.
    void withOptions(const QString& command, const std::function<void(QDialog&)>& act)
    {
        prompts.expectDialog(QStringLiteral("frmOption"), act);
        window->action(command)->trigger();
        ZUMILO_VERIFY_PROMPTS_DONE(prompts);
    }
    QString pdf(const QString& name = QStringLiteral("note.pdf")) const { return path(QStringLiteral("out/") + name); }
    // Prints from `from` as a user without a printer does: into a PDF.
    QList<PrintedLine> printToPdf(QMainWindow& from, QSizeF* pageSize = nullptr,
                                  const QString& name = QStringLiteral("note.pdf"),
                                  const QString& family = QStringLiteral("NotoSerifCJK"))
    {
        prompts.expectMessage(kNoPrinter, Yes)
            .expectSaveFile(pdf(name))
            .expectPrintPreview(true)
            .expectMessage(kSaved + pdf(name));
        test::trigger(from, "mnuPrint1");
        ZUMILO_VERIFY_PROMPTS_DONE(prompts);
        checkFonts(pdf(name), family);
        return printedLines(pdf(name), pageSize);
    }
};

} // namespace

Q_DECLARE_METATYPE(Gesture)
Q_DECLARE_METATYPE(Values)

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        shell::installJapaneseFonts();
        if (!QPrinterInfo::availablePrinters().isEmpty())
            QSKIP("this machine has a printer: the print command would use it");
    }
    // The hourglass never outlives a command, however it ended.
    void cleanup() { QVERIFY(!QGuiApplication::overrideCursor()); }

    void lineBreaking_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("widthOf"); // the width is this text's
        QTest::addColumn<QString>("firstPiece");
        QTest::newRow("mixed full and half width") << kMixed << u"日本語とEnglishが混ざった"_s << u""_s;
        QTest::newRow("a run exactly as wide is broken")
            << u"あいうえおかきくけこ"_s << u"あいうえお"_s << u"あいうえ"_s;
        QTest::newRow("surrogate pairs stay whole") << u"𠮷野家の𠮷と𩸽𩸽𩸽𩸽"_s << u"𠮷野"_s << u"𠮷"_s;
        QTest::newRow("marks stay with their letter")
            << u"か\u3099き\u3099く\u3099け\u3099"_s << u"か\u3099き"_s << u"か\u3099"_s;
        QTest::newRow("wider than the width: one each") << u"亜宇"_s << u""_s << u"亜"_s;
    }

    void lineBreaking()
    {
        QFETCH(QString, line);
        QFETCH(QString, widthOf);
        QFETCH(QString, firstPiece);
        const QFontMetricsF metrics = defaultPrintMetrics();
        const qreal width = metrics.horizontalAdvance(widthOf);
        const QStringList pieces = print::LineBreaker(metrics, width).pieces(line);
        QCOMPARE(pieces, growingRuns(line, metrics, width));
        QCOMPARE(pieces.join(QString()), line);
        if (!firstPiece.isEmpty())
            QCOMPARE(pieces.first(), firstPiece);
    }

    // The whole page: header, rules, title, body; lines cut at the width,
    // an empty line kept, a second page where the next line would pass
    // the bottom margin, no empty page at the end, the font in the file.
    void printedPage()
    {
        QStringList body{QStringLiteral("一行目"), QString(), kMixed};
        for (int i = 1; i <= 80; ++i)
            body << QStringLiteral("行%1").arg(i);
        Env env(body.join(QLatin1Char('\n')));
        QSizeF page;
        const QList<PrintedLine> lines = env.printToPdf(*env.window, &page);

        // With the defaults the lines are 1474 twips narrower than A4.
        const QFontMetricsF metrics = defaultPrintMetrics();
        const QStringList pieces = growingRuns(kMixed, metrics, qRound(210 / 25.4 * 1440) - 1474);
        QStringList expected{kHeader, QStringLiteral("議事録"), QStringLiteral("一行目")};
        for (const QString& piece : pieces)
            expected << folded(piece);
        QCOMPARE(textsOf(lines), expected + body.mid(3));

        // Margins of 8, 16, 10 and 8 mm (454, 907, 567, 454 twips).
        const double top = 454 / 20.0, bottom = page.height() - top, right = page.width() - 567 / 20.0;
        QCOMPARE(qRound(lines.first().box.left() * 20), 907);
        QVERIFY(qAbs(lines.first().box.top() - top) < 0.5);
        const double lineHeight = lines[5].box.top() - lines[4].box.top();
        for (const PrintedLine& l : lines)
            QVERIFY2(l.box.right() <= right + 0.1 && l.box.top() + lineHeight <= bottom + 0.1, qPrintable(l.text));
        QVERIFY(qAbs(lines[3].box.top() - lines[2].box.top() - 2 * lineHeight) < 0.1); // the empty line

        const auto second = std::find_if(lines.begin(), lines.end(), [](const PrintedLine& l) { return l.page == 1; });
        QVERIFY(second != lines.end() && lines.last().page == 1);
        QVERIFY(std::prev(second)->box.top() + 2 * lineHeight > bottom);
        QVERIFY(qAbs(second->box.top() - top) < 0.5);

        // A body that fills the first page to its last line asks for a
        // page break that starts no empty sheet.
        const int places = qRound((std::prev(second)->box.top() - top) / lineHeight) + 1;
        const QStringList filling = body.mid(3, places - 5); // header, blank, title, blank, blank
        env.editor().setText(1, filling.join(QLatin1Char('\n')));
        QCOMPARE(env.printToPdf(*env.window, nullptr, QStringLiteral("full.pdf")).last().text, filling.last());
        QVERIFY(test::runTool(QStringLiteral("pdfinfo"), {env.pdf(QStringLiteral("full.pdf"))})
                    .contains(QStringLiteral("Pages:           1\n")));
    }

    // The text of a saved PDF is the note's, character for character:
    // digits, signs, kanji that share their glyph with a radical, marks,
    // letters the print font lacks.
    void savedTextReadsBack()
    {
        const QString body = QStringLiteral("〒１００-０００１ 〒100-0001 ℡０３-１２３４-５６７８\n"
                                            "日 用 長 行 文 白 角 ⽇ 𠮷野家 か\u3099き\u3099\n"
                                            "①㈱ ＡＢＣ abc ｱｲｳ ～―¥\\ 「」『』【】、。・\n"
                                            "メモ：გამარჯობა と Բարեւ");
        Env env(body);
        env.printToPdf(*env.window);
        const QString text = test::runTool(QStringLiteral("pdftotext"), {env.pdf(), QStringLiteral("-")})
                                 .normalized(QString::NormalizationForm_C);
        for (const QString& line : body.normalized(QString::NormalizationForm_C).split(u'\n'))
            QVERIFY2(text.split(u'\n').contains(line), qPrintable(text));
    }

    // Every spelling of a Mincho face is a serif face, every Gothic one a
    // sans-serif face, on screen and in print.
    void fontNamesMapToTheirFamily_data()
    {
        QTest::addColumn<QStringList>("names"); // the first is printed with
        QTest::addColumn<bool>("mincho");
        QTest::newRow("Mincho") << QStringList{u"MS P明朝"_s, u"ＭＳ 明朝"_s, u"ＭＳ Ｐ明朝"_s, u"MS PMincho"_s}
                                << true;
        QTest::newRow("Gothic") << QStringList{u"ＭＳ UI Gothic"_s, u"ＭＳ ゴシック"_s, u"ＭＳ Ｐゴシック"_s} << false;
    }

    void fontNamesMapToTheirFamily()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, mincho);
        const QString family = mincho ? shell::japaneseSerifFamily() : shell::japaneseSansFamily();
        for (const QString& name : names)
            QVERIFY2(shell::windowsFontNames(mincho).contains(name), qPrintable(name));
        for (const QString& spelling : shell::windowsFontNames(mincho))
            QVERIFY2(QFontInfo(QFont(spelling)).family() == family, qPrintable(spelling));
        Env env;
        env.store({{u"PrintOption/FontName"_s, names.first()}});
        env.printToPdf(*env.window, nullptr, QStringLiteral("note.pdf"),
                       QString(family).remove(QStringLiteral(" JP")).remove(u' '));
    }

    void everyWindowPrintsItsNote_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main") << u"Form1"_s;
        QTest::newRow("single record") << u"Form2"_s;
        QTest::newRow("grid") << u"Form3"_s;
    }

    void everyWindowPrintsItsNote()
    {
        QFETCH(QString, window);
        Env env(QStringLiteral("一行目\n二行目"));
        if (window == u"Form2") {
            env.list().selectKey(QStringLiteral("11_id"));
            QTest::keyClick(&env.list(), Qt::Key_Return);
        } else if (window == u"Form3") {
            env.window->findChild<shell::TabStrip*>(QStringLiteral("TabStrip1"))->bar()->setCurrentIndex(1);
        }
        QMainWindow* from = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == window && w->isVisible())
                from = qobject_cast<QMainWindow*>(w);
        }
        QVERIFY(from);
        const QString title = records::commandWindow(*from)->editor()->text(0);
        QCOMPARE(textsOf(env.printToPdf(*from)),
                 (QStringList{kHeader, title, QStringLiteral("一行目"), QStringLiteral("二行目")}));
        if (window == u"Form2")
            from->close();
    }

    // What the print command asks and says, and what it writes, when the
    // settings cannot be used or a PDF file is chosen.
    void promptsAndFiles_data()
    {
        QTest::addColumn<Values>("stored");
        // Prompts in order: a message's text ("no:" first: answered No), "file:" and the
        // file chosen (none: cancelled), "preview" printed from; out/ and no/ are the test's.
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("written"); // empty: nothing written
        auto unusable = [](const char* label, const char* value) {
            return QStringList{u"印刷設定の「%1」に使えない値「%2」が入っています。\n「印刷設定」で直してください。"_s
                                   .arg(QString::fromUtf8(label), QString::fromUtf8(value))};
        };
        const QStringList noRoom{
            u"余白が大きすぎて、用紙に印刷する場所がありません。\n「印刷設定」で余白を小さくしてください。"_s};
        QTest::newRow("no paper chosen")
            << Values{{u"PrintOption/PaperSize"_s, u"0"_s}}
            << QStringList{u"印刷設定で用紙が選ばれていません（コード 0）。\n「印刷設定」で用紙を選んでください。"_s}
            << u""_s;
        QTest::newRow("margin that is no number")
            << Values{{u"PrintOption/Ueyohaku"_s, u"広め"_s}} << unusable("上余白", "広め") << u""_s;
        QTest::newRow("negative margin") << Values{{u"PrintOption/Rightyohaku"_s, u"-5"_s}} << unusable("右余白", "-5")
                                         << u""_s;
        QTest::newRow("size beyond 16 bits")
            << Values{{u"PrintOption/Point"_s, u"40000"_s}} << unusable("フォントの大きさ", "40000") << u""_s;
        QTest::newRow("unknown orientation")
            << Values{{u"PrintOption/Orientation"_s, u"3"_s}} << unusable("印刷の向き", "3") << u""_s;
        QTest::newRow("no width left") << Values{{u"PrintOption/Leftyohaku"_s, u"150"_s},
                                                 {u"PrintOption/Rightyohaku"_s, u"60"_s}}
                                       << noRoom << u""_s;
        QTest::newRow("not one line high") << Values{{u"PrintOption/Orientation"_s, u"2"_s},
                                                     {u"PrintOption/Ueyohaku"_s, u"100"_s},
                                                     {u"PrintOption/Sitayohaku"_s, u"105"_s}}
                                           << noRoom << u""_s;
        QTest::newRow("PDF declined") << Values{} << QStringList{u"no:"_s + kNoPrinter} << u""_s;
        QTest::newRow("file dialog cancelled") << Values{} << QStringList{kNoPrinter, u"file:"_s} << u""_s;
        QTest::newRow("the suffix is added")
            << Values{} << QStringList{kNoPrinter, u"file:out/メモ"_s, u"preview"_s, kSaved + u"out/メモ.pdf"_s}
            << u"out/メモ.pdf"_s;
        QTest::newRow("existing file kept")
            << Values{}
            << QStringList{kNoPrinter, u"file:out/old.pdf"_s, u"no:out/old.pdf は既にあります。\n上書きしますか？"_s}
            << u""_s;
        QTest::newRow("existing file replaced")
            << Values{}
            << QStringList{kNoPrinter, u"file:out/old.pdf"_s, u"out/old.pdf は既にあります。\n上書きしますか？"_s,
                           u"preview"_s, kSaved + u"out/old.pdf"_s}
            << u"out/old.pdf"_s;
        QTest::newRow("folder that is not there")
            << Values{}
            << QStringList{kNoPrinter, u"file:no/x.pdf"_s, u"preview"_s,
                           u"PDF ファイルを書き込めませんでした。\nno/x.pdf\n\n保存先のフォルダーに書き込めるか確かめてください。"_s}
            << u""_s;
    }

    void promptsAndFiles()
    {
        QFETCH(Values, stored);
        QFETCH(QStringList, answers);
        QFETCH(QString, written);
        Env env;
        const QString old = env.writeFile(QStringLiteral("out/old.pdf"), "old");
        env.store(stored);
        const QString folder = env.dir.path() + QLatin1Char('/');
        for (QString a : answers) {
            a.replace(QRegularExpression(QStringLiteral("(^|\n|:)(out|no)/")),
                      QStringLiteral("\\1") + folder + QStringLiteral("\\2/"));
            if (a == u"preview")
                env.prompts.expectPrintPreview(true);
            else if (a.startsWith(u"file:"))
                env.prompts.expectSaveFile(a.size() > 5 ? std::optional(a.mid(5)) : std::nullopt);
            else
                env.prompts.expectMessage(a.startsWith(u"no:") ? a.mid(3) : a, a.startsWith(u"no:") ? No : Yes);
        }
        test::trigger(*env.window, "mnuPrint1");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        if (!written.isEmpty()) {
            QCOMPARE(printedLines(env.path(written)).value(1).text, QStringLiteral("議事録"));
            checkFonts(env.path(written), QStringLiteral("NotoSerifCJK"));
        }
        QCOMPARE(test::fileBytes(old) == "old", written != u"out/old.pdf");
    }

    // The next print takes what the options dialog stored.
    void storedOptionsAreUsed()
    {
        Env env;
        env.store({{u"PrintOption/PaperSize"_s, u"13"_s},
                   {u"PrintOption/Orientation"_s, u"2"_s},
                   {u"PrintOption/Ueyohaku"_s, u"25"_s},
                   {u"PrintOption/Leftyohaku"_s, u"15"_s},
                   {u"PrintOption/Point"_s, u"14"_s}});
        QSizeF page;
        const QList<PrintedLine> lines = env.printToPdf(*env.window, &page);
        QCOMPARE(QSize(qRound(page.width() / 72 * 25.4), qRound(page.height() / 72 * 25.4)),
                 QSize(257, 182));                            // JIS B5, landscape
        QCOMPARE(qRound(lines.first().box.left() * 20), 850); // 15 mm
        QVERIFY(qAbs(lines.first().box.top() * 20 - 1418) < 10
                && lines.first().box.height() > 14 * 1.3); // 25 mm, 14 pt
    }

    void whatOkAndCancelStore_data()
    {
        QTest::addColumn<Values>("before");
        QTest::addColumn<Gesture>("gesture");
        QTest::addColumn<Values>("after");
        auto ok = [](QDialog& d, test::ScriptedPrompts&) { click(d, u"cmdOK"_s); };
        const Values defaults = {{u"PrintOption/Ueyohaku"_s, u"8"_s},
                                 {u"PrintOption/Leftyohaku"_s, u"16"_s},
                                 {u"PrintOption/Rightyohaku"_s, u"10"_s},
                                 {u"PrintOption/Sitayohaku"_s, u"8"_s},
                                 {u"PrintOption/PaperSize"_s, u"9"_s},
                                 {u"PrintOption/Orientation"_s, u"1"_s},
                                 {u"PrintOption/FontName"_s, u"ＭＳ 明朝"_s},
                                 {u"PrintOption/Point"_s, u"10"_s},
                                 {u"Position/FontName"_s, u"ＭＳ Ｐゴシック"_s},
                                 {u"Position/FontSize"_s, u"10.5"_s},
                                 {u"Position/DateTime"_s, u"1"_s},
                                 {u"Position/OpenTab"_s, u"BunTab"_s}};
        Values none = defaults;
        std::for_each(none.begin(), none.end(), [](auto& v) { v.second = u"(none)"_s; });

        QTest::newRow("OK at once writes the defaults") << Values{} << Gesture(ok) << defaults;
        QTest::newRow("Cancel writes nothing") << Values{} << Gesture([](QDialog& d, test::ScriptedPrompts&) {
            click(d, u"Option1(0)"_s);
            type(d, u"Text2(2)"_s, u"20"_s);
            click(d, u"cmdCancel"_s);
        }) << none;
        QTest::newRow("landscape B5, time before date, 予定 at start")
            << Values{} << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   click(d, u"Option1(0)"_s);
                   chooseEntry(d, u"Combo1"_s, u"B5、182 x 257 mm"_s);
                   chooseTab(d, 1);
                   click(d, u"Option2(2)"_s);
                   chooseEntry(d, u"Combo2"_s, u"予定"_s);
                   ok(d, p);
               })
            << Values{{u"PrintOption/Orientation"_s, u"2"_s},
                      {u"PrintOption/PaperSize"_s, u"13"_s},
                      {u"Position/DateTime"_s, u"3"_s},
                      {u"Position/OpenTab"_s, u"KijituTab"_s}};
        QTest::newRow("stored values as read: no such paper, whole numbers, other text as it is")
            << Values{{u"PrintOption/PaperSize"_s, u"7"_s},
                      {u"PrintOption/Point"_s, u"10.5"_s},
                      {u"PrintOption/Ueyohaku"_s, u"abc"_s},
                      {u"Position/DateTime"_s, u"7"_s}}
            << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   QCOMPARE(d.findChild<QComboBox*>(u"Combo1"_s)->currentText(), QString());
                   QCOMPARE(fontFrame(d), u"ＭＳ 明朝|10"_s);
                   QCOMPARE(d.findChild<QLineEdit*>(u"Text2(2)"_s)->text(), u"abc"_s);
                   type(d, u"Text2(3)"_s, u"１５ミリ"_s);
                   ok(d, p);
               })
            << Values{{u"PrintOption/PaperSize"_s, u"0"_s},
                      {u"PrintOption/Point"_s, u"10"_s},
                      {u"PrintOption/Ueyohaku"_s, u"abc"_s},
                      {u"PrintOption/Leftyohaku"_s, u"１５ミリ"_s},
                      {u"Position/DateTime"_s, u"0"_s}};
        QTest::newRow("up-down buttons: limits at 8 and 0, halves, full width, no number")
            << Values{} << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   auto press = [&](int box, const char* arrow, const QString& typed, int times) {
                       type(d, u"Text2(%1)"_s.arg(box), typed);
                       auto* updown = d.findChild<QWidget*>(u"UpDown%1"_s.arg(box));
                       for (int i = 0; i < times; ++i)
                           QTest::mouseClick(updown->findChild<QToolButton*>(QLatin1String(arrow)), Qt::LeftButton);
                   };
                   press(1, "Down", u"10"_s, 4);
                   press(2, "Down", u"1"_s, 3);
                   press(3, "Up", u"１２"_s, 1);
                   press(4, "Up", u"広め"_s, 2);
                   press(5, "Up", u"998"_s, 3);
                   chooseTab(d, 1);
                   press(1, "Up", u"10.5"_s, 1);
                   ok(d, p);
               })
            << Values{{u"PrintOption/Point"_s, u"8"_s},         {u"PrintOption/Ueyohaku"_s, u"0"_s},
                      {u"PrintOption/Leftyohaku"_s, u"13"_s},   {u"PrintOption/Rightyohaku"_s, u"広め"_s},
                      {u"PrintOption/Sitayohaku"_s, u"1001"_s}, {u"Position/FontSize"_s, u"11.5"_s}};
        QTest::newRow("printer set-up without a printer says so")
            << Values{} << Gesture([](QDialog& d, test::ScriptedPrompts& p) {
                   p.expectMessage(QStringLiteral("プリンターが見つかりません。\n"
                                                  "印刷するときに、PDF ファイルに保存することができます。"));
                   click(d, u"cmdPrinter"_s);
                   click(d, u"cmdCancel"_s);
               })
            << Values{{u"PrintOption/PaperSize"_s, u"(none)"_s}};
    }

    void whatOkAndCancelStore()
    {
        QFETCH(Values, before);
        QFETCH(Gesture, gesture);
        QFETCH(Values, after);
        Env env;
        env.store(before);
        env.withOptions(QStringLiteral("mnuToolOpt"), [&](QDialog& d) { gesture(d, env.prompts); });
        for (const auto& [key, value] : after)
            QCOMPARE(env.stored(key), value);
    }

    // The font frame shows the print font on one tab and the screen font
    // on the other; what is chosen on either is kept when the tab changes.
    void bothTabsKeepTheirFont()
    {
        Env env;
        env.store({{u"PrintOption/FontName"_s, u"ＭＳ 明朝"_s}, {u"Position/FontSize"_s, u"12"_s}});
        env.withOptions(QStringLiteral("mnuPrintOp"), [&](QDialog& d) {
            QVERIFY(d.findChild<QWidget*>(QStringLiteral("Frame1(2)"))->isVisible()
                    && !d.findChild<QWidget*>(QStringLiteral("Frame3"))->isVisible());
            env.prompts.expectFont(QFont(QStringLiteral("Noto Serif CJK JP"), 14));
            click(d, QStringLiteral("cmdShowFont"));
            QCOMPARE(fontFrame(d), QStringLiteral("Noto Serif CJK JP|14"));
            QCOMPARE(d.findChild<QWidget*>(QStringLiteral("Text2(6)"))->font().pointSizeF(), 14.0);

            chooseTab(d, 1);
            QVERIFY(!d.findChild<QWidget*>(QStringLiteral("Frame1(2)"))->isVisible()
                    && d.findChild<QWidget*>(QStringLiteral("Frame3"))->isVisible());
            QCOMPARE(fontFrame(d), QStringLiteral("ＭＳ Ｐゴシック|12"));
            type(d, QStringLiteral("Text2(1)"), QStringLiteral("16"));
            chooseTab(d, 0);
            QCOMPARE(fontFrame(d), QStringLiteral("Noto Serif CJK JP|14"));
            click(d, QStringLiteral("cmdOK"));
        });
        QCOMPARE(env.stored(u"PrintOption/FontName"_s) + env.stored(u"PrintOption/Point"_s),
                 QStringLiteral("Noto Serif CJK JP14"));
        QCOMPARE(env.stored(u"Position/FontName"_s) + env.stored(u"Position/FontSize"_s),
                 QStringLiteral("ＭＳ Ｐゴシック16"));
        // The window the dialog came from shows the new screen font at once.
        QCOMPARE(env.editor().titleBox()->font().pointSizeF(), 16.0);
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"

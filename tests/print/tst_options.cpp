// The options dialog opened from the windows' menus: what it shows, what
// its buttons and tabs do, and what OK and Cancel leave in the settings.

#include "support/mainwindowapp.h"

#include "main/mainwindow.h"
#include "records/recordeditor.h"
#include "shell/fonts.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using shell::Settings::Position;
using shell::Settings::PrintOption;

namespace {

using Gesture = std::function<void(QDialog&, test::ScriptedPrompts&)>;
using Values = QList<std::pair<QString, QString>>; // "Section/Key", value

template <class T>
T* child(QDialog& dialog, const QString& name)
{
    T* found = dialog.findChild<T*>(name);
    if (!found)
        QTest::qFail(qPrintable(QStringLiteral("no %1 in the dialog").arg(name)), __FILE__, __LINE__);
    return found;
}

void click(QDialog& dialog, const QString& name)
{
    QTest::mouseClick(child<QAbstractButton>(dialog, name), Qt::LeftButton);
}

// Replaces the box's text the way Japanese is typed: through the input
// method, which hands over what was composed.
void type(QDialog& dialog, const QString& box, const QString& text)
{
    QLineEdit* edit = child<QLineEdit>(dialog, box);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

void chooseTab(QDialog& dialog, int index)
{
    QTabBar* tabs = child<QTabBar>(dialog, QStringLiteral("TabStrip1"));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
}

void chooseEntry(QDialog& dialog, const QString& combo, const QString& entry)
{
    QComboBox* box = child<QComboBox>(dialog, combo);
    box->setFocus();
    while (box->currentText() != entry && box->currentIndex() < box->count() - 1)
        QTest::keyClick(box, Qt::Key_Down);
}

QString text(QDialog& dialog, const QString& box)
{
    return child<QLineEdit>(dialog, box)->text();
}

const QStringList kAllKeys = {
    "PrintOption/Ueyohaku", "PrintOption/Leftyohaku", "PrintOption/Rightyohaku", "PrintOption/Sitayohaku",
    "PrintOption/PaperSize", "PrintOption/Orientation", "PrintOption/FontName", "PrintOption/Point",
    "Position/FontName", "Position/FontSize", "Position/DateTime", "Position/OpenTab",
};

struct Env : test::MainWindowApp {
    Env()
    {
        category(1, QStringLiteral("会議"), 0);
        note(10, QStringLiteral("議事録"), 1, {{QStringLiteral("bunrui"), QStringLiteral("会議")}});
        load();
        choose(QStringLiteral("1_id"));
    }
    void store(const Values& values)
    {
        for (const auto& [key, value] : values)
            settings->write(key.section('/', 0, 0), key.section('/', 1), value);
    }
    QString stored(const QString& key) const
    {
        return settings->read(key.section('/', 0, 0), key.section('/', 1), QStringLiteral("(none)"));
    }
    // Opens the dialog from the main window's menu and lets `act` use it.
    void withOptions(const QString& command, const std::function<void(QDialog&)>& act)
    {
        prompts.expectDialog(QStringLiteral("frmOption"), act);
        window->action(command)->trigger();
    }
};

} // namespace

Q_DECLARE_METATYPE(Gesture)
Q_DECLARE_METATYPE(Values)

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { shell::installJapaneseFonts(); }

    void whatOkAndCancelStore_data()
    {
        QTest::addColumn<Values>("before");
        QTest::addColumn<Gesture>("gesture");
        QTest::addColumn<Values>("after");
        auto ok = [](QDialog& d, test::ScriptedPrompts&) { click(d, QStringLiteral("cmdOK")); };

        Values defaults;
        const QStringList values = {"8", "16", "10", "8", "9", "1", "ＭＳ 明朝", "10", "ＭＳ Ｐゴシック", "10.5", "1", "BunTab"};
        for (int i = 0; i < kAllKeys.size(); ++i)
            defaults.append({kAllKeys[i], values[i]});
        QTest::newRow("OK at once writes the defaults") << Values{} << Gesture(ok) << defaults;

        Values none;
        for (const QString& key : kAllKeys)
            none.append({key, QStringLiteral("(none)")});
        QTest::newRow("Cancel writes nothing") << Values{} << Gesture([](QDialog& d, test::ScriptedPrompts&) {
            click(d, QStringLiteral("Option1(0)"));
            type(d, QStringLiteral("Text2(2)"), QStringLiteral("20"));
            click(d, QStringLiteral("cmdCancel"));
        }) << none;

        QTest::newRow("予定 as the start view") << Values{} << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
            chooseTab(d, 1);
            chooseEntry(d, QStringLiteral("Combo2"), QStringLiteral("予定"));
            ok(d, p);
        }) << Values{{"Position/OpenTab", "KijituTab"}};

        QTest::newRow("landscape B5, time before date")
            << Values{} << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   click(d, QStringLiteral("Option1(0)"));
                   chooseEntry(d, QStringLiteral("Combo1"), QStringLiteral("B5、182 x 257 mm"));
                   chooseTab(d, 1);
                   click(d, QStringLiteral("Option2(2)"));
                   ok(d, p);
               })
            << Values{{"PrintOption/Orientation", "2"}, {"PrintOption/PaperSize", "13"}, {"Position/DateTime", "3"}};

        QTest::newRow("an unknown paper shows none and stores 0")
            << Values{{"PrintOption/PaperSize", "7"}} << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   QCOMPARE(child<QComboBox>(d, QStringLiteral("Combo1"))->currentText(), QString());
                   ok(d, p);
               })
            << Values{{"PrintOption/PaperSize", "0"}};

        QTest::newRow("numbers read as whole numbers, other text as stored")
            << Values{{"PrintOption/Point", "10.5"}, {"PrintOption/Ueyohaku", "abc"}, {"Position/DateTime", "7"}}
            << Gesture([=](QDialog& d, test::ScriptedPrompts& p) {
                   QCOMPARE(text(d, QStringLiteral("Text2(1)")), QStringLiteral("10"));
                   QCOMPARE(text(d, QStringLiteral("Text2(2)")), QStringLiteral("abc"));
                   type(d, QStringLiteral("Text2(3)"), QStringLiteral("１５ミリ"));
                   ok(d, p);
               })
            << Values{{"PrintOption/Point", "10"}, {"PrintOption/Ueyohaku", "abc"}, {"PrintOption/Leftyohaku", "１５ミリ"},
                      {"Position/DateTime", "0"}};

        QTest::newRow("printer set-up without a printer says so")
            << Values{} << Gesture([](QDialog& d, test::ScriptedPrompts& p) {
                   p.expectMessage(QStringLiteral("プリンターが見つかりません。\n"
                                                  "印刷するときに、PDF ファイルに保存することができます。"));
                   click(d, QStringLiteral("cmdPrinter"));
                   click(d, QStringLiteral("cmdCancel"));
               })
            << Values{{"PrintOption/PaperSize", "(none)"}};
    }

    void whatOkAndCancelStore()
    {
        QFETCH(Values, before);
        QFETCH(Gesture, gesture);
        QFETCH(Values, after);
        if (QByteArray(QTest::currentDataTag()).startsWith("printer") && !QPrinterInfo::availablePrinters().isEmpty())
            QSKIP("this machine has a printer");
        Env env;
        env.store(before);
        env.withOptions(QStringLiteral("mnuToolOpt"), [&](QDialog& d) { gesture(d, env.prompts); });
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        for (const auto& [key, value] : after)
            QCOMPARE(env.stored(key), value);
    }

    // The font frame shows the print font on one tab and the screen font
    // on the other; what is typed on either is kept when the tab changes.
    void bothTabsKeepTheirFont()
    {
        Env env;
        env.store({{"PrintOption/FontName", "ＭＳ 明朝"}, {"Position/FontSize", "12"}});
        env.withOptions(QStringLiteral("mnuPrintOp"), [&](QDialog& d) {
            QVERIFY(child<QGroupBox>(d, QStringLiteral("Frame1(2)"))->isVisible());
            QVERIFY(!child<QGroupBox>(d, QStringLiteral("Frame3"))->isVisible());
            env.prompts.expectFont(QFont(QStringLiteral("Noto Serif CJK JP"), 14));
            click(d, QStringLiteral("cmdShowFont"));
            QCOMPARE(text(d, QStringLiteral("Text2(0)")), QStringLiteral("Noto Serif CJK JP"));
            QCOMPARE(text(d, QStringLiteral("Text2(1)")), QStringLiteral("14"));
            QCOMPARE(child<QLineEdit>(d, QStringLiteral("Text2(6)"))->font().pointSizeF(), 14.0);

            chooseTab(d, 1);
            QVERIFY(!child<QGroupBox>(d, QStringLiteral("Frame1(2)"))->isVisible());
            QVERIFY(child<QGroupBox>(d, QStringLiteral("Frame3"))->isVisible());
            QCOMPARE(text(d, QStringLiteral("Text2(0)")), QStringLiteral("ＭＳ Ｐゴシック"));
            QCOMPARE(text(d, QStringLiteral("Text2(1)")), QStringLiteral("12"));
            type(d, QStringLiteral("Text2(1)"), QStringLiteral("16"));

            chooseTab(d, 0);
            QCOMPARE(text(d, QStringLiteral("Text2(0)")), QStringLiteral("Noto Serif CJK JP"));
            QCOMPARE(text(d, QStringLiteral("Text2(1)")), QStringLiteral("14"));
            chooseTab(d, 1);
            QCOMPARE(text(d, QStringLiteral("Text2(1)")), QStringLiteral("16"));
            click(d, QStringLiteral("cmdOK"));
        });
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored("PrintOption/FontName"), QStringLiteral("Noto Serif CJK JP"));
        QCOMPARE(env.stored("PrintOption/Point"), QStringLiteral("14"));
        QCOMPARE(env.stored("Position/FontName"), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(env.stored("Position/FontSize"), QStringLiteral("16"));
        // The window the dialog came from shows the new screen font at once.
        QCOMPARE(env.editor().titleBox()->font().pointSizeF(), 16.0);
    }

    void upDownButtons_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("size down stops at 8") << "Text2(1)" << "UpDown1/Down" << "10" << 4 << "8";
        QTest::newRow("size up keeps the half") << "Text2(1)" << "UpDown1/Up" << "10.5" << 1 << "11.5";
        QTest::newRow("margin down stops at 0") << "Text2(2)" << "UpDown2/Down" << "1" << 3 << "0";
        QTest::newRow("margin up, no upper limit") << "Text2(5)" << "UpDown5/Up" << "998" << 3 << "1001";
        QTest::newRow("full-width digits") << "Text2(3)" << "UpDown3/Up" << "１２" << 1 << "13";
        QTest::newRow("no number: nothing happens") << "Text2(4)" << "UpDown4/Up" << "広め" << 2 << "広め";
    }

    void upDownButtons()
    {
        QFETCH(QString, box);
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(int, clicks);
        QFETCH(QString, shown);
        Env env;
        env.withOptions(QStringLiteral("mnuPrintOp"), [&](QDialog& d) {
            type(d, box, typed);
            auto* updown = child<QWidget>(d, button.section('/', 0, 0));
            for (int i = 0; i < clicks; ++i)
                QTest::mouseClick(updown->findChild<QToolButton*>(button.section('/', 1)), Qt::LeftButton);
            QCOMPARE(text(d, box), shown);
            click(d, QStringLiteral("cmdCancel"));
        });
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"

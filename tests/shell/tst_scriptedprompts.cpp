#include "support/scriptedprompts.h"

#include <QTest>

#include <functional>

using namespace zumilo::shell;
using zumilo::test::ScriptedPrompts;

using Script = std::function<void(ScriptedPrompts&)>;
Q_DECLARE_METATYPE(Script)

class TestScriptedPrompts : public QObject {
    Q_OBJECT

private slots:
    void answersInOrderAndRecords()
    {
        ScriptedPrompts prompts;
        QFont font(QStringLiteral("Sans"), 14);
        prompts.expectMessage(QStringLiteral("削除しますか?"), Msg::Yes, 324)
            .expectInput(QStringLiteral("名前"), QStringLiteral("新しい分類"))
            .expectMessage({}, Msg::No)
            .expectOpenFile(QStringLiteral("/tmp/a.zmd"))
            .expectSaveFile(std::nullopt)
            .expectFont(font)
            .expectPrinterSetup(true);

        QCOMPARE(prompts.message(nullptr, QStringLiteral("削除しますか?"), 324, QStringLiteral("確認")), Msg::Yes);
        QCOMPARE(prompts.input(nullptr, QStringLiteral("名前"), {}, QStringLiteral("x")), u"新しい分類");
        QCOMPARE(prompts.message(nullptr, QStringLiteral("何でも"), Msg::YesNo, {}), Msg::No);
        QVERIFY(!prompts.allUsed());
        QCOMPARE(prompts.openFile(nullptr, QStringLiteral("/data"), QStringLiteral("*.zmd")), u"/tmp/a.zmd");
        QCOMPARE(prompts.saveFile(nullptr, QStringLiteral("/save"), QStringLiteral("b.zmd")), std::nullopt);
        QCOMPARE(prompts.lastDialogFolder(), u"/save");
        QCOMPARE(prompts.lastDialogFileName(), u"b.zmd");
        QCOMPARE(prompts.font(nullptr, QFont()), font);
        QVERIFY(prompts.printerSetup(nullptr, nullptr));
        QVERIFY(prompts.allUsed());
        ZUMILO_VERIFY_PROMPTS_DONE(prompts);

        QCOMPARE(prompts.messages(), (QStringList{"削除しますか?", "何でも"}));
        const auto& shown = prompts.shown();
        QCOMPARE(shown.size(), 7);
        QCOMPARE(shown[0].title, u"確認");
        QCOMPARE(shown[0].style, 324);
        QCOMPARE(shown[3].text, u"/data|*.zmd");
        QCOMPARE(shown[6].kind, ScriptedPrompts::Kind::PrinterSetup);
    }

    // Each row fails the test on purpose; QEXPECT_FAIL turns that into a
    // pass, and the check after it fails if no failure was raised.
    void surprisesFailAndAreDismissed_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("allUsed");
        QTest::newRow("nothing scripted, yes/no") << Script([](ScriptedPrompts&) {}) << 4 << Msg::No << true;
        QTest::newRow("nothing scripted, ok") << Script([](ScriptedPrompts&) {}) << 0 << Msg::Ok << true;
        QTest::newRow("other kind") << Script([](ScriptedPrompts& p) { p.expectInput("A", "x"); }) << 1
                                    << Msg::Cancel << false;
        QTest::newRow("other text") << Script([](ScriptedPrompts& p) { p.expectMessage("B", Msg::Yes); }) << 3
                                    << Msg::Cancel << true;
        QTest::newRow("other style") << Script([](ScriptedPrompts& p) { p.expectMessage("A", Msg::Yes, 4); })
                                     << 36 << Msg::No << true;
    }
    void surprisesFailAndAreDismissed()
    {
        QFETCH(Script, script);
        QFETCH(int, style);
        QFETCH(int, answer);
        QFETCH(bool, allUsed);
        ScriptedPrompts prompts;
        script(prompts);
        QEXPECT_FAIL("", "an unscripted prompt fails the test", Continue);
        const int got = prompts.message(nullptr, QStringLiteral("A"), style, {});
        QCOMPARE(got, answer);
        QCOMPARE(prompts.allUsed(), allUsed);
        QCOMPARE(prompts.messages(), QStringList{"A"});
    }

    void unusedAnswersFail()
    {
        ScriptedPrompts prompts;
        prompts.expectMessage(QStringLiteral("保存しますか?")).expectPrinterSetup(false);
        QEXPECT_FAIL("", "two answers were never used", Continue);
        ZUMILO_VERIFY_PROMPTS_DONE(prompts);
        QVERIFY(prompts.allUsed());
    }
};

QTEST_GUILESS_MAIN(TestScriptedPrompts)
#include "tst_scriptedprompts.moc"

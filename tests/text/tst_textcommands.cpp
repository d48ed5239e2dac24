// The text tools in the real windows: find inside a
// note and across notes, the search-word history, the editing commands on
// the focused control, wrapping, font size, the date stamp and links.

#include "mainwindowapp.h"

#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/recordsetmodel.h"
#include "shell/settingsstore.h"
#include "store/database.h"
#include "text/textcommands.h"
#include "tree/categorysearch.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;
using records::CommandWindow;
using shell::Msg::No;
using shell::Msg::Yes;
using shell::WindowKind;

namespace {

constexpr int kStyle308 = 308;
const QString kRestart = QStringLiteral("検索が最後まで終わりました。\rはじめから検索しますか。");
const QString kEmptyTerm = QStringLiteral("検索する文字を先に入力してください");

// A main window on a file, and whichever of the three windows a test
// works in.
struct Env : test::MainWindowApp {
    // One note in one category, or the notes `fill` writes.
    explicit Env(const QString& title = QStringLiteral("会議 abc"), const QString& body = QStringLiteral("abc ABC abc"))
    {
        category(1, QStringLiteral("仕事"), 0);
        if (!title.isNull())
            note(20, title, 1, {{QStringLiteral("naiyo"), body}, {QStringLiteral("bunrui"), QStringLiteral("仕事")}});
    }
    ~Env() { delete single.data(); }
    // The window of `kind`, shown and active, on note 20.
    QMainWindow& open(WindowKind kind)
    {
        load();
        choose(QStringLiteral("1_id"));
        QMainWindow* w = window.get();
        if (kind == WindowKind::Grid) {
            state->CurrentTab = QStringLiteral("FindTab");
            window->ShowGridWindow();
            w = window->gridWindow();
        } else if (kind == WindowKind::Single) {
            single = records::RecordWindow::open(*state, {20});
            w = single.data();
        }
        activate(*w);
        return *w;
    }
    static void activate(QMainWindow& w)
    {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    static CommandWindow& commands(QMainWindow& w) { return *records::commandWindow(w); }
    static records::RecordEditor& editorOf(QMainWindow& w) { return *commands(w).editor(); }
    static QComboBox& combo(QMainWindow& w) { return *commands(w).searchBox(); }
    static void trigger(QMainWindow& w, const char* command)
    {
        QAction* action = commands(w).action(QString::fromLatin1(command));
        QVERIFY2(action && action->isEnabled(), command);
        action->trigger();
    }
    // Types `term` into Combo1, the focus staying there.
    static void typeTerm(QMainWindow& w, const QString& term)
    {
        combo(w).setFocus();
        combo(w).setEditText(term);
    }
    static void select(QPlainTextEdit* box, int start, int length)
    {
        QTextCursor c(box->document());
        c.setPosition(start);
        c.setPosition(start + length, QTextCursor::KeepAnchor);
        box->setTextCursor(c);
    }
    static QPair<int, int> selection(const QPlainTextEdit* box)
    {
        const QTextCursor c = box->textCursor();
        return {c.selectionStart(), c.selectionEnd() - c.selectionStart()};
    }
    // The editor's edits are thrown away, so closing asks nothing.
    void forget(QMainWindow& w) { editorOf(w).setRecordChanged(false); }

    QPointer<records::RecordWindow> single;
};

QStringList entries(const QComboBox& box)
{
    QStringList list;
    for (int i = 0; i < box.count(); ++i)
        list << box.itemText(i);
    return list;
}

} // namespace

Q_DECLARE_METATYPE(WindowKind)
Q_DECLARE_METATYPE(QList<int>)

class TestTextCommands : public QObject {
    Q_OBJECT

    static void addWindowKinds()
    {
        QTest::newRow("main window") << WindowKind::Main;
        QTest::newRow("single-record window") << WindowKind::Single;
        QTest::newRow("grid window") << WindowKind::Grid;
    }

private slots:
    // --- Find: inside the note ------------------------------------------------

    void findInsideTheNote_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("selStart"); // the memo's selection before, or its caret when selLength is 0
        QTest::addColumn<int>("selLength");
        QTest::addColumn<QList<int>>("answers"); // to the restart question, in order
        QTest::addColumn<int>("hitStart");
        QTest::addColumn<int>("hitLength");

        // The comparison is exact: case, width and kana all count.
        QTest::newRow("case counts") << "ABC abc"
                                     << "abc" << 0 << 0 << QList<int>{} << 4 << 3;
        QTest::newRow("width counts") << "ａｂｃ abc"
                                      << "abc" << 0 << 0 << QList<int>{} << 4 << 3;
        QTest::newRow("kana counts") << "アイ あい"
                                     << "あい" << 0 << 0 << QList<int>{} << 3 << 2;
        QTest::newRow("from the start, not the caret") << "abc xabc"
                                                       << "abc" << 6 << 0 << QList<int>{} << 0 << 3;
        QTest::newRow("after the selection") << "abc xabc"
                                             << "abc" << 0 << 3 << QList<int>{} << 5 << 3;
        QTest::newRow("across lines") << "一行目\nabc"
                                      << "abc" << 0 << 0 << QList<int>{} << 4 << 3;
        // At the end: the question (style 308); Yes wraps, No leaves the selection.
        QTest::newRow("end, Yes wraps") << "abc xabc"
                                        << "abc" << 5 << 3 << QList<int>{Yes} << 0 << 3;
        QTest::newRow("end, No stops") << "abc xabc"
                                       << "abc" << 5 << 3 << QList<int>{No} << 5 << 3;
        QTest::newRow("nowhere: asked until No") << "xyz"
                                                 << "abc" << 1 << 0 << QList<int>{Yes, Yes, No} << 1 << 0;
    }
    void findInsideTheNote()
    {
        QFETCH(QString, body);
        QFETCH(QString, term);
        QFETCH(int, selStart);
        QFETCH(int, selLength);
        QFETCH(QList<int>, answers);
        QFETCH(int, hitStart);
        QFETCH(int, hitLength);

        Env env(QStringLiteral("題"), body);
        QMainWindow& w = env.open(WindowKind::Main);
        QPlainTextEdit* memo = Env::editorOf(w).visibleBodyBox();
        Env::select(memo, selStart, selLength);
        Env::typeTerm(w, term);
        for (int answer : answers)
            env.prompts.expectMessage(kRestart, answer, kStyle308);
        Env::trigger(w, "mnuFindpage");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(Env::selection(memo), qMakePair(hitStart, hitLength));
        QCOMPARE(w.focusWidget(), memo);
        QCOMPARE(env.state->SearchHistory, QStringList{term});
    }

    // The gesture of the Part in each window: a word selected in the title is
    // searched in the body; find next walks on, wraps after the question.
    void findNextWalksAndWraps_data()
    {
        QTest::addColumn<WindowKind>("kind");
        addWindowKinds();
    }
    void findNextWalksAndWraps()
    {
        QFETCH(WindowKind, kind);
        Env env;
        QMainWindow& w = env.open(kind);
        records::RecordEditor& ed = Env::editorOf(w);
        QCOMPARE(ed.text(1), QStringLiteral("abc ABC abc"));

        // "abc" selected in the title "会議 abc".
        ed.titleBox()->setFocus();
        Env::select(ed.titleBox(), 3, 3);
        Env::trigger(w, "mnuFindpage");
        QPlainTextEdit* memo = ed.visibleBodyBox();
        QCOMPARE(Env::combo(w).currentText(), QStringLiteral("abc"));
        QCOMPARE(Env::selection(memo), qMakePair(0, 3));

        Env::trigger(w, "mnuFindNext"); // skips "ABC"
        QCOMPARE(Env::selection(memo), qMakePair(8, 3));
        env.prompts.expectMessage(kRestart, Yes, kStyle308);
        Env::trigger(w, "mnuFindNext");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(Env::selection(memo), qMakePair(0, 3));

        // Used three times, kept once.
        QCOMPARE(env.state->SearchHistory, QStringList{QStringLiteral("abc")});
        QCOMPARE(entries(Env::combo(w)), QStringList{QStringLiteral("abc")});
        QVERIFY(!ed.RecordChanged());
    }

    void anEmptyTermIsAskedFor_data()
    {
        QTest::addColumn<WindowKind>("kind");
        QTest::addColumn<QString>("command");
        QTest::newRow("main, in the note") << WindowKind::Main << "mnuFindpage";
        QTest::newRow("main, titles") << WindowKind::Main << "mnuFindtitle";
        QTest::newRow("single, in the note") << WindowKind::Single << "mnuFindNext";
        QTest::newRow("grid, bodies") << WindowKind::Grid << "mnuFindnaiyo";
    }
    void anEmptyTermIsAskedFor()
    {
        QFETCH(WindowKind, kind);
        QFETCH(QString, command);
        Env env;
        QMainWindow& w = env.open(kind);
        QPlainTextEdit* memo = Env::editorOf(w).visibleBodyBox();
        memo->setFocus();
        Env::select(memo, 2, 0);
        env.prompts.expectMessage(kEmptyTerm, shell::Msg::Ok, shell::Msg::OkOnly);
        Env::trigger(w, command.toLatin1().constData());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QWidget* focus = w.focusWidget();
        QVERIFY(focus == &Env::combo(w) || focus == Env::combo(w).lineEdit());
        QCOMPARE(Env::selection(memo), qMakePair(2, 0));
        QVERIFY(env.state->SearchHistory.isEmpty()); // nothing worth keeping
        QCOMPARE(env.window->gridWindow() != nullptr, kind == WindowKind::Grid);
    }

    // --- Find: across notes ----------------------------------------------------

    // Quotes, brackets, the wildcards of both dialects, a backslash and a
    // NUL, pasted into every search box, find exactly the notes and
    // categories holding them, and no statement any connection runs holds
    // them: each is bound.
    void searchWordsNeverEnterStatements()
    {
        QMutex mutex;
        QStringList statements;
        store::detail::setStatementTrace([&](const QString& sql) {
            const QMutexLocker lock(&mutex);
            statements << sql;
        });
        const auto untrace = qScopeGuard([] { store::detail::setStatementTrace({}); });
        const QString nul(QChar(0));
        const QString word = QStringLiteral("qzx'\"[*]%_\\") + nul + QStringLiteral("?#'");
        Env env{QString()};
        const QString n = QStringLiteral("naiyo");
        env.note(10, QStringLiteral("前") + word + QStringLiteral("後"), 1, {{n, QStringLiteral("本文")}});
        env.note(11, QStringLiteral("題"), 1, {{n, word}});
        env.note(12, QStringLiteral("両方") + word, 1, {{n, word + QStringLiteral("も")}});
        // What the word would find read as Jet's or as SQL's pattern.
        const QString asJet = QStringLiteral("qzx'\"*%_\\") + nul + QStringLiteral("x5'");
        const QString asSql = QStringLiteral("qzx'\"[*]ab\\") + nul + QStringLiteral("?#'");
        env.note(13, asJet, 1, {{n, asJet}});
        env.note(14, asSql, 1, {{n, asSql}});
        env.category(5, word + QStringLiteral("の棚"), 0);
        env.category(6, asJet, 0);
        env.category(7, asSql, 0);
        env.load();
        app::MainWindow& main = *env.window;
        auto paste = [&](QWidget* box) {
            QApplication::clipboard()->setText(word);
            box->setFocus();
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        };
        auto shown = [](grid::GridWindow& grid) {
            QList<qint64> ids = grid.shownNotes();
            std::sort(ids.begin(), ids.end());
            return ids;
        };

        // The main window's box: the grid's title search and the category search.
        paste(Env::combo(main).lineEdit());
        QCOMPARE(Env::combo(main).currentText(), word);
        Env::trigger(main, "mnuFindtitle");
        grid::GridWindow* grid = main.gridWindow();
        QVERIFY(grid);
        QCOMPARE(shown(*grid), (QList<qint64>{10, 12}));
        tree::CategorySearchWindow* categories = main.categorySearch();
        QVERIFY(categories);
        QCOMPARE(categories->model()->rowCount(), 1);
        QCOMPARE(categories->model()->index(0, 0).data().toString(), word + QStringLiteral("の棚"));

        // The grid's boxes, a column each and both.
        grid->searchBox(0)->clear();
        paste(grid->searchBox(1));
        QTest::keyClick(grid->searchBox(1), Qt::Key_Return);
        QCOMPARE(shown(*grid), (QList<qint64>{11, 12}));
        paste(grid->searchBox(0));
        QTest::keyClick(grid->searchBox(0), Qt::Key_Return);
        QCOMPARE(shown(*grid), QList<qint64>{12});

        // The category search's own box.
        categories->searchBox()->clear();
        QTest::mouseClick(categories->findButton(), Qt::LeftButton);
        QCOMPARE(categories->model()->rowCount(), 4);
        paste(categories->searchBox());
        QTest::mouseClick(categories->findButton(), Qt::LeftButton);
        QCOMPARE(categories->model()->rowCount(), 1);

        const QMutexLocker lock(&mutex);
        QVERIFY(statements.size() > 10);
        for (const QString& sql : std::as_const(statements))
            QVERIFY2(!sql.contains(QLatin1String("qzx"), Qt::CaseInsensitive), qPrintable(sql));
    }

    void searchingAllNotesIgnoresCaseAndWidth()
    {
        Env env{QString()};
        env.note(10, QStringLiteral("ABC の会議"), 1, {{QStringLiteral("naiyo"), QStringLiteral("議事")}});
        env.note(11, QStringLiteral("ａｂｃ メモ"), 1, {{QStringLiteral("naiyo"), QStringLiteral("なし")}});
        env.note(12, QStringLiteral("別件"), 1, {{QStringLiteral("naiyo"), QStringLiteral("中身に Abc")}});
        env.note(13, QStringLiteral("無関係"), 1, {{QStringLiteral("naiyo"), QStringLiteral("xyz")}});
        env.category(5, QStringLiteral("abcの棚"), 0);
        env.load();
        app::MainWindow& main = *env.window;

        // From the main window: the grid's search view and the category search.
        Env::typeTerm(main, QStringLiteral("abc"));
        Env::trigger(main, "mnuFindtitle");
        grid::GridWindow* grid = main.gridWindow();
        QVERIFY(grid && grid->isVisible());
        QVERIFY(!main.isVisible());
        QCOMPARE(env.state->CurrentTab, QStringLiteral("FindTab"));
        QCOMPARE(grid->searchBox(0)->text(), QStringLiteral("abc"));
        QCOMPARE(grid->searchBox(1)->text(), QString());
        QList<qint64> found = grid->shownNotes();
        std::sort(found.begin(), found.end());
        QCOMPARE(found, (QList<qint64>{10, 11}));
        QVERIFY(main.categorySearch() && main.categorySearch()->isVisible());
        QCOMPARE(main.categorySearch()->searchBox()->text(), QStringLiteral("abc"));
        QCOMPARE(main.categorySearch()->model()->rowCount(), 1);
        QCOMPARE(env.state->SearchHistory, QStringList{QStringLiteral("abc")});

        // From the grid window: it stays there, opens no category search,
        // and its body search adds nothing to the history.
        main.categorySearch()->hide();
        Env::activate(*grid);
        QCOMPARE(Env::combo(*grid).currentText(), QStringLiteral("abc"));
        Env::typeTerm(*grid, QStringLiteral("ＡＢＣ"));
        Env::trigger(*grid, "mnuFindnaiyo");
        QCOMPARE(grid->searchBox(0)->text(), QString());
        QCOMPARE(grid->searchBox(1)->text(), QStringLiteral("ＡＢＣ"));
        QCOMPARE(grid->shownNotes(), QList<qint64>{12});
        QVERIFY(grid->isVisible());
        QVERIFY(!main.categorySearch()->isVisible());
        QCOMPARE(env.state->SearchHistory, QStringList{QStringLiteral("abc")});
        Env::trigger(*grid, "mnuFindtitle");
        QCOMPARE(grid->searchBox(0)->text(), QStringLiteral("ＡＢＣ"));
        QCOMPARE(grid->shownNotes().size(), 2);
        QCOMPARE(env.state->SearchHistory, (QStringList{QStringLiteral("abc"), QStringLiteral("ＡＢＣ")}));
        QVERIFY(!main.categorySearch()->isVisible());

        // Back in the main window, the grid's words and term are there.
        Env::trigger(*grid, "mnuDouki");
        QVERIFY(main.isVisible());
        QCOMPARE(entries(Env::combo(main)), env.state->SearchHistory);
        QCOMPARE(Env::combo(main).currentText(), QStringLiteral("ＡＢＣ"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // --- Find: the history -------------------------------------------------------

    void historyKeepsEachTermOnce_data()
    {
        QTest::addColumn<QStringList>("used");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("repeats") << QStringList{u"a"_s, u"b"_s, u"a"_s, u"b"_s} << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("exact comparison") << QStringList{u"abc"_s, u"ABC"_s, u"ａｂｃ"_s, u"abc "_s}
                                          << QStringList{u"abc"_s, u"ABC"_s, u"ａｂｃ"_s, u"abc "_s};
        QTest::newRow("empty terms") << QStringList{u""_s, u"x"_s, u""_s} << QStringList{u"x"_s};
        QStringList many;
        for (int i = 1; i <= text::kSearchHistoryCap + 10; ++i)
            many << QString::number(i);
        QTest::newRow("the cap drops the oldest") << many << many.mid(10);
    }
    void historyKeepsEachTermOnce()
    {
        QFETCH(QStringList, used);
        QFETCH(QStringList, kept);
        Env env;
        QMainWindow& w = env.open(WindowKind::Main);
        for (const QString& term : used)
            text::AddSearchHistory(Env::commands(w), term);
        QCOMPARE(env.state->SearchHistory, kept);
        QCOMPARE(entries(Env::combo(w)), kept);
    }

    // The windows take the history and the main window's term when they
    // become active; a single-record window keeps its own term otherwise.
    void historyAndTermFollowTheActiveWindow()
    {
        Env env;
        QMainWindow& main = env.open(WindowKind::Main);
        Env::typeTerm(main, QStringLiteral("abc"));
        Env::trigger(main, "mnuFindpage");
        Env::typeTerm(main, QStringLiteral("会議"));
        env.prompts.expectMessage(kRestart, No);
        Env::trigger(main, "mnuFindpage");

        env.single = records::RecordWindow::open(*env.state, {20});
        QMainWindow& single = *env.single;
        Env::activate(single);
        QCOMPARE(entries(Env::combo(single)), (QStringList{QStringLiteral("abc"), QStringLiteral("会議")}));
        QCOMPARE(Env::combo(single).currentText(), QStringLiteral("会議"));

        // Its own term, and a term it adds, which the main window then lists;
        // "ABC" stays as typed though "abc" is in the list.
        Env::typeTerm(single, QStringLiteral("ABC"));
        Env::trigger(single, "mnuFindpage");
        Env::activate(main);
        QCOMPARE(entries(Env::combo(main)),
                 (QStringList{QStringLiteral("abc"), QStringLiteral("会議"), QStringLiteral("ABC")}));
        QCOMPARE(Env::combo(main).currentText(), QStringLiteral("会議"));
        Env::activate(single);
        QCOMPARE(Env::combo(single).currentText(), QStringLiteral("ABC"));

        // The main window's term changed meanwhile: taken on activation.
        Env::activate(main);
        Env::typeTerm(main, QStringLiteral("新しい語"));
        Env::activate(single);
        QCOMPARE(Env::combo(single).currentText(), QStringLiteral("新しい語"));
        QCOMPARE(entries(Env::combo(single)).size(), 3);

        // The grid window, built later, starts with all of it.
        env.state->CurrentTab = QStringLiteral("FindTab");
        env.window->ShowGridWindow();
        grid::GridWindow& grid = *env.window->gridWindow();
        QCOMPARE(entries(Env::combo(grid)), entries(Env::combo(main)));
        QCOMPARE(Env::combo(grid).currentText(), QStringLiteral("新しい語"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // --- Editing: clipboard, undo -----------------------------------------------

    void clipboardByTheFocusedControl_data()
    {
        QTest::addColumn<QString>("control"); // "title", "date" (Text1(4)), "combo", "list"
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("selStart");
        QTest::addColumn<int>("selLength");
        QTest::addColumn<QString>("clipboardBefore");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<QString>("clipboardAfter");

        QTest::newRow("copy, title") << "title"
                                     << "mnuCopy" << 2 << 2 << "old"
                                     << "会議 abc"
                                     << " a";
        QTest::newRow("copy, no selection") << "title"
                                            << "mnuCopy" << 2 << 0 << "old"
                                            << "会議 abc"
                                            << "";
        QTest::newRow("cut, title") << "title"
                                    << "mnuCut" << 0 << 3 << "old"
                                    << "abc"
                                    << "会議 ";
        QTest::newRow("cut, no selection") << "title"
                                           << "mnuCut" << 2 << 0 << "old"
                                           << "会議 abc"
                                           << "";
        QTest::newRow("paste, over the selection") << "title"
                                                   << "mnuPaste" << 3 << 3 << "録"
                                                   << "会議 録"
                                                   << "録";
        QTest::newRow("paste, at the caret") << "title"
                                             << "mnuPaste" << 0 << 0 << "新"
                                             << "新会議 abc"
                                             << "新";
        QTest::newRow("delete, selection") << "title"
                                           << "mnuDelete" << 2 << 4 << "old"
                                           << "会議"
                                           << "old";
        QTest::newRow("delete, no selection") << "title"
                                              << "mnuDelete" << 0 << 0 << "old"
                                              << "会議 abc"
                                              << "old";
        QTest::newRow("cut, date box") << "date"
                                       << "mnuCut" << 0 << 4 << "old"
                                       << "/12/24"
                                       << "2026";
        QTest::newRow("copy, combo: all of it") << "combo"
                                                << "mnuCopy" << 0 << 1 << "old"
                                                << "検索語"
                                                << "検索語";
        QTest::newRow("paste, combo: all of it") << "combo"
                                                 << "mnuPaste" << 0 << 1 << "新語"
                                                 << "新語"
                                                 << "新語";
        QTest::newRow("delete, combo") << "combo"
                                       << "mnuDelete" << 0 << 1 << "old"
                                       << ""
                                       << "old";
        // The record list is none of the kinds: copy empties the clipboard only.
        QTest::newRow("copy, record list") << "list"
                                           << "mnuCopy" << 0 << 0 << "old"
                                           << ""
                                           << "";
        QTest::newRow("paste, record list") << "list"
                                            << "mnuPaste" << 0 << 0 << "old"
                                            << ""
                                            << "old";
    }
    void clipboardByTheFocusedControl()
    {
        QFETCH(QString, control);
        QFETCH(QString, command);
        QFETCH(int, selStart);
        QFETCH(int, selLength);
        QFETCH(QString, clipboardBefore);
        QFETCH(QString, textAfter);
        QFETCH(QString, clipboardAfter);

        Env env;
        env.db->execute(QStringLiteral("UPDATE T_idea SET kanryoDate='2026-12-24'"));
        QMainWindow& w = env.open(WindowKind::Main);
        records::RecordEditor& ed = Env::editorOf(w);
        QApplication::clipboard()->setText(clipboardBefore);
        std::function<QString()> text = [] { return QString(); };
        if (control == QLatin1String("title")) {
            ed.titleBox()->setFocus();
            Env::select(ed.titleBox(), selStart, selLength);
            text = [&] { return ed.text(0); };
        } else if (control == QLatin1String("date")) {
            ed.lineBox(4)->setFocus();
            ed.lineBox(4)->setSelection(selStart, selLength);
            text = [&] { return ed.text(4); };
        } else if (control == QLatin1String("combo")) {
            Env::typeTerm(w, QStringLiteral("検索語"));
            Env::combo(w).lineEdit()->setSelection(0, 1);
            text = [&] { return Env::combo(w).currentText(); };
        } else {
            env.list().setFocus();
        }
        QVERIFY(w.focusWidget());
        Env::trigger(w, command.toLatin1().constData());
        QCOMPARE(text(), textAfter);
        QCOMPARE(QApplication::clipboard()->text(), clipboardAfter);
        env.forget(w);
    }

    void undoFollowsTheEditor_data()
    {
        QTest::addColumn<WindowKind>("kind");
        addWindowKinds();
    }
    void undoFollowsTheEditor()
    {
        QFETCH(WindowKind, kind);
        Env env;
        QMainWindow& w = env.open(kind);
        records::RecordEditor& ed = Env::editorOf(w);
        QAction* undo = Env::commands(w).action(QStringLiteral("mnuUndo"));
        QVERIFY(!undo->isEnabled()); // a note just shown

        QPlainTextEdit* title = ed.titleBox();
        title->setFocus();
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral("xyz"));
        QCOMPARE(ed.text(0), QStringLiteral("会議 abcxyz"));
        QVERIFY(undo->isEnabled());
        undo->trigger();
        QCOMPARE(ed.text(0), QStringLiteral("会議 abc"));

        // With the focus elsewhere (the search box is no text box), nothing.
        QTest::keyClicks(title, QStringLiteral("!"));
        Env::typeTerm(w, QStringLiteral("語"));
        undo->trigger();
        QCOMPARE(ed.text(0), QStringLiteral("会議 abc!"));
        QCOMPARE(Env::combo(w).currentText(), QStringLiteral("語"));
        env.forget(w);
    }

    // --- Editing: wrapping and font size ---------------------------------------------

    void wrappingTogglesBackWhereItStarted_data()
    {
        QTest::addColumn<WindowKind>("kind");
        addWindowKinds();
    }
    void wrappingTogglesBackWhereItStarted()
    {
        QFETCH(WindowKind, kind);
        Env env;
        QMainWindow& w = env.open(kind);
        records::RecordEditor& ed = Env::editorOf(w);
        QAction* orikae = Env::commands(w).action(QStringLiteral("mnuOrikae"));
        auto* button = w.findChild<QToolButton*>(QStringLiteral("orikae"));
        QVERIFY(button);
        auto stored = [&] {
            return env.settings->read(shell::Settings::Position, QStringLiteral("orikae"), QStringLiteral("(none)"));
        };
        const QString before = stored();

        button->click(); // the tool button runs the same command
        QVERIFY(orikae->isChecked());
        QVERIFY(button->isChecked());
        QVERIFY(ed.wrappedBodyBox()->isVisible());
        QVERIFY(!ed.bodyBox()->isVisible());
        QCOMPARE(w.focusWidget(), ed.wrappedBodyBox());
        QCOMPARE(ed.wrappedBodyBox()->toPlainText(), QStringLiteral("abc ABC abc"));
        QCOMPARE(stored(), QStringLiteral("tbrPressed"));

        orikae->trigger();
        QVERIFY(!orikae->isChecked());
        QVERIFY(!button->isChecked());
        QVERIFY(ed.bodyBox()->isVisible());
        QCOMPARE(w.focusWidget(), ed.bodyBox());
        QCOMPARE(ed.text(1), QStringLiteral("abc ABC abc"));
        QCOMPARE(stored(), QStringLiteral("tbrUnpressed"));
        QCOMPARE(before, QStringLiteral("(none)"));
        QVERIFY(!ed.RecordChanged());
    }

    void fontSizeStaysWithinBounds_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("size");
        QTest::addColumn<QString>("stored"); // "" when refused

        QTest::newRow("larger") << 10.5 << "mnuFontAdd" << 11.5 << "11.5";
        QTest::newRow("smaller") << 10.0 << "mnuFontSub" << 9.0 << "9";
        QTest::newRow("down to 1 point") << 2.0 << "mnuFontSub" << 1.0 << "1";
        QTest::newRow("not below 1 point") << 1.0 << "mnuFontSub" << 1.0 << "";
        QTest::newRow("not below 1 point, from 1.5") << 1.5 << "mnuFontSub" << 1.5 << "";
        QTest::newRow("up to the largest") << records::kLargestFontSize - 1 << "mnuFontAdd" << records::kLargestFontSize
                                           << QString::number(records::kLargestFontSize);
        QTest::newRow("not above the largest")
            << records::kLargestFontSize << "mnuFontAdd" << records::kLargestFontSize << "";
    }
    void fontSizeStaysWithinBounds()
    {
        QFETCH(double, start);
        QFETCH(QString, command);
        QFETCH(double, size);
        QFETCH(QString, stored);
        Env env;
        QMainWindow& w = env.open(WindowKind::Single);
        records::RecordEditor& ed = Env::editorOf(w);
        ed.setEditorFont(QString(), start);
        Env::trigger(w, command.toLatin1().constData());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(ed.textBox(i)->font().pointSizeF(), size);
        QCOMPARE(env.settings->read(shell::Settings::Position, QStringLiteral("FontSize")), stored);
        QVERIFY(!ed.RecordChanged());
    }

    // --- Editing: the date stamp ---------------------------------------------------

    void dateStampFormats_data()
    {
        QTest::addColumn<QString>("setting"); // "Position"/"DateTime"; null: not stored
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("title"); // after the stamp replaced "XY" in "abXYcd"
        const QTime morning(9, 5, 59);
        QTest::newRow("not stored: 1") << QString() << morning << "ab2001/05/07cd";
        QTest::newRow("1: date") << "1" << morning << "ab2001/05/07cd";
        QTest::newRow("2: date and time") << "2" << morning << "ab2001/05/07 09:05cd";
        QTest::newRow("2: hours to 23") << "2" << QTime(23, 7) << "ab2001/05/07 23:07cd";
        QTest::newRow("3: time first") << "3" << morning << "ab09:05 2001/05/07cd";
        QTest::newRow("3: midnight is 00") << "3" << QTime(0, 0) << "ab00:00 2001/05/07cd";
        QTest::newRow("unknown: nothing") << "9" << morning << "abXYcd";
        QTest::newRow("not a number: nothing") << "x" << morning << "abXYcd";
    }
    void dateStampFormats()
    {
        QFETCH(QString, setting);
        QFETCH(QTime, time);
        QFETCH(QString, title);
        Env env(QStringLiteral("abXYcd"));
        env.clock.set(QDateTime(QDate(2001, 5, 7), time));
        if (!setting.isNull())
            env.settings->write(shell::Settings::Position, QStringLiteral("DateTime"), setting);
        QMainWindow& w = env.open(WindowKind::Main);
        records::RecordEditor& ed = Env::editorOf(w);
        ed.titleBox()->setFocus();
        Env::select(ed.titleBox(), 2, 2);
        Env::trigger(w, "mnuEditDate");
        QCOMPARE(ed.text(0), title);

        // In the search box the stamp is the whole text.
        Env::typeTerm(w, QStringLiteral("語"));
        Env::trigger(w, "mnuEditDate");
        QCOMPARE(Env::combo(w).currentText(),
                 setting == QLatin1String("9") || setting == QLatin1String("x")
                     ? QStringLiteral("語")
                     : text::dateStamp(env.clock.now(), setting.isNull() ? 1 : setting.toInt()));
        env.forget(w);
    }

    // --- Editing: links ---------------------------------------------------------------

    void openLinkRules_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("opened"); // empty: nothing

        QTest::newRow("http") << "http://example.jp/a?b=1"
                              << "http://example.jp/a?b=1";
        QTest::newRow("https") << "https://example.jp/"
                               << "https://example.jp/";
        QTest::newRow("www") << "www.example.jp"
                             << "www.example.jp";
        QTest::newRow("full-width www., unconverted") << "ｗｗｗ．example．jp"
                                                      << "ｗｗｗ．example．jp";
        QTest::newRow("full-width http:, unconverted") << "ｈｔｔｐ：//example.jp"
                                                       << "ｈｔｔｐ：//example.jp";
        QTest::newRow("case counts: WWW.") << "WWW.example.jp"
                                           << "";
        QTest::newRow("drive path") << "C:\\文書\\a.txt"
                                    << "C:\\文書\\a.txt";
        QTest::newRow("drive path, full-width, narrowed") << "Ｃ：￥文書￥メモ．txt"
                                                          << "C:\\文書\\メモ.txt";
        QTest::newRow("path with blanks") << "D:\\My Documents\\議事 録.txt"
                                          << "D:\\My Documents\\議事 録.txt";
        QTest::newRow("file url") << "file:///home/u/a b.txt"
                                  << "file:///home/u/a b.txt";
        QTest::newRow("mail") << "taro@example.jp"
                              << "mailto:taro@example.jp";
        QTest::newRow("mail, full-width") << "ｔａｒｏ＠ｅｘａｍｐｌｅ．ｊｐ"
                                          << "mailto:taro@example.jp";
        QTest::newRow("mailto already") << "mailto:taro@example.jp"
                                        << "mailto:taro@example.jp";
        QTest::newRow("leading @") << "@taro"
                                   << "";
        QTest::newRow("leading full-width @") << "＠taro"
                                              << "";
        QTest::newRow("a word") << "会議"
                                << "";
        QTest::newRow("empty") << ""
                               << "";
        // Hostile targets reach the desktop as they are, never a shell
        // (tests/shell/tst_desktop.cpp shows nothing in them runs).
        QTest::newRow("hostile url") << "http://x.jp/;rm${IFS}-rf${IFS}~|sh"
                                     << "http://x.jp/;rm${IFS}-rf${IFS}~|sh";
        QTest::newRow("hostile path") << "C:\\a;b|c$(touch x)'.txt"
                                      << "C:\\a;b|c$(touch x)'.txt";
        QTest::newRow("hostile mail") << "a@b;$(reboot)|'"
                                      << "mailto:a@b;$(reboot)|'";
        QTest::newRow("command substitution") << "$(touch /tmp/x)"
                                              << "";
        QTest::newRow("backquotes") << "`touch /tmp/x`"
                                    << "";
        QTest::newRow("semicolon") << ";xdg-open /etc/passwd"
                                   << "";
    }
    void openLinkRules()
    {
        QFETCH(QString, word);
        QFETCH(QString, opened);
        test::RecordingDesktop desktop;
        text::OpenLink(desktop, word);
        QCOMPARE(desktop.opened, opened.isEmpty() ? QStringList() : QStringList{opened});
        QVERIFY(desktop.started.isEmpty());
        QCOMPARE(text::linkTarget(word), opened);
    }

    // The gesture: a double click on an address in a text box opens it,
    // the address taken whole though Qt's words end at "." and "/".
    void doubleClickOpensTheLink_data()
    {
        QTest::addColumn<WindowKind>("kind");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("clicked"); // the word double-clicked
        QTest::addColumn<QString>("opened");
        QTest::newRow("web, main") << WindowKind::Main << "詳しくは www.example.jp/a を見る"
                                   << "example"
                                   << "www.example.jp/a";
        QTest::newRow("mail in brackets, single") << WindowKind::Single << "宛先「taro@example.jp」まで"
                                                  << "example"
                                                  << "mailto:taro@example.jp";
        QTest::newRow("path, grid") << WindowKind::Grid << "C:\\文書\\a.txt"
                                    << "a"
                                    << "C:\\文書\\a.txt";
        QTest::newRow("web in a sentence without blanks") << WindowKind::Main << "（http://example.jp/a）を参照"
                                                          << "jp"
                                                          << "http://example.jp/a";
        QTest::newRow("leading @") << WindowKind::Main << "連絡 @taro まで"
                                   << "taro"
                                   << "";
        QTest::newRow("a word") << WindowKind::Main << "ただの 会議 です"
                                << "会議"
                                << "";
        // Japanese punctuation around an address, the address clicked at
        // its start and at its end.
        const QString url = QStringLiteral("https://example.com/colon");
        const QList<std::pair<const char*, const char*>> around = {
            {"参照：", "。"}, {"例、", "、次"}, {"前文。", "。"},   {"「", "」"},
            {"（", "）"},     {"【", "】"},     {"参照　", "　次"},
        };
        for (const auto& [before, after] : around) {
            const QString body = QString::fromUtf8(before) + url + QString::fromUtf8(after);
            for (const char* clicked : {"https", "colon"})
                QTest::addRow("%s…%s, %s", before, after, clicked) << WindowKind::Single << body << clicked << url;
        }
        QTest::newRow("mail after a colon") << WindowKind::Main << "宛先：taro@example.jp"
                                            << "taro"
                                            << "mailto:taro@example.jp";
        QTest::newRow("full-width drive path keeps its colon") << WindowKind::Main << "場所　Ｃ：￥文書￥メモ．txt"
                                                               << "文書"
                                                               << "C:\\文書\\メモ.txt";
    }
    void doubleClickOpensTheLink()
    {
        QFETCH(WindowKind, kind);
        QFETCH(QString, body);
        QFETCH(QString, clicked);
        QFETCH(QString, opened);
        Env env(QStringLiteral("題"), body);
        QMainWindow& w = env.open(kind);
        QPlainTextEdit* memo = Env::editorOf(w).visibleBodyBox();
        // The middle of the word.
        QTextCursor from(memo->document());
        QTextCursor to(memo->document());
        from.setPosition(int(body.indexOf(clicked)));
        to.setPosition(int(body.indexOf(clicked) + clicked.size()));
        const QPoint point((memo->cursorRect(from).center().x() + memo->cursorRect(to).center().x()) / 2,
                           memo->cursorRect(from).center().y());
        QTest::mouseDClick(memo->viewport(), Qt::LeftButton, {}, point);
        QCOMPARE(env.desktop.opened, opened.isEmpty() ? QStringList() : QStringList{opened});
        QVERIFY(!Env::editorOf(w).RecordChanged());
    }
};

QTEST_MAIN(TestTextCommands)
#include "tst_textcommands.moc"

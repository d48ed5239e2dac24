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

    // A "kind" column with a row for each window.
    static void addWindowKinds()
    {
        QTest::addColumn<WindowKind>("kind");
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
        QTest::newRow("case counts") << u"ABC abc"_s << u"abc"_s << 0 << 0 << QList<int>{} << 4 << 3;
        QTest::newRow("width counts") << u"ａｂｃ abc"_s << u"abc"_s << 0 << 0 << QList<int>{} << 4 << 3;
        QTest::newRow("kana counts") << u"アイ あい"_s << u"あい"_s << 0 << 0 << QList<int>{} << 3 << 2;
        QTest::newRow("from the start, not the caret") << u"abc xabc"_s << u"abc"_s << 6 << 0 << QList<int>{} << 0 << 3;
        QTest::newRow("after the selection") << u"abc xabc"_s << u"abc"_s << 0 << 3 << QList<int>{} << 5 << 3;
        QTest::newRow("across lines") << u"一行目\nabc"_s << u"abc"_s << 0 << 0 << QList<int>{} << 4 << 3;
        // At the end: the question (style 308); Yes wraps, No leaves the selection.
        QTest::newRow("end, Yes wraps") << u"abc xabc"_s << u"abc"_s << 5 << 3 << QList<int>{Yes} << 0 << 3;
        QTest::newRow("end, No stops") << u"abc xabc"_s << u"abc"_s << 5 << 3 << QList<int>{No} << 5 << 3;
        QTest::newRow("nowhere: asked until No")
            << u"xyz"_s << u"abc"_s << 1 << 0 << QList<int>{Yes, Yes, No} << 1 << 0;
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
        test::trigger(w, "mnuFindpage");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(Env::selection(memo), qMakePair(hitStart, hitLength));
        QCOMPARE(w.focusWidget(), memo);
        QCOMPARE(env.state->SearchHistory, QStringList{term});
    }

    // The gesture of the Part in each window: a word selected in the title is
    // searched in the body; find next walks on, wraps after the question.
    void findNextWalksAndWraps_data() { addWindowKinds(); }
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
        test::trigger(w, "mnuFindpage");
        QPlainTextEdit* memo = ed.visibleBodyBox();
        QCOMPARE(Env::combo(w).currentText(), QStringLiteral("abc"));
        QCOMPARE(Env::selection(memo), qMakePair(0, 3));

        test::trigger(w, "mnuFindNext"); // skips "ABC"
        QCOMPARE(Env::selection(memo), qMakePair(8, 3));
        env.prompts.expectMessage(kRestart, Yes, kStyle308);
        test::trigger(w, "mnuFindNext");
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
        QTest::newRow("main, in the note") << WindowKind::Main << u"mnuFindpage"_s;
        QTest::newRow("main, titles") << WindowKind::Main << u"mnuFindtitle"_s;
        QTest::newRow("single, in the note") << WindowKind::Single << u"mnuFindNext"_s;
        QTest::newRow("grid, bodies") << WindowKind::Grid << u"mnuFindnaiyo"_s;
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
        test::trigger(w, command);
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
        test::trigger(main, "mnuFindtitle");
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
        test::trigger(main, "mnuFindtitle");
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
        test::trigger(*grid, "mnuFindnaiyo");
        QCOMPARE(grid->searchBox(0)->text(), QString());
        QCOMPARE(grid->searchBox(1)->text(), QStringLiteral("ＡＢＣ"));
        QCOMPARE(grid->shownNotes(), QList<qint64>{12});
        QVERIFY(grid->isVisible());
        QVERIFY(!main.categorySearch()->isVisible());
        QCOMPARE(env.state->SearchHistory, QStringList{QStringLiteral("abc")});
        test::trigger(*grid, "mnuFindtitle");
        QCOMPARE(grid->searchBox(0)->text(), QStringLiteral("ＡＢＣ"));
        QCOMPARE(grid->shownNotes().size(), 2);
        QCOMPARE(env.state->SearchHistory, (QStringList{QStringLiteral("abc"), QStringLiteral("ＡＢＣ")}));
        QVERIFY(!main.categorySearch()->isVisible());

        // Back in the main window, the grid's words and term are there.
        test::trigger(*grid, "mnuDouki");
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
        test::trigger(main, "mnuFindpage");
        Env::typeTerm(main, QStringLiteral("会議"));
        env.prompts.expectMessage(kRestart, No);
        test::trigger(main, "mnuFindpage");

        env.single = records::RecordWindow::open(*env.state, {20});
        QMainWindow& single = *env.single;
        Env::activate(single);
        QCOMPARE(entries(Env::combo(single)), (QStringList{QStringLiteral("abc"), QStringLiteral("会議")}));
        QCOMPARE(Env::combo(single).currentText(), QStringLiteral("会議"));

        // Its own term, and a term it adds, which the main window then lists;
        // "ABC" stays as typed though "abc" is in the list.
        Env::typeTerm(single, QStringLiteral("ABC"));
        test::trigger(single, "mnuFindpage");
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

        QTest::newRow("copy, title") << u"title"_s << u"mnuCopy"_s << 2 << 2 << u"old"_s << u"会議 abc"_s << u" a"_s;
        QTest::newRow("copy, no selection")
            << u"title"_s << u"mnuCopy"_s << 2 << 0 << u"old"_s << u"会議 abc"_s << u""_s;
        QTest::newRow("cut, title") << u"title"_s << u"mnuCut"_s << 0 << 3 << u"old"_s << u"abc"_s << u"会議 "_s;
        QTest::newRow("cut, no selection") << u"title"_s << u"mnuCut"_s << 2 << 0 << u"old"_s << u"会議 abc"_s << u""_s;
        QTest::newRow("paste, over the selection")
            << u"title"_s << u"mnuPaste"_s << 3 << 3 << u"録"_s << u"会議 録"_s << u"録"_s;
        QTest::newRow("paste, at the caret")
            << u"title"_s << u"mnuPaste"_s << 0 << 0 << u"新"_s << u"新会議 abc"_s << u"新"_s;
        QTest::newRow("delete, selection")
            << u"title"_s << u"mnuDelete"_s << 2 << 4 << u"old"_s << u"会議"_s << u"old"_s;
        QTest::newRow("delete, no selection")
            << u"title"_s << u"mnuDelete"_s << 0 << 0 << u"old"_s << u"会議 abc"_s << u"old"_s;
        QTest::newRow("cut, date box") << u"date"_s << u"mnuCut"_s << 0 << 4 << u"old"_s << u"/12/24"_s << u"2026"_s;
        QTest::newRow("copy, combo: all of it")
            << u"combo"_s << u"mnuCopy"_s << 0 << 1 << u"old"_s << u"検索語"_s << u"検索語"_s;
        QTest::newRow("paste, combo: all of it")
            << u"combo"_s << u"mnuPaste"_s << 0 << 1 << u"新語"_s << u"新語"_s << u"新語"_s;
        QTest::newRow("delete, combo") << u"combo"_s << u"mnuDelete"_s << 0 << 1 << u"old"_s << u""_s << u"old"_s;
        // The record list is none of the kinds: copy empties the clipboard only.
        QTest::newRow("copy, record list") << u"list"_s << u"mnuCopy"_s << 0 << 0 << u"old"_s << u""_s << u""_s;
        QTest::newRow("paste, record list") << u"list"_s << u"mnuPaste"_s << 0 << 0 << u"old"_s << u""_s << u"old"_s;
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
        test::trigger(w, command);
        QCOMPARE(text(), textAfter);
        QCOMPARE(QApplication::clipboard()->text(), clipboardAfter);
        env.forget(w);
    }

    void undoFollowsTheEditor_data() { addWindowKinds(); }
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

    void wrappingTogglesBackWhereItStarted_data() { addWindowKinds(); }
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

        QTest::newRow("larger") << 10.5 << u"mnuFontAdd"_s << 11.5 << u"11.5"_s;
        QTest::newRow("smaller") << 10.0 << u"mnuFontSub"_s << 9.0 << u"9"_s;
        QTest::newRow("down to 1 point") << 2.0 << u"mnuFontSub"_s << 1.0 << u"1"_s;
        QTest::newRow("not below 1 point") << 1.0 << u"mnuFontSub"_s << 1.0 << u""_s;
        QTest::newRow("not below 1 point, from 1.5") << 1.5 << u"mnuFontSub"_s << 1.5 << u""_s;
        QTest::newRow("up to the largest") << records::kLargestFontSize - 1 << u"mnuFontAdd"_s
                                           << records::kLargestFontSize << QString::number(records::kLargestFontSize);
        QTest::newRow("not above the largest")
            << records::kLargestFontSize << u"mnuFontAdd"_s << records::kLargestFontSize << u""_s;
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
        test::trigger(w, command);
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
        QTest::newRow("not stored: 1") << QString() << morning << u"ab2001/05/07cd"_s;
        QTest::newRow("1: date") << u"1"_s << morning << u"ab2001/05/07cd"_s;
        QTest::newRow("2: date and time") << u"2"_s << morning << u"ab2001/05/07 09:05cd"_s;
        QTest::newRow("2: hours to 23") << u"2"_s << QTime(23, 7) << u"ab2001/05/07 23:07cd"_s;
        QTest::newRow("3: time first") << u"3"_s << morning << u"ab09:05 2001/05/07cd"_s;
        QTest::newRow("3: midnight is 00") << u"3"_s << QTime(0, 0) << u"ab00:00 2001/05/07cd"_s;
        QTest::newRow("unknown: nothing") << u"9"_s << morning << u"abXYcd"_s;
        QTest::newRow("not a number: nothing") << u"x"_s << morning << u"abXYcd"_s;
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
        test::trigger(w, "mnuEditDate");
        QCOMPARE(ed.text(0), title);

        // In the search box the stamp is the whole text.
        Env::typeTerm(w, QStringLiteral("語"));
        test::trigger(w, "mnuEditDate");
        const QString stamp = title.mid(2, title.size() - 4);
        QCOMPARE(Env::combo(w).currentText(), stamp == u"XY" ? QStringLiteral("語") : stamp);
        env.forget(w);
    }

    // --- Editing: links ---------------------------------------------------------------

    void openLinkRules_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("opened"); // empty: nothing

        QTest::newRow("http") << u"http://example.jp/a?b=1"_s << u"http://example.jp/a?b=1"_s;
        QTest::newRow("https") << u"https://example.jp/"_s << u"https://example.jp/"_s;
        QTest::newRow("www") << u"www.example.jp"_s << u"www.example.jp"_s;
        QTest::newRow("full-width www., unconverted") << u"ｗｗｗ．example．jp"_s << u"ｗｗｗ．example．jp"_s;
        QTest::newRow("full-width http:, unconverted") << u"ｈｔｔｐ：//example.jp"_s << u"ｈｔｔｐ：//example.jp"_s;
        QTest::newRow("case counts: WWW.") << u"WWW.example.jp"_s << u""_s;
        QTest::newRow("drive path") << u"C:\\文書\\a.txt"_s << u"C:\\文書\\a.txt"_s;
        QTest::newRow("drive path, full-width, narrowed") << u"Ｃ：￥文書￥メモ．txt"_s << u"C:\\文書\\メモ.txt"_s;
        QTest::newRow("path with blanks") << u"D:\\My Documents\\議事 録.txt"_s << u"D:\\My Documents\\議事 録.txt"_s;
        QTest::newRow("file url") << u"file:///home/u/a b.txt"_s << u"file:///home/u/a b.txt"_s;
        QTest::newRow("mail") << u"taro@example.jp"_s << u"mailto:taro@example.jp"_s;
        QTest::newRow("mail, full-width") << u"ｔａｒｏ＠ｅｘａｍｐｌｅ．ｊｐ"_s << u"mailto:taro@example.jp"_s;
        QTest::newRow("mailto already") << u"mailto:taro@example.jp"_s << u"mailto:taro@example.jp"_s;
        QTest::newRow("leading @") << u"@taro"_s << u""_s;
        QTest::newRow("leading full-width @") << u"＠taro"_s << u""_s;
        QTest::newRow("a word") << u"会議"_s << u""_s;
        QTest::newRow("empty") << u""_s << u""_s;
        // Hostile targets reach the desktop as they are, never a shell
        // (tests/shell/tst_desktop.cpp shows nothing in them runs).
        QTest::newRow("hostile url") << u"http://x.jp/;rm${IFS}-rf${IFS}~|sh"_s
                                     << u"http://x.jp/;rm${IFS}-rf${IFS}~|sh"_s;
        QTest::newRow("hostile path") << u"C:\\a;b|c$(touch x)'.txt"_s << u"C:\\a;b|c$(touch x)'.txt"_s;
        QTest::newRow("hostile mail") << u"a@b;$(reboot)|'"_s << u"mailto:a@b;$(reboot)|'"_s;
        QTest::newRow("command substitution") << u"$(touch /tmp/x)"_s << u""_s;
        QTest::newRow("backquotes") << u"`touch /tmp/x`"_s << u""_s;
        QTest::newRow("semicolon") << u";xdg-open /etc/passwd"_s << u""_s;
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
        QTest::newRow("web, main") << WindowKind::Main << u"詳しくは www.example.jp/a を見る"_s << u"example"_s
                                   << u"www.example.jp/a"_s;
        QTest::newRow("mail in brackets, single")
            << WindowKind::Single << u"宛先「taro@example.jp」まで"_s << u"example"_s << u"mailto:taro@example.jp"_s;
        QTest::newRow("path, grid") << WindowKind::Grid << u"C:\\文書\\a.txt"_s << u"a"_s << u"C:\\文書\\a.txt"_s;
        QTest::newRow("web in a sentence without blanks")
            << WindowKind::Main << u"（http://example.jp/a）を参照"_s << u"jp"_s << u"http://example.jp/a"_s;
        QTest::newRow("leading @") << WindowKind::Main << u"連絡 @taro まで"_s << u"taro"_s << u""_s;
        QTest::newRow("a word") << WindowKind::Main << u"ただの 会議 です"_s << u"会議"_s << u""_s;
        // Japanese punctuation around an address, the address clicked at
        // its start and at its end.
        const QString url = u"https://example.com/colon"_s;
        const QList<std::pair<const char*, const char*>> around = {
            {"参照：", "。"}, {"例、", "、次"}, {"前文。", "。"},   {"「", "」"},
            {"（", "）"},     {"【", "】"},     {"参照　", "　次"},
        };
        for (const auto& [before, after] : around) {
            const QString body = QString::fromUtf8(before) + url + QString::fromUtf8(after);
            for (const char* clicked : {"https", "colon"})
                QTest::addRow("%s…%s, %s", before, after, clicked) << WindowKind::Single << body << clicked << url;
        }
        QTest::newRow("mail after a colon")
            << WindowKind::Main << u"宛先：taro@example.jp"_s << u"taro"_s << u"mailto:taro@example.jp"_s;
        QTest::newRow("full-width drive path keeps its colon")
            << WindowKind::Main << u"場所　Ｃ：￥文書￥メモ．txt"_s << u"文書"_s << u"C:\\文書\\メモ.txt"_s;
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

// Drafts of unsaved typing: kept while a window's note holds changes, gone
// once the note is saved or the change dropped, and offered again at the
// start after a run that ended without its shut-down.

#include "mainwindowapp.h"

#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "records/drafts.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/draftjournal.h"
#include "store/database.h"
#include "store/notes.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QtTest>

using namespace zumilo;
using shell::Msg::Cancel;
using shell::Msg::No;
using shell::Msg::Ok;

namespace {

const QString kSaveQuestion = QStringLiteral("このデータは変更されています。保存しますか？");
const QString kRestored = QStringLiteral("（復元した下書き）");
const QString kGridQuestion = QStringLiteral("内容が変更されました。更新しますか？");

enum class Window { Main, Single, Grid };

// Japanese arrives as the input method's committed text.
void commit(QWidget* box, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(box, &event);
}

QString offer(int count)
{
    return QStringLiteral("前回は Zumilo が正しく終了しませんでした。保存されていない編集が %1 件残っています。\n"
                          "それぞれ、編集画面に戻すか破棄するかを選んでください。"
                          "戻した内容はまだ保存されていません。保存すると登録されます。")
        .arg(count);
}

struct Env : test::MainWindowApp {
    QString folder = shell::DraftJournal::folderBeside(settings->fileName());
    std::unique_ptr<shell::DraftJournal> journal;

    Env()
    {
        category(1, QStringLiteral("仕事"), 0);
        for (qint64 id : {10, 11})
            note(id, id == 10 ? QStringLiteral("議事録") : QStringLiteral("準備"), 1,
                 {{QStringLiteral("naiyo"), QStringLiteral("本文")},
                  {QStringLiteral("bunrui"), QStringLiteral("仕事")},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-01")},
                  {QStringLiteral("kousinTime"), QStringLiteral("09:00:00")}});
    }
    ~Env()
    {
        // Torn down as the program's end does, asking nothing.
        for (records::RecordWindow* w : recordWindows())
            delete w;
        state->services.drafts = nullptr;
    }
    void start()
    {
        journal = std::make_unique<shell::DraftJournal>(folder);
        state->services.drafts = journal.get();
        load();
        choose(QStringLiteral("1_id"));
    }
    // This run's draft of `slot`, as written.
    QByteArray draft(const QString& slot) const
    {
        journal->flush();
        QFile f(QDir(journal->runFolder()).filePath(slot + QStringLiteral(".draft")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    int draftCount() const
    {
        journal->flush();
        return int(QDir(journal->runFolder()).entryList({QStringLiteral("*.draft")}).size());
    }
    shell::Draft left(const QString& slot, qint64 id, const QString& title, int minute) const
    {
        shell::Draft d;
        d.slot = slot;
        d.databasePath = dbPath;
        d.noteId = id;
        if (const auto now = id ? store::noteState(*db, id) : std::nullopt) {
            d.stampDate = now->updatedDate;
            d.stampTime = now->updatedTime;
        }
        d.savedAt = QDateTime(QDate(2026, 12, 6), QTime(10, minute));
        d.texts[0] = title;
        d.texts[1] = title + QStringLiteral("の本文\n二行目");
        d.texts[3] = QStringLiteral("仕事");
        d.texts[7] = QStringLiteral("1");
        d.checks = {true, false};
        return d;
    }
};

} // namespace

Q_DECLARE_METATYPE(Window)

class TestDrafts : public QObject {
    Q_OBJECT

private slots:
    void draftLastsAsLongAsTheChange_data()
    {
        QTest::addColumn<Window>("window");
        QTest::addColumn<bool>("save");
        QTest::newRow("main window, saved") << Window::Main << true;
        QTest::newRow("main window, another note without saving") << Window::Main << false;
        QTest::newRow("single-record window, saved") << Window::Single << true;
        QTest::newRow("single-record window, closed without saving") << Window::Single << false;
        QTest::newRow("grid, saved") << Window::Grid << true;
        QTest::newRow("grid, next row without updating") << Window::Grid << false;
    }
    void draftLastsAsLongAsTheChange()
    {
        QFETCH(Window, window);
        QFETCH(bool, save);
        Env env;
        env.start();
        QMainWindow* w = env.window.get();
        QString slot = QStringLiteral("main");
        if (window == Window::Single) {
            QTest::keyClick(env.window->recordList(), Qt::Key_Return);
            QCOMPARE(env.recordWindows().size(), 1);
            w = env.recordWindows().first();
            slot = QStringLiteral("single-1");
        } else if (window == Window::Grid) {
            test::clickTab(*env.window, u"FindTab");
            w = env.window->gridWindow();
            slot = QStringLiteral("grid");
        }
        records::RecordEditor& editor = *records::commandWindow(*w)->editor();
        commit(editor.titleBox(), QStringLiteral("に追記"));
        QCOMPARE(env.draftCount(), 0); // not at every key
        QTRY_VERIFY_WITH_TIMEOUT(env.draft(slot).contains("に追記"), 2 * records::kDraftPauseMs);

        if (save) {
            if (window == Window::Grid)
                env.prompts.expectMessage(kGridQuestion, Ok);
            test::trigger(*w, u"mnuUpdate");
            QVERIFY(env.scalar(QStringLiteral("select count(*) from T_idea where instr(title, 'に追記') > 0")).toInt()
                    == 1);
        } else if (window == Window::Grid) {
            env.prompts.expectMessage(kGridQuestion, Cancel);
            test::trigger(*w, u"mnuMoveNext");
        } else {
            env.prompts.expectMessage(kSaveQuestion, No);
            if (window == Window::Main)
                QTest::keyClick(env.window->recordList(), Qt::Key_Down);
            else
                w->close();
            QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea where instr(title, 'に追記') > 0")).toInt(),
                     0);
        }
        QCOMPARE(env.draftCount(), 0);
        QCOMPARE(env.draft(slot), QByteArray());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // Opening another file empties the editor: its change is asked about first.
    void openingAnotherFileAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("saved") << int(shell::Msg::Yes);
        QTest::newRow("dropped") << int(No);
    }
    void openingAnotherFileAsksFirst()
    {
        QFETCH(int, answer);
        Env env;
        env.start();
        const QString other = env.makeDatabase(QStringLiteral("data/other.zmd"));
        commit(env.editor().titleBox(), QStringLiteral("に追記"));
        env.prompts.expectOpenFile(other).expectMessage(kSaveQuestion, answer);
        test::trigger(*env.window, u"mnuOpenDB");
        QCOMPARE(env.state->DatabasePath, other);
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea where instr(title, 'に追記') > 0")).toInt(),
                 answer == shell::Msg::Yes ? 1 : 0);
        QCOMPARE(env.draftCount(), 0);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void focusLeavingWritesAtOnce()
    {
        Env env;
        env.start();
        QTest::keyClick(env.window->recordList(), Qt::Key_Return);
        records::RecordWindow* single = env.recordWindows().value(0);
        QVERIFY(single);
        single->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(single));
        commit(single->editor()->visibleBodyBox(), QStringLiteral("続き"));
        env.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(env.window.get()));
        QTRY_VERIFY_WITH_TIMEOUT(env.draft(QStringLiteral("single-1")).contains("続き"), records::kDraftPauseMs / 2);
    }

    void draftsLeftBehindAreOffered()
    {
        Env env;
        {
            // A run that ended without its shut-down: its lock goes with it.
            shell::DraftJournal old(env.folder);
            old.write(env.left(QStringLiteral("main"), 10, QStringLiteral("議事録に追記"), 1));
            old.write(env.left(QStringLiteral("single-1"), 11, QStringLiteral("準備を変更"), 2));
            old.write(env.left(QStringLiteral("single-2"), 99, QStringLiteral("消えたメモ"), 3));
            old.write(env.left(QStringLiteral("single-3"), 0, QStringLiteral("新しいメモ"), 4));
            old.write(env.left(QStringLiteral("grid"), 10, QStringLiteral("捨てる"), 5));
            old.flush(); // its folder is made on the journal's own thread
            QFile damaged(QDir(old.runFolder()).filePath(QStringLiteral("single-4.draft")));
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("{\"format\":1,\"texts\":[\"切れ");
        }
        // Meanwhile the note 11 was saved elsewhere.
        env.db->execute(QStringLiteral("UPDATE T_idea SET kousinTime='09:30:00' WHERE id=11"));
        env.start();

        env.prompts.expectMessage({}, Ok);
        env.prompts.expectEachChoice(offer(5), QList<bool>{true, true, true, true, false});
        env.window->offerDrafts();
        QVERIFY(env.prompts.messages().value(0).contains(QStringLiteral("壊れている")));
        const QStringList items = env.prompts.lastChoices();
        QCOMPARE(items.size(), 5);
        QVERIFY(items[0].contains(QStringLiteral("番号: 10　タイトル: 議事録に追記")));
        QVERIFY(items[0].contains(QStringLiteral("時刻: 2026/12/06 10:01:00")));
        QVERIFY(items[0].contains(QStringLiteral("内容: 議事録に追記の本文 二行目")));
        QVERIFY(items[1].contains(QStringLiteral("その後変更されています。新しいデータとして戻します。")));
        QVERIFY(items[2].contains(QStringLiteral("その後削除されています。新しいデータとして戻します。")));
        QVERIFY(items[3].contains(QStringLiteral("番号: （新しいデータ）")));

        // Four windows, each holding its draft as an unsaved edit; nothing stored.
        const QList<records::RecordWindow*> windows = env.recordWindows();
        QCOMPARE(windows.size(), 4);
        QMap<QString, records::RecordWindow*> byTitle;
        for (records::RecordWindow* w : windows) {
            QVERIFY(w->recordChanged());
            QCOMPARE(w->editor()->text(1), w->editor()->text(0) + QStringLiteral("の本文\n二行目"));
            QVERIFY(w->editor()->isChecked(0));
            QCOMPARE(w->editor()->text(3), QStringLiteral("仕事"));
            QCOMPARE(w->windowTitle(), kRestored + w->editor()->text(0) + QStringLiteral("  「仕事」 - Zumilo"));
            byTitle.insert(w->editor()->text(0), w);
        }
        QCOMPARE(byTitle.size(), 4);
        QVERIFY(byTitle.value(QStringLiteral("議事録に追記"))
                && !byTitle[QStringLiteral("議事録に追記")]->newRecordMode());
        for (const QString& t :
             {QStringLiteral("新しいメモ"), QStringLiteral("準備を変更"), QStringLiteral("消えたメモ")})
            QVERIFY2(byTitle.value(t) && byTitle[t]->newRecordMode(), qPrintable(t));
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 2);
        // The old run's drafts are answered for; this run keeps the restored ones.
        env.journal->flush();
        QCOMPARE(QDir(env.folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2); // this run, damaged
        QCOMPARE(env.draftCount(), 4);

        // Saved as any edit: the note's stamp is renewed and its draft goes.
        records::RecordWindow* first = byTitle[QStringLiteral("議事録に追記")];
        const QString slot = first->draftKeeper()->slot();
        test::trigger(*first, u"mnuUpdate");
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=10")).toString(),
                 QStringLiteral("議事録に追記"));
        QCOMPARE(env.scalar(QStringLiteral("select kousinDate from T_idea where id=10")).toString(),
                 QStringLiteral("2026-12-06"));
        QCOMPARE(env.draft(slot), QByteArray());
        QCOMPARE(env.draftCount(), 3);
        QVERIFY(!first->windowTitle().startsWith(kRestored));
        // Typing on keeps the mark.
        records::RecordWindow* other = byTitle[QStringLiteral("準備を変更")];
        QTest::keyClick(other->editor()->titleBox(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(other->editor()->titleBox(), QStringLiteral("x"));
        QCOMPARE(other->windowTitle().left(kRestored.size() + 6), kRestored + QStringLiteral("準備を変更x"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void closingTheOfferKeepsTheDraftsForTheNextStart()
    {
        Env env;
        {
            shell::DraftJournal old(env.folder);
            old.write(env.left(QStringLiteral("main"), 10, QStringLiteral("あとで"), 1));
        }
        env.start();
        env.prompts.expectEachChoice(offer(1), std::nullopt);
        env.window->offerDrafts();
        QVERIFY(env.recordWindows().isEmpty());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        // A run still going keeps its drafts to itself.
        shell::DraftJournal running(env.folder);
        running.write(env.left(QStringLiteral("main"), 11, QStringLiteral("実行中"), 2));
        running.flush();
        env.journal->flush();
        const QList<shell::Draft> next = shell::DraftJournal(env.folder).leftBehind().drafts;
        QCOMPARE(next.size(), 1);
        QCOMPARE(next[0].texts[0], QStringLiteral("あとで"));

        // So does one that has only just started.
        shell::DraftJournal starting(env.folder);
        {
            shell::DraftJournal other(env.folder);
            other.leftBehind();
            other.release();
        }
        QVERIFY(QFileInfo::exists(starting.runFolder()));
        starting.write(env.left(QStringLiteral("main"), 12, QStringLiteral("始めたばかり"), 3));
        starting.flush();
        QVERIFY(QFileInfo::exists(starting.runFolder() + QStringLiteral("/main.draft")));
    }
};

QTEST_MAIN(TestDrafts)
#include "tst_drafts.moc"

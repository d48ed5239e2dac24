// Single-record windows on real database files: opening, walking, saving,
// closing, and several of them on one file at once.

#include "support/mainwindowapp.h"

#include "records/recordeditor.h"
#include "records/recordwindow.h"
#include "shell/statuspanels.h"
#include "shell/twips.h"
#include "store/database.h"
#include "store/recordset.h"
#include "tree/categorypicker.h"
#include "tree/categorytree.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QStatusBar>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;
using records::RecordWindow;
using shell::Msg::No;
using shell::Msg::Ok;
using shell::Msg::Yes;
using shell::twipsToPixels;

namespace {

const QString kSaveQuestion = QStringLiteral("このデータは変更されています。保存しますか？");
const QString kNotSaved = QStringLiteral("このデータを保存できませんでした。");
const QString kSaved = QStringLiteral("登録完了");
constexpr int kExclamation = 48;

enum class Failure { ReadOnly, Busy, Deleted };

// The windows alone, on the file `db` holds as another window would.
struct Env : test::MainWindowApp {
    QList<QPointer<RecordWindow>> windows;

    Env()
    {
        category(1, QStringLiteral("仕事"), 0);
        category(2, QStringLiteral("家"), 0);
        state->DatabasePath = dbPath;
        state->CurrentBunID = QStringLiteral("1");
        state->CurrentBunName = QStringLiteral("仕事");
    }
    ~Env()
    {
        for (const auto& w : windows)
            delete w.data();
    }
    // A note, due and last updated ("yyyy-MM-dd hh:mm:ss") when given.
    void note(qint64 id, const QString& title, qint64 bunID = 1, const QVariant& due = {}, const QString& updated = {})
    {
        const auto part = [&](int from, int n) {
            return updated.isEmpty() ? QVariant() : QVariant(updated.mid(from, n));
        };
        MainWindowApp::note(id, title, bunID,
                            {{u"kijituDate"_s, due}, {u"kousinDate"_s, part(0, 10)}, {u"kousinTime"_s, part(11, -1)}});
    }
    // On the note `id`, or on a new note when `id` is empty.
    RecordWindow& open(const QString& id = {})
    {
        RecordWindow* w = RecordWindow::open(*state,
                                             id.isEmpty() ? shell::OpenRequest{} : shell::OpenRequest{id.toLongLong()});
        QObject::connect(w, &RecordWindow::returned, w, [this](const shell::ReturnRequest& r) {
            handedBack << QStringLiteral("closed on ") + (r.note ? QString::number(*r.note) : QStringLiteral("none"));
        });
        QObject::connect(w, &RecordWindow::noteSaved, w,
                         [this](qint64 saved) { handedBack << QStringLiteral("saved ") + QString::number(saved); });
        windows << w;
        return *w;
    }
    // What the windows handed back to the main window, in order.
    QStringList handedBack;
    QVariant stored(qint64 id, const QString& column = QStringLiteral("title")) const
    {
        return db->scalar(QStringLiteral("select %1 from T_idea where id=?").arg(column), {id});
    }
    int noteCount() const { return db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(); }
};

QString panel(const RecordWindow& w, int i)
{
    return w.statusPanels().text(i);
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class TestRecordWindow : public QObject {
    Q_OBJECT

private slots:
    void windowsCascadeAndHandBackOnClose()
    {
        Env env;
        env.note(7, QStringLiteral("a"));
        env.note(8, QStringLiteral("b"));
        env.note(9, QStringLiteral("c"));
        env.settings->write(shell::Settings::F2Position, QStringLiteral("Top"), QStringLiteral("600"));
        env.settings->write(shell::Settings::F2Position, QStringLiteral("Left"), QStringLiteral("900"));
        QList<QPointer<RecordWindow>> w{&env.open(QStringLiteral("7")), &env.open(QStringLiteral("8")), &env.open()};
        QCOMPARE(env.state->SingleWindowCount, 3);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(w[k]->pos(), QPoint(twipsToPixels(900 + 400 * k), twipsToPixels(600 + 300 * k)));
            // The stored size, or larger where the fields would not fit.
            QCOMPARE(w[k]->size(), QSize(twipsToPixels(5850), twipsToPixels(4740)).expandedTo(w[k]->minimumSize()));
        }

        // A new note never touched: no question, nothing stored, no note to select.
        QVERIFY(w[2]->close());
        QCOMPARE(env.noteCount(), 3);
        QCOMPARE(env.handedBack, QStringList{QStringLiteral("closed on none")});
        QCOMPARE(env.state->SingleWindowCount, 2);

        const QPoint at = w[1]->pos();
        test::trigger(*w[1], u"mnuMoveNext");
        test::trigger(*w[1], u"mnuEnd");
        QCOMPARE(env.state->SingleWindowCount, 1);
        QCOMPARE(env.handedBack.last(), QStringLiteral("closed on 9"));
        QCOMPARE(env.settings->readNumber(shell::Settings::F2Position, QStringLiteral("Left"), 0),
                 shell::pixelsToTwips(at.x()));
        QTRY_VERIFY(w[1].isNull() && w[2].isNull());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void layoutFollowsTheWindow()
    {
        Env env;
        env.note(1, QStringLiteral("題名"));
        env.settings->write(shell::Settings::Position, QStringLiteral("FontSize"), QStringLiteral("14"));
        RecordWindow& w = env.open(QStringLiteral("1"));
        records::RecordEditor& e = *w.editor();
        QCOMPARE(w.windowTitle(), QStringLiteral("題名  「仕事」 - Zumilo"));

        w.resize(900, 700);
        QWidget* canvas = w.centralWidget();
        QTRY_COMPARE(e.bodyBox()->width(), canvas->width());
        QVERIFY(qAbs(e.bodyBox()->geometry().bottom() + 1 - canvas->height()) <= 1);
        QVERIFY(qAbs(e.titleBox()->geometry().right() + 1 - canvas->width() - twipsToPixels(20)) <= 1);
        // Captions whole, the first row clear of the title and of its neighbours.
        for (QWidget* c : QList<QWidget*>{e.label(0), e.label(1), e.label(2), e.label(4), e.check(0), e.check(1)})
            QVERIFY2(c->width() >= c->sizeHint().width() && c->height() >= c->sizeHint().height(),
                     qPrintable(c->objectName()));
        for (int i : {3, 4, 5}) {
            QVERIFY(e.lineBox(i)->height() >= e.lineBox(i)->sizeHint().height());
            QVERIFY(e.lineBox(i)->geometry().bottom() < e.titleBox()->y());
        }
        QVERIFY(e.label(4)->geometry().right() < e.lineBox(5)->x());

        // No smaller than its first row and the status panels need.
        w.resize(50, 50);
        QTRY_COMPARE(w.size(), w.minimumSize());
        QVERIFY(w.width() >= twipsToPixels(4200) && w.height() >= twipsToPixels(3500));
        QVERIFY(e.calendarButton(1)->geometry().right() < canvas->width());
        for (QLabel* panel : w.statusBar()->findChildren<QLabel*>())
            QVERIFY2(panel->width() >= panel->minimumSizeHint().width(), qPrintable(panel->objectName()));
        w.activateWindow();
        QTRY_COMPARE(e.titleBox()->font().pointSizeF(), 14.0);
        QCOMPARE(e.bodyBox()->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    }

    void aNewNoteTakesTheNextNumberAndStays_data()
    {
        QTest::addColumn<qint64>("largest");
        QTest::newRow("empty file") << qint64(0);
        QTest::newRow("past 32767") << qint64(40000);
    }
    void aNewNoteTakesTheNextNumberAndStays()
    {
        QFETCH(qint64, largest);
        const qint64 expected = largest + 1;
        Env env;
        if (largest)
            env.note(largest, QStringLiteral("他の分類"), 2);
        RecordWindow& w = env.open();
        QVERIFY(w.newRecordMode() && !w.recordChanged()); // the category filled in is no edit
        QCOMPARE(w.editor()->text(3), QStringLiteral("仕事"));

        w.editor()->titleBox()->setFocus();
        QTest::keyClicks(w.editor()->titleBox(), QStringLiteral("memo 1"));
        test::trigger(w, u"mnuUpdate");
        QCOMPARE(env.stored(expected).toString(), QStringLiteral("memo 1"));
        QCOMPARE(env.stored(expected, QStringLiteral("bunID")).toInt(), 1);
        QCOMPARE(env.stored(expected, QStringLiteral("bunrui")).toString(), QStringLiteral("仕事"));
        QCOMPARE(env.stored(expected, QStringLiteral("sinkiDate")).toString(), QStringLiteral("2026-12-06"));
        QCOMPARE(panel(w, 2), QString::number(expected));
        QCOMPARE(panel(w, 1), kSaved);
        QCOMPARE(env.handedBack, QStringList{QStringLiteral("saved ") + QString::number(expected)});
        QVERIFY(!w.newRecordMode() && !w.recordChanged());
        QCOMPARE(w.windowTitle(), QStringLiteral("memo 1  「仕事」 - Zumilo"));

        w.editor()->setText(0, QStringLiteral("直したメモ"));
        test::trigger(w, u"mnuUpdate");
        QCOMPARE(env.noteCount(), largest ? 2 : 1);
        QCOMPARE(env.stored(expected).toString(), QStringLiteral("直したメモ"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void walksInTheListsOrder_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("title") << 0 << 0 << QList<int>{2, 3, 1, 4};
        QTest::newRow("due, descending") << 1 << 1 << QList<int>{1, 4, 2, 3};
        QTest::newRow("updated, descending") << 2 << 1 << QList<int>{4, 1, 2, 3};
        QTest::newRow("number, descending") << 4 << 1 << QList<int>{4, 3, 2, 1};
    }
    void walksInTheListsOrder()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QList<int>, ids);
        Env env;
        env.note(1, QStringLiteral("う"), 1, QStringLiteral("2027-03-01"), QStringLiteral("2026-01-01 10:00:00"));
        env.note(2, QStringLiteral("あ"), 1, QStringLiteral("2027-01-01"), QStringLiteral("2026-01-01 09:00:00"));
        env.note(3, QStringLiteral("い"), 1, {}, QStringLiteral("2025-12-31 23:00:00"));
        env.note(4, QStringLiteral("え"), 1, QStringLiteral("2027-02-01"), QStringLiteral("2026-01-02 08:00:00"));
        env.note(5, QStringLiteral("よそ"), 2);
        env.state->LastSortColumn = column;
        env.state->LastSortOrder = order;
        RecordWindow& w = env.open(QString::number(ids[1]));
        QCOMPARE(panel(w, 1), shell::statusCountText(2, 4));

        test::trigger(w, u"mnuMoveFirst");
        for (int i = 0; i <= 4; ++i) { // one past the last shows the last again
            QCOMPARE(panel(w, 2), QString::number(ids[std::min(i, 3)]));
            QCOMPARE(panel(w, 1), shell::statusCountText(std::min(i, 3) + 1, 4));
            test::trigger(w, u"mnuMoveNext");
        }
        test::trigger(w, u"mnuMoveFirst");
        test::trigger(w, u"mnuMoveMae");
        QCOMPARE(panel(w, 2), QString::number(ids[0]));
    }

    void aCategoryChangeAloneIsNoEdit_data()
    {
        QTest::addColumn<bool>("editedBefore");
        QTest::newRow("category only") << false;
        QTest::newRow("title, then category") << true;
    }
    void aCategoryChangeAloneIsNoEdit()
    {
        QFETCH(bool, editedBefore);
        Env env;
        env.note(5, QStringLiteral("メモ"));
        RecordWindow& w = env.open(QStringLiteral("5"));
        if (editedBefore)
            w.editor()->setText(0, QStringLiteral("変えた題"));

        QTest::mouseClick(w.editor()->categoryButton(), Qt::LeftButton);
        tree::CategoryTree* tree = w.picker()->tree();
        QTreeWidgetItem* home = tree->node(QStringLiteral("2_id"));
        QVERIFY(w.picker()->panel()->isVisible() && home);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(home).center());
        QTest::mouseClick(w.picker()->panel()->findChild<QPushButton*>(QStringLiteral("cmdBunrui(0)")), Qt::LeftButton);
        QCOMPARE(w.editor()->text(3), QStringLiteral("家"));
        QCOMPARE(w.recordChanged(), editedBefore);

        if (editedBefore)
            env.prompts.expectMessage(kSaveQuestion, No, shell::Msg::YesNo);
        QVERIFY(w.close());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored(5, QStringLiteral("bunID")).toInt(), 1);
        QCOMPARE(env.stored(5).toString(), QStringLiteral("メモ"));
    }

    void aMoveEndsThePendingNewNote()
    {
        Env env;
        env.note(1, QStringLiteral("一"));
        env.note(2, QStringLiteral("二"));
        RecordWindow& w = env.open();
        w.editor()->setText(0, QStringLiteral("書きかけ"));
        env.prompts.expectMessage(kSaveQuestion, No);
        test::trigger(w, u"mnuMoveLast");
        QVERIFY(!w.newRecordMode());
        w.editor()->setText(0, QStringLiteral("二の改"));
        test::trigger(w, u"mnuUpdate");
        QCOMPARE(env.stored(2).toString(), QStringLiteral("二の改"));
        QCOMPARE(env.noteCount(), 2);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void anEmptyCategoryIsHarmless()
    {
        Env env;
        env.note(1, QStringLiteral("一"));
        env.state->CurrentBunID = QStringLiteral("2");
        RecordWindow& w = env.open();
        w.editor()->setText(0, QStringLiteral("最初の一件"));
        test::trigger(w, u"mnuMoveNext");
        test::trigger(w, u"mnuMoveFirst");
        w.UpdateFields();
        QVERIFY(w.newRecordMode() && w.recordChanged());
        QCOMPARE(w.editor()->text(0), QStringLiteral("最初の一件"));

        test::trigger(w, u"mnuUpdateAs");
        QCOMPARE(env.stored(2).toString(), QStringLiteral("最初の一件"));
        QCOMPARE(env.stored(2, QStringLiteral("bunID")).toInt(), 2);
        QCOMPARE(panel(w, 2), QStringLiteral("2"));
        QVERIFY(!w.newRecordMode() && !w.recordChanged());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void aNoteDeletedBeforeOpeningIsShownGone()
    {
        Env env;
        env.note(1, QStringLiteral("一"));
        RecordWindow& w = env.open(QStringLiteral("2"));
        QVERIFY(w.noteGone());
        QCOMPARE(panel(w, 1), QStringLiteral("このデータは削除されています"));
        QCOMPARE(panel(w, 2), QString());

        w.editor()->setText(0, QStringLiteral("救う"));
        env.prompts.expectMessage({}, Ok, kExclamation);
        test::trigger(w, u"mnuUpdate");
        QVERIFY(env.prompts.messages().constLast().startsWith(kNotSaved));
        QCOMPARE(env.stored(1).toString(), QStringLiteral("一"));
        QVERIFY(w.recordChanged());

        // What was typed can still go into a note of its own.
        test::trigger(w, u"mnuUpdateAs");
        QCOMPARE(env.stored(2).toString(), QStringLiteral("救う"));
        QCOMPARE(env.stored(2, QStringLiteral("bunID")).toInt(), 1);
        QVERIFY(!w.noteGone() && !w.recordChanged());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void aFailedSaveKeepsTheEdits_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only file") << Failure::ReadOnly << u"読み取り専用"_s;
        QTest::newRow("file busy") << Failure::Busy << u"使用中"_s;
        QTest::newRow("deleted meanwhile") << Failure::Deleted << u"削除されています"_s;
    }
    void aFailedSaveKeepsTheEdits()
    {
        QFETCH(Failure, failure);
        QFETCH(QString, reason);
        Env env;
        env.note(1, QStringLiteral("一"));
        env.note(2, QStringLiteral("二"));
        if (failure == Failure::ReadOnly)
            QFile::setPermissions(env.dbPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        RecordWindow& w = env.open(QStringLiteral("1"));
        w.editor()->setText(0, QStringLiteral("大事な変更"));
        if (failure == Failure::Deleted)
            env.db->execute(QStringLiteral("DELETE FROM T_idea WHERE id=1"));

        env.prompts.expectMessage({}, Ok, kExclamation)
            .expectMessage(kSaveQuestion, Yes)
            .expectMessage({}, Ok, kExclamation)
            .expectMessage(QStringLiteral("変更した内容を保存できませんでした。保存せずに閉じますか？"), No, 308);
        auto saveThenClose = [&] {
            test::trigger(w, u"mnuUpdate");
            w.close();
        };
        if (failure == Failure::Busy) {
            w.windowDatabase()->setBusyTimeout(0);
            env.db->transaction([&] {
                env.db->execute(QStringLiteral("UPDATE T_idea SET yusen='x' WHERE id=2"), QVariantList{});
                saveThenClose();
            });
        } else {
            saveThenClose();
        }
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        const QString shown = env.prompts.messages().constFirst();
        QVERIFY2(shown.startsWith(kNotSaved) && shown.contains(reason), qPrintable(shown));
        QVERIFY(w.isVisible() && w.recordChanged());
        QCOMPARE(w.editor()->text(0), QStringLiteral("大事な変更"));
        QVERIFY(panel(w, 1) != kSaved);
        QCOMPARE(env.stored(2).toString(), QStringLiteral("二"));
        if (failure != Failure::Deleted)
            QCOMPARE(env.stored(1).toString(), QStringLiteral("一"));

        env.prompts.expectMessage(kSaveQuestion, No);
        QVERIFY(w.close());
        QCOMPARE(env.state->SingleWindowCount, 0);
    }

    // A refused field keeps its stored value and what the user typed stays
    // on screen, so closing still asks.
    void refusedFieldsKeepTheirStoredValue()
    {
        Env env;
        env.note(1, QStringLiteral("一"));
        env.db->execute(QStringLiteral("UPDATE T_idea SET kanryoDate='2026-10-01', naiyo='古い本文' WHERE id=1"));
        RecordWindow& w = env.open(QStringLiteral("1"));
        w.editor()->setText(0, QStringLiteral("新しい題"));
        w.editor()->setText(4, QStringLiteral("2026/13/45"));
        w.editor()->setText(1, QStringLiteral("新しい本文"));

        env.prompts.expectMessage({}, Ok, kExclamation);
        test::trigger(w, u"mnuUpdate");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        const QString shown = env.prompts.messages().constLast();
        QVERIFY(shown.contains(QStringLiteral("「完了日」")) && !shown.contains(QStringLiteral("「内容」")));
        QCOMPARE(env.stored(1).toString(), QStringLiteral("新しい題"));
        QCOMPARE(env.stored(1, QStringLiteral("kanryoDate")).toString(), QStringLiteral("2026-10-01"));
        QCOMPARE(env.stored(1, QStringLiteral("naiyo")).toString(), QStringLiteral("新しい本文"));
        QCOMPARE(w.editor()->text(4), QStringLiteral("2026/13/45"));
        QVERIFY(panel(w, 1) != kSaved);
        QVERIFY(w.recordChanged());
        env.prompts.expectMessage(kSaveQuestion, No);
        QVERIFY(w.close());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void windowsOnOneFileTakeTurns()
    {
        Env env;
        env.note(1, QStringLiteral("一"));
        env.note(2, QStringLiteral("二"));
        RecordWindow& a = env.open(QStringLiteral("1"));
        RecordWindow& b = env.open(QStringLiteral("1"));
        auto reader = env.db->openRecordset(QStringLiteral("select * from T_idea"), store::RecordsetType::Dynaset);
        reader->moveLast();

        a.editor()->setText(0, QStringLiteral("Aの題"));
        b.editor()->setText(1, QStringLiteral("Bの本文"));
        test::trigger(a, u"mnuUpdate");
        env.db->execute(QStringLiteral("UPDATE T_idea SET title=? WHERE id=2"), QVariantList{QStringLiteral("外から")});
        test::trigger(b, u"mnuUpdate");
        // B wrote its whole note last; the other note keeps its change.
        QCOMPARE(env.stored(1).toString(), QStringLiteral("一"));
        QCOMPARE(env.stored(1, QStringLiteral("naiyo")).toString(), QStringLiteral("Bの本文"));
        QCOMPARE(env.stored(2).toString(), QStringLiteral("外から"));
        test::trigger(a, u"mnuMoveFirst");
        QCOMPARE(a.editor()->text(1), QStringLiteral("Bの本文"));

        RecordWindow& c = env.open();
        RecordWindow& d = env.open();
        c.editor()->setText(0, QStringLiteral("C"));
        d.editor()->setText(0, QStringLiteral("D"));
        test::trigger(d, u"mnuUpdate");
        test::trigger(c, u"mnuUpdate");
        QCOMPARE(env.stored(3).toString(), QStringLiteral("D"));
        QCOMPARE(env.stored(4).toString(), QStringLiteral("C"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts); // no store error on the way
    }
};

QTEST_MAIN(TestRecordWindow)
#include "tst_recordwindow.moc"

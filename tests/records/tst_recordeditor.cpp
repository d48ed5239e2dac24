// The note editor on a real canvas and status bar, loading from and saving
// into real database files.

#include "support/fixtures.h"

#include "records/recordeditor.h"
#include "shell/clock.h"
#include "store/database.h"
#include "store/recordset.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;
using records::EditorKind;

namespace {

enum class Edit { Type, Set, Click };

const QString kToday = QStringLiteral("2026/12/06");

// Note 2 is complete, 3 is all Null, 4 is done without a completion date.
const char* const kRows[] = {
    "INSERT INTO T_idea(id,title,naiyo,bunID,bunrui,sinkiDate,kousinDate,kousinTime,kanryoCK,kanryoDate,jyuyoCK,"
    "oyaID,kijituDate,kijituTime) VALUES(2,'買い物','牛乳\r\n卵',5,'家事','2026-11-01','2026-12-01','09:15:00',-1,"
    "'2026-12-02',-1,1,'2026-12-24','18:00')",
    "INSERT INTO T_idea(id) VALUES(3)",
    "INSERT INTO T_idea(id,title,kanryoCK,jyuyoCK,sinkiDate) VALUES(4,'済み',-1,0,'2026-10-10')",
};

struct Env : test::EditorApp {
    explicit Env(EditorKind kind = EditorKind::Main) : EditorApp(kind)
    {
        for (const char* sql : kRows)
            db->execute(QString::fromUtf8(sql));
    }
    std::unique_ptr<store::Recordset> row(int id)
    {
        auto rs = db->openRecordset(QStringLiteral("select * from T_idea where id=") + QString::number(id));
        rs->moveFirst();
        return rs;
    }
    records::RecordEditor& load(int id)
    {
        editor->UpdateFields(*row(id));
        return *editor;
    }
    // What a save writes of the editor's note into `rs`.
    QList<records::FieldFailure> write(store::Recordset& rs, bool newCreation = false)
    {
        const shell::Clock& now = state->clock();
        return records::writeFields(rs, editor->snapshot(), now.today().toString(QStringLiteral("yyyy/MM/dd")),
                                    now.timeStamp(), newCreation);
    }
};

void click(QWidget* w)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

} // namespace

Q_DECLARE_METATYPE(EditorKind)
Q_DECLARE_METATYPE(Edit)

class TestRecordEditor : public QObject {
    Q_OBJECT

private slots:
    void showsRow_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("important");
        QTest::addColumn<bool>("done");
        QTest::addColumn<QStringList>("stamps");
        QTest::newRow("complete") << 2 << QStringList{u"買い物"_s,     u"牛乳\n卵"_s,   u"牛乳\n卵"_s, u"家事"_s,
                                                      u"2026/12/02"_s, u"2026/12/24"_s, u"18:00"_s,    u"5"_s}
                                  << true << true
                                  << QStringList{u"2"_s, u"1"_s, u"2026/12/01"_s, u"09:15:00"_s, u"2026/11/01"_s};
        QTest::newRow("all null") << 3 << QStringList(8, QString()) << false << false
                                  << QStringList{u"3"_s, u""_s, u""_s, u""_s, u""_s};
        QTest::newRow("done without date")
            << 4 << QStringList{u"済み"_s, u""_s, u""_s, u""_s, u""_s, u""_s, u""_s, u""_s} << false << true
            << QStringList{u"4"_s, u""_s, u""_s, u""_s, u"2026/10/10"_s};
    }
    void showsRow()
    {
        QFETCH(int, id);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, stamps);
        Env env;
        env.editor->setText(0, QStringLiteral("edited"));
        QPlainTextEdit* body = env.editor->visibleBodyBox();
        QTest::keyClicks(body, QStringLiteral("typed"));
        QSignalSpy changed(env.editor.get(), &records::RecordEditor::changed);
        QSignalSpy undo(env.editor.get(), &records::RecordEditor::undoAvailable);
        auto& ed = env.load(id);
        // The caret starts the note, and what was typed before cannot be undone into it.
        QCOMPARE(body->textCursor().position(), 0);
        QTest::keyClick(body, Qt::Key_Z, Qt::ControlModifier);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(ed.text(i), texts.at(i));
        QTEST(ed.isChecked(0), "important");
        QTEST(ed.isChecked(1), "done");
        for (int p = 2; p <= 6; ++p)
            QCOMPARE(env.panels.text(p), stamps.at(p - 2));
        QVERIFY(!ed.RecordChanged());
        QVERIFY(changed.isEmpty());
        QCOMPARE(undo.last().at(0).toBool(), false);
    }

    void rowlessRecordsetLeavesEditor()
    {
        Env env;
        auto& ed = env.load(2);
        ed.UpdateFields(*env.row(999));
        QCOMPARE(ed.text(0), QStringLiteral("買い物"));
        QCOMPARE(env.panels.text(2), QStringLiteral("2"));
    }

    void fieldsClear_data()
    {
        QTest::addColumn<EditorKind>("kind");
        QTest::addColumn<bool>("notice"); // the main window says where notes are added
        QTest::newRow("main") << EditorKind::Main << true;
        QTest::newRow("single") << EditorKind::Single << false;
        QTest::newRow("grid") << EditorKind::Grid << false;
    }
    void fieldsClear()
    {
        QFETCH(EditorKind, kind);
        QFETCH(bool, notice);
        Env env(kind);
        auto& ed = env.load(2);
        env.panels.setText(1, QStringLiteral("count"));
        QTest::keyClicks(ed.titleBox(), QStringLiteral("x"));
        ed.FieldsClear();
        QCOMPARE(ed.text(0).contains(u"新規データ"), notice);
        QCOMPARE(ed.text(1).contains(u"新規データ"), notice);
        QCOMPARE(ed.text(2), ed.text(1));
        for (int i = 3; i < 8; ++i)
            QVERIFY(ed.text(i).isEmpty());
        QVERIFY(!ed.isChecked(0) && !ed.isChecked(1));
        for (int p = 1; p <= 6; ++p)
            QVERIFY(env.panels.text(p).isEmpty());
        QVERIFY(!ed.RecordChanged());

        // Typing undone in a cleared box is not there to redo after the
        // next clear, even where the box shows the same notice again.
        QTest::keyClicks(ed.titleBox(), QStringLiteral("y"));
        QTest::keySequence(ed.titleBox(), QKeySequence::Undo);
        ed.FieldsClear();
        if (auto* box = qobject_cast<QPlainTextEdit*>(ed.titleBox()))
            QVERIFY(!box->document()->isRedoAvailable());
        if (auto* box = qobject_cast<QLineEdit*>(ed.titleBox()))
            QVERIFY(!box->isRedoAvailable());
    }

    void changeTracking_data()
    {
        QTest::addColumn<EditorKind>("kind");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("box"); // a check box's index for clicks
        QTest::addColumn<bool>("marks");
        QTest::newRow("main title typed") << EditorKind::Main << Edit::Type << 0 << true;
        QTest::newRow("main body typed") << EditorKind::Main << Edit::Type << 1 << true;
        QTest::newRow("main due date typed") << EditorKind::Main << Edit::Type << 5 << true;
        QTest::newRow("main category set") << EditorKind::Main << Edit::Set << 3 << true;
        QTest::newRow("main important clicked") << EditorKind::Main << Edit::Click << 0 << true;
        QTest::newRow("grid category number set") << EditorKind::Grid << Edit::Set << 7 << true;
        QTest::newRow("grid done clicked") << EditorKind::Grid << Edit::Click << 1 << true;
        QTest::newRow("single title typed") << EditorKind::Single << Edit::Type << 0 << true;
        QTest::newRow("single completion date set") << EditorKind::Single << Edit::Set << 4 << true;
        QTest::newRow("single done clicked") << EditorKind::Single << Edit::Click << 1 << true;
        QTest::newRow("single category set") << EditorKind::Single << Edit::Set << 3 << false;
        QTest::newRow("single category number set") << EditorKind::Single << Edit::Set << 7 << false;
    }
    void changeTracking()
    {
        QFETCH(EditorKind, kind);
        QFETCH(Edit, edit);
        QFETCH(int, box);
        QFETCH(bool, marks);
        Env env(kind);
        auto& ed = env.load(2);
        ed.check(0)->setChecked(false); // not a click: no mark
        env.panels.setText(1, QStringLiteral("count"));
        QSignalSpy changed(&ed, &records::RecordEditor::changed);
        QSignalSpy undo(&ed, &records::RecordEditor::undoAvailable);
        if (edit == Edit::Type)
            QTest::keyClicks(ed.textBox(box), QStringLiteral("9"));
        else if (edit == Edit::Set)
            ed.setText(box, QStringLiteral("9"));
        else
            click(ed.check(box));
        QCOMPARE(ed.RecordChanged(), marks);
        QCOMPARE(changed.isEmpty(), !marks);
        if (edit != Edit::Click) {
            QVERIFY(ed.text(box).contains(QLatin1Char('9')));
            QCOMPARE(env.panels.text(1), QString());
            QCOMPARE(undo.last().at(0).toBool(), true);
        }

        ed.UpdateFields(*env.row(2));
        QVERIFY(!ed.RecordChanged());
        QCOMPARE(undo.last().at(0).toBool(), false);
    }

    void completionDateRule()
    {
        Env env;
        auto& ed = env.load(3);
        ed.check(1)->setChecked(true); // not a click: no date
        QVERIFY(ed.text(4).isEmpty());
        ed.check(1)->setChecked(false);

        click(ed.check(1));
        QCOMPARE(ed.text(4), kToday);
        click(ed.check(1));
        QVERIFY(!ed.isChecked(1));
        QCOMPARE(ed.text(4), kToday);
        ed.setText(4, QStringLiteral("2026/11/30"));
        click(ed.check(1));
        QCOMPARE(ed.text(4), QStringLiteral("2026/11/30"));

        ed.UpdateFields(*env.row(4)); // done, no date: loading leaves it empty
        QVERIFY(ed.text(4).isEmpty());
        click(ed.check(0));
        QCOMPARE(ed.text(4), kToday);
    }

    void writeFields_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("newCreation");
        QTest::addColumn<QDate>("created");
        QTest::addColumn<qint64>("parent");
        QTest::newRow("creation date kept") << 2 << false << QDate(2026, 11, 1) << qint64(1);
        QTest::newRow("new creation date") << 2 << true << QDate(2026, 12, 6) << qint64(1);
        QTest::newRow("first save of a null row") << 3 << false << QDate(2026, 12, 6) << qint64(0);
    }
    void writeFields()
    {
        QFETCH(int, id);
        QFETCH(bool, newCreation);
        QFETCH(QDate, created);
        Env env;
        auto rs = env.row(id);
        auto& ed = env.load(id);
        const QString oldBody = rs->text(QStringLiteral("naiyo"));
        ed.setText(0, QStringLiteral("題名"));
        ed.bodyBox()->moveCursor(QTextCursor::End);
        QTest::keyClick(ed.bodyBox(), Qt::Key_Return);
        QTest::keyClicks(ed.bodyBox(), QStringLiteral("end"));
        ed.setText(3, QString());
        ed.setText(4, QStringLiteral("2026/12/05"));
        ed.setText(5, QString());
        ed.setText(7, QString());
        ed.check(0)->setChecked(true);
        ed.check(1)->setChecked(false);

        rs->edit();
        QVERIFY(env.write(*rs, newCreation).isEmpty());
        rs->update();
        QVERIFY(ed.RecordChanged());

        auto again = env.row(id);
        QCOMPARE(again->value(QStringLiteral("title")).toString(), QStringLiteral("題名"));
        QCOMPARE(again->value(QStringLiteral("naiyo")).toString(), oldBody + QStringLiteral("\r\nend"));
        QVERIFY(again->value(QStringLiteral("bunrui")).isNull());
        QVERIFY(again->value(QStringLiteral("bunid")).isNull());
        QVERIFY(again->value(QStringLiteral("kijitudate")).isNull());
        QCOMPARE(again->value(QStringLiteral("kanryodate")).toDate(), QDate(2026, 12, 5));
        QCOMPARE(again->value(QStringLiteral("jyuyoCK")), QVariant(true));
        QCOMPARE(again->value(QStringLiteral("kanryoCK")), QVariant(false));
        QTEST(again->value(QStringLiteral("oyaid")).toLongLong(), "parent");
        QCOMPARE(again->value(QStringLiteral("kousindate")).toDate(), QDate(2026, 12, 6));
        QCOMPARE(again->value(QStringLiteral("kousintime")).toString(), QStringLiteral("10:30:15"));
        QCOMPARE(again->value(QStringLiteral("sinkidate")).toDate(), created);
    }

    void refusedFieldsKeepTheirValues_data()
    {
        QTest::addColumn<QList<int>>("boxes");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("columns");
        QTest::newRow("completion date") << QList<int>{4} << QStringList{u"2026/13/40"_s} << QStringList{u"完了日"_s}
                                         << QStringList{u"kanryodate"_s};
        QTest::newRow("category number") << QList<int>{7} << QStringList{u"abc"_s} << QStringList{u"分類番号"_s}
                                         << QStringList{u"bunid"_s};
        QTest::newRow("time and date") << QList<int>{6, 4} << QStringList{QString(51, QChar(u'9')), u"2026/13/40"_s}
                                       << QStringList{u"完了日"_s, u"期日の時刻"_s}
                                       << QStringList{u"kanryodate"_s, u"kijitutime"_s};
    }
    void refusedFieldsKeepTheirValues()
    {
        QFETCH(QList<int>, boxes);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, columns);
        Env env;
        auto rs = env.row(2);
        auto& ed = env.load(2);
        QVariantList old;
        for (const QString& c : columns)
            old << rs->value(c);
        for (int i = 0; i < boxes.size(); ++i)
            ed.setText(boxes.at(i), texts.at(i));
        ed.setText(5, QStringLiteral("2027/01/15"));

        rs->edit();
        const auto failures = env.write(*rs);
        rs->update();
        QCOMPARE(failures.size(), labels.size());
        for (int i = 0; i < failures.size(); ++i) {
            QCOMPARE(failures.at(i).label, labels.at(i));
            QVERIFY(!failures.at(i).message.isEmpty());
        }
        auto again = env.row(2);
        for (int i = 0; i < columns.size(); ++i)
            QCOMPARE(again->value(columns.at(i)), old.at(i));
        QCOMPARE(again->value(QStringLiteral("kijitudate")).toDate(), QDate(2027, 1, 15));
        QCOMPARE(again->value(QStringLiteral("kousindate")).toDate(), QDate(2026, 12, 6));
    }

    // The title box takes what the file can hold, however the text comes
    // in; a line break is stored as two characters.
    void titleTakesNoMoreThanFits()
    {
        Env env;
        auto& ed = env.load(2);
        QPlainTextEdit* title = ed.titleBox();
        ed.setText(0, QString(248, QChar(u'題')));
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral("xyz"));
        QCOMPARE(ed.text(0), QString(248, QChar(u'題')) + QStringLiteral("xy"));
        title->moveCursor(QTextCursor::Start);
        title->insertPlainText(QStringLiteral("貼"));
        QCOMPARE(ed.text(0).size(), 250);
        ed.setText(0, QStringLiteral("一\n二"));
        title->moveCursor(QTextCursor::End);
        title->insertPlainText(QString(300, QChar(u'長')));
        QCOMPARE(ed.text(0).size(), 249); // 一, CR LF, 二 and 246 more
        QVERIFY(ed.RecordChanged());
    }

    void wrapToggle()
    {
        Env env;
        auto rs = env.row(2);
        auto& ed = env.load(2);
        ed.bodyBox()->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed.bodyBox(), QStringLiteral("?"));

        // What is typed into the wrapping box is what gets saved.
        ed.setWrapped(true);
        ed.wrappedBodyBox()->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed.wrappedBodyBox(), QStringLiteral("!"));
        rs->edit();
        env.write(*rs);
        rs->update();
        QCOMPARE(env.row(2)->value(QStringLiteral("naiyo")).toString(), QStringLiteral("牛乳\r\n卵?!"));
        ed.setWrapped(false);
        QCOMPARE(ed.text(1), QStringLiteral("牛乳\n卵?!"));
    }

    void calendar_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("box");
        QTest::newRow("completion date") << 0 << 4;
        QTest::newRow("due date") << 1 << 5;
    }
    void calendar()
    {
        QFETCH(int, button);
        QFETCH(int, box);
        Env env;
        auto& ed = env.load(3);
        QVERIFY(QTest::qWaitForWindowExposed(&env.canvas));
        ed.calendarButton(0)->setGeometry(300, 100, 20, 20);
        ed.calendarButton(1)->setGeometry(500, 100, 20, 20);
        QToolButton* own = ed.calendarButton(button);
        QCalendarWidget* cal = ed.calendar();

        click(own);
        QVERIFY(cal->isVisible());
        QCOMPARE(cal->y(), own->geometry().bottom() + 1);
        QCOMPARE(cal->geometry().right(), own->geometry().right());
        QCOMPARE(cal->selectedDate(), QDate(2026, 12, 6));
        QCOMPARE(ed.calendarTarget(), button);
        const QPoint at = cal->pos();
        click(ed.calendarButton(1 - button));
        QVERIFY(cal->isHidden());
        QCOMPARE(cal->pos(), at);
        click(own);
        QVERIFY(cal->isVisible());
        click(own);
        QVERIFY(cal->isHidden());

        click(own);
        cal->setSelectedDate(QDate(2026, 12, 20));
        QTest::keyClick(cal->findChild<QTableView*>(), Qt::Key_Return);
        QCOMPARE(ed.text(box), QStringLiteral("2026/12/20"));
        QVERIFY(ed.text(9 - box).isEmpty());
        QVERIFY(cal->isHidden());
        QVERIFY(ed.RecordChanged());
    }

    void doubleClickReportsWord_data()
    {
        QTest::addColumn<int>("box");
        QTest::newRow("title") << 0;
        QTest::newRow("body") << 1;
        QTest::newRow("due date") << 5;
    }
    void doubleClickReportsWord()
    {
        QFETCH(int, box);
        Env env;
        auto& ed = *env.editor;
        QVERIFY(QTest::qWaitForWindowExposed(&env.canvas));
        ed.textBox(box)->setGeometry(10, 10, 400, 120);
        ed.setText(box, QStringLiteral("alpha beta gamma"));
        QSignalSpy words(&ed, &records::RecordEditor::wordDoubleClicked);
        QWidget* target = ed.textBox(box);
        QPoint at;
        if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) {
            QTextCursor c(plain->document());
            c.setPosition(8);
            at = plain->cursorRect(c).center();
            target = plain->viewport();
        } else {
            auto* line = ed.lineBox(box);
            at = QPoint(0, line->height() / 2);
            while (at.x() < line->width() && line->cursorPositionAt(at) < 8)
                at.rx()++;
        }
        QTest::mouseDClick(target, Qt::LeftButton, {}, at);
        QCOMPARE(words.size(), 1);
        QCOMPARE(words.at(0).at(0).toString(), QStringLiteral("beta"));
    }
};

QTEST_MAIN(TestRecordEditor)
#include "tst_recordeditor.moc"

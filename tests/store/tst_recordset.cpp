#include "storefixture.h"

#include "store/jetlike.h"
#include "store/keyreader.h"
#include "store/recordset.h"

#include <algorithm>
#include <limits>
#include <future>
#include <mutex>
#include <numeric>
#include <sqlite3.h>

#include <QFile>

using namespace zumilo::store;
using namespace Qt::StringLiterals;
using zumilo::store::test::NotesFile;

namespace {

QString title(const Recordset& rs)
{
    return rs.value(QStringLiteral("title")).toString();
}

QString note(int n)
{
    return QStringLiteral("note %1").arg(n, 3, 10, QLatin1Char('0'));
}

} // namespace

class TestRecordset : public QObject {
    Q_OBJECT

private slots:
    void navigation_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("moves"); // f first, l last, n next, p previous, digits: absolute position
        QTest::addColumn<int>("position");  // -1 without a current row
        QTest::addColumn<bool>("bof");
        QTest::addColumn<bool>("eof");
        QTest::newRow("empty") << 0 << "" << -1 << true << true;
        QTest::newRow("empty moves") << 0 << "nplf" << -1 << true << true;
        QTest::newRow("one") << 1 << "" << 0 << false << false;
        QTest::newRow("one next") << 1 << "n" << -1 << false << true;
        QTest::newRow("one past end") << 1 << "nnn" << -1 << false << true;
        QTest::newRow("one back from end") << 1 << "nnnp" << 0 << false << false;
        QTest::newRow("one previous") << 1 << "pp" << -1 << true << false;
        QTest::newRow("one back from start") << 1 << "ppn" << 0 << false << false;
        QTest::newRow("many") << 5 << "nn" << 2 << false << false;
        QTest::newRow("many last") << 5 << "l" << 4 << false << false;
        QTest::newRow("many last back") << 5 << "lpp" << 2 << false << false;
        QTest::newRow("many first") << 5 << "lf" << 0 << false << false;
        QTest::newRow("many end") << 5 << "ln" << -1 << false << true;
        QTest::newRow("absolute") << 5 << "3" << 3 << false << false;
        QTest::newRow("absolute beyond") << 5 << "9" << -1 << false << true;
    }
    void navigation()
    {
        QFETCH(int, rows);
        QFETCH(QString, moves);
        QFETCH(int, position);
        NotesFile f(rows);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by title"));
        QCOMPARE(rs->recordCount(), rows);
        for (QChar m : moves) {
            switch (m.toLatin1()) {
            case 'f':
                rs->moveFirst();
                break;
            case 'l':
                rs->moveLast();
                break;
            case 'n':
                rs->moveNext();
                break;
            case 'p':
                rs->movePrevious();
                break;
            default:
                rs->setAbsolutePosition(m.digitValue());
                break;
            }
        }
        QCOMPARE(rs->absolutePosition(), position);
        QTEST(rs->isBOF(), "bof");
        QTEST(rs->isEOF(), "eof");
        QCOMPARE(rs->hasCurrent(), position >= 0);
        if (position >= 0) {
            QCOMPARE(title(*rs), note(position + 1));
            QCOMPARE(rs->bookmark(), Bookmark(position + 1));
        } else {
            STORE_THROWS(rs->value(QStringLiteral("title")), ErrorKind::NoCurrentRecord);
            STORE_THROWS(rs->edit(), ErrorKind::NoCurrentRecord);
            STORE_THROWS(rs->bookmark(), ErrorKind::NoCurrentRecord);
        }
    }

    void sources_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("first"); // first field of the first row
        QTest::addColumn<bool>("updatable");
        const int dflt = int(RecordsetType::Default);
        QTest::newRow("table") << "T_idea" << dflt << 6 << "1" << true;
        QTest::newRow("bracketed table") << "[T_idea]" << int(RecordsetType::Table) << 6 << "1" << true;
        QTest::newRow("order desc") << "select title, id from T_idea order by title desc" << dflt << 6 << note(6)
                                    << true;
        QTest::newRow("where") << "SELECT * FROM [T_idea] WHERE bunid=2 ORDER BY title ;" << dflt << 2 << "2" << true;
        QTest::newRow("keywords in a string")
            << "select * from T_idea where title <> 'x from y order by z' order by title" << dflt << 6 << "1" << true;
        QTest::newRow("alias in order") << "select title as t from T_idea order by t desc" << dflt << 6 << note(6)
                                        << true;
        QTest::newRow("order by number") << "select bunID, title from T_idea order by 2 desc" << dflt << 6 << "0"
                                         << true;
        QTest::newRow("table alias") << "select i.title from T_idea i where i.id > 4" << dflt << 2 << note(5) << true;
        QTest::newRow("snapshot") << "select * from T_idea" << int(RecordsetType::Snapshot) << 6 << "1" << false;
        QTest::newRow("aggregate") << "Select max(ID) as MaxID from T_idea" << dflt << 1 << "6" << false;
        QTest::newRow("count") << "select count(*) as n from T_idea where bunID = 1" << dflt << 1 << "2" << false;
        QTest::newRow("distinct") << "select distinct bunID from T_idea order by bunID" << dflt << 3 << "0" << false;
        QTest::newRow("join") << "select b.bunrui, i.title from T_idea i inner join T_bunrui b on b.bunID = i.bunID "
                                 "order by i.id"
                              << dflt << 2 << "one" << false;
        QTest::newRow("view") << "v_titles" << dflt << 6 << note(1) << false;
        QTest::newRow("with") << "with x as (select title from T_idea where id < 3) select * from x" << dflt << 2
                              << note(1) << false;
    }
    void sources()
    {
        QFETCH(QString, source);
        QFETCH(int, type);
        QFETCH(bool, updatable);
        NotesFile f(6);
        f.db->execute(QStringLiteral("insert into T_bunrui values(1, 'one', 0)"));
        f.db->execute(QStringLiteral("create view v_titles as select title from T_idea order by id"));
        auto rs = f.db->openRecordset(source, RecordsetType(type));
        QTEST(rs->recordCount(), "count");
        QTEST(rs->text(rs->fieldName(0)), "first");
        QCOMPARE(rs->isUpdatable(), updatable);
        if (!updatable) {
            STORE_THROWS(rs->edit(), ErrorKind::NotUpdatable);
            STORE_THROWS(rs->addNew(), ErrorKind::NotUpdatable);
            STORE_THROWS(rs->deleteCurrent(), ErrorKind::NotUpdatable);
        }
    }

    void fields()
    {
        NotesFile f(1);
        f.db->execute(QStringLiteral("update T_idea set kijituDate='2026-12-24', jyuyoCK=-1 where id=1"));
        auto rs = f.db->openRecordset(
            QStringLiteral("select id, Title, kijituDate, jyuyoCK, length(naiyo) as n from T_idea"));
        QCOMPARE(rs->fieldCount(), 5);
        QCOMPARE(rs->fieldName(1), QStringLiteral("title")); // as the table spells it
        QCOMPARE(rs->fieldIndex(QStringLiteral("TITLE")), 1);
        QCOMPARE(rs->fieldIndex(QStringLiteral("[KijituDate]")), 2);
        QCOMPARE(rs->fieldIndex(QStringLiteral("naiyo")), -1);
        QCOMPARE(rs->fieldType(0).kind, ColumnKind::Integer);
        QCOMPARE(rs->fieldType(1).maxLength, 250);
        QCOMPARE(rs->value(QStringLiteral("KIJITUDATE")), QVariant(QDate(2026, 12, 24)));
        QCOMPARE(rs->text(QStringLiteral("kijitudate")), QStringLiteral("2026/12/24"));
        QCOMPARE(rs->value(QStringLiteral("jyuyock")), QVariant(true));
        QCOMPARE(rs->textAt(0, 4), QStringLiteral("6"));
        STORE_THROWS(rs->value(QStringLiteral("nothing")), ErrorKind::UnknownField);
        QCOMPARE(rs->integer(QStringLiteral("ID")), 1);
        STORE_THROWS(rs->integer(QStringLiteral("title")), ErrorKind::TypeMismatch);
        rs->edit();
        STORE_THROWS(rs->setValue(QStringLiteral("n"), 1), ErrorKind::NotUpdatable);
    }

    void findFirst()
    {
        NotesFile f(9);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by title desc"));
        QVERIFY(rs->findFirst(QStringLiteral("bunID= 1")));
        QVERIFY(!rs->noMatch());
        QCOMPARE(title(*rs), note(7)); // 9, 8 come first and are not in category 1
        QCOMPARE(rs->absolutePosition(), 2);
        QVERIFY(rs->findFirst(QStringLiteral("id= 3")));
        QCOMPARE(rs->absolutePosition(), 6);
        QVERIFY(!rs->findFirst(QStringLiteral("id= 57")));
        QVERIFY(rs->noMatch());
        QCOMPARE(rs->absolutePosition(), 6);
        STORE_THROWS(rs->findFirst(QStringLiteral("id = = 1")), ErrorKind::Syntax);
        auto part = f.db->openRecordset(QStringLiteral("select * from T_idea where bunID = 0"));
        QVERIFY(!part->findFirst(QStringLiteral("id= 1"))); // in the table, not in this set
    }

    void addNew()
    {
        NotesFile f(3);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by title"));
        rs->moveNext();
        rs->addNew();
        QCOMPARE(rs->editMode(), EditMode::AddNew);
        QVERIFY(rs->value(QStringLiteral("title")).isNull());
        rs->setValue(QStringLiteral("title"), QStringLiteral("a new one"));
        rs->setText(QStringLiteral("sinkiDate"), QStringLiteral("12/24"));
        rs->setValue(QStringLiteral("kanryoCK"), false);
        QCOMPARE(title(*rs), QStringLiteral("a new one"));
        rs->update();
        QCOMPARE(rs->editMode(), EditMode::None);
        QCOMPARE(title(*rs), note(2)); // the current row stays
        QCOMPARE(rs->recordCount(), 4);
        QCOMPARE(rs->lastModified(), Bookmark(4)); // the counter's next number
        rs->setBookmark(rs->lastModified());
        QCOMPARE(rs->absolutePosition(), 3); // appended, not sorted in
        QCOMPARE(rs->value(QStringLiteral("sinkidate")), QVariant(QDate(2026, 12, 24)));
        QCOMPARE(f.db->scalar(QStringLiteral("select kanryoCK from T_idea where id=4")).toInt(), 0);

        // A row given its own key, added while past the end.
        rs->moveNext();
        QVERIFY(rs->isEOF());
        rs->addNew();
        rs->setValue(QStringLiteral("ID"), 100);
        rs->update();
        QVERIFY(rs->isEOF());
        QCOMPARE(rs->lastModified(), Bookmark(100));
        rs->requery();
        QCOMPARE(rs->recordCount(), 5);
        QCOMPARE(title(*rs), QString()); // Null sorts first
    }

    // A commit that fails (here: another connection still reading) leaves
    // the recordset as it was, and the retry adds the note once.
    void failedCommitLeavesNoRow()
    {
        NotesFile f(21);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by id"));
        auto reader = f.openAgain();
        sqlite3_exec(reader->handle(), "BEGIN; SELECT count(*) FROM T_idea;", nullptr, nullptr, nullptr);
        f.db->setBusyTimeout(10);
        auto save = [&] {
            f.db->transaction([&] {
                if (rs->editMode() != EditMode::AddNew)
                    rs->addNew();
                rs->setValue(QStringLiteral("id"), f.db->scalar(QStringLiteral("select max(id)+1 from T_idea")));
                rs->setText(QStringLiteral("title"), QStringLiteral("new"));
                rs->update();
            });
        };
        STORE_THROWS(save(), ErrorKind::Busy);
        QCOMPARE(rs->recordCount(), 21);
        QCOMPARE(rs->editMode(), EditMode::AddNew);
        QCOMPARE(rs->text(QStringLiteral("title")), QStringLiteral("new"));
        sqlite3_exec(reader->handle(), "COMMIT", nullptr, nullptr, nullptr);
        save();
        QCOMPARE(rs->recordCount(), 22);
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 22);
        rs->moveLast();
        QCOMPARE(rs->text(QStringLiteral("title")), QStringLiteral("new"));
    }

    // Rows read by a statement with bound values, at open and at requery.
    void boundParameters()
    {
        NotesFile f(9);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea where bunID = ? order by id"),
                                      {QStringLiteral("1")});
        QCOMPARE(rs->recordCount(), 3);
        QCOMPARE(rs->columnTexts({QStringLiteral("id")}), (std::vector<QString>{u"1"_s, u"4"_s, u"7"_s}));
        f.db->execute(QStringLiteral("update T_idea set bunID = 1"));
        rs->requery();
        QCOMPARE(rs->recordCount(), 9);
        STORE_THROWS(f.db->openRecordset(QStringLiteral("select * from T_idea where bunID = ?")), ErrorKind::Other);
    }

    void editAndCancel()
    {
        NotesFile f(3);
        auto rs = f.db->openRecordset(QStringLiteral("T_idea"));
        rs->moveNext();
        rs->edit();
        rs->setValue(QStringLiteral("title"), QStringLiteral("draft"));
        QCOMPARE(title(*rs), QStringLiteral("draft"));
        rs->cancelUpdate();
        QCOMPARE(title(*rs), note(2));
        rs->edit();
        rs->setText(QStringLiteral("title"), QStringLiteral("saved"));
        rs->setText(QStringLiteral("bunID"), QString()); // "" stores Null
        rs->update();
        QCOMPARE(rs->lastModified(), Bookmark(2));
        QCOMPARE(f.openAgain()->scalar(QStringLiteral("select title from T_idea where id=2")).toString(),
                 QStringLiteral("saved"));
        QVERIFY(f.db->scalar(QStringLiteral("select bunID from T_idea where id=2")).isNull());
        // A move gives up a pending edit.
        rs->edit();
        rs->setValue(QStringLiteral("title"), QStringLiteral("lost"));
        rs->moveNext();
        QCOMPARE(rs->editMode(), EditMode::None);
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_idea where title='lost'")).toInt(), 0);
        // Changing the key moves the bookmark with the row.
        rs->edit();
        rs->setValue(QStringLiteral("id"), 30);
        rs->update();
        QCOMPARE(rs->bookmark(), Bookmark(30));
        QCOMPARE(title(*rs), note(3));
    }

    void badFieldKeepsTheOthers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("kind");
        QTest::newRow("too long") << "title" << QVariant(QString(251, QChar(0x3042))) << int(ErrorKind::TooLong);
        QTest::newRow("bad date") << "kijituDate" << QVariant(u"2026/2/30"_s) << int(ErrorKind::InvalidDate);
        QTest::newRow("not a number") << "bunID" << QVariant(u"five"_s) << int(ErrorKind::TypeMismatch);
        QTest::newRow("unknown") << "nothing" << QVariant(1) << int(ErrorKind::UnknownField);
    }
    void badFieldKeepsTheOthers()
    {
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(int, kind);
        NotesFile f(1);
        f.db->execute(QStringLiteral("update T_idea set kijituDate='2026-12-01' where id=1"));
        auto rs = f.db->openRecordset(QStringLiteral("T_idea"));
        rs->edit();
        rs->setValue(QStringLiteral("title"), QString(250, QChar(0x3042)));
        const QVariant before = field == QLatin1String("nothing") ? QVariant() : rs->value(field);
        STORE_THROWS(rs->setValue(field, value), ErrorKind(kind));
        if (field != QLatin1String("nothing"))
            QCOMPARE(rs->value(field), before);
        rs->setValue(QStringLiteral("naiyo"), QStringLiteral("kept"));
        rs->update();
        QCOMPARE(f.db->scalar(QStringLiteral("select naiyo from T_idea")).toString(), QStringLiteral("kept"));
        QCOMPARE(f.db->scalar(QStringLiteral("select length(title) from T_idea")).toInt(), 250);
        QCOMPARE(f.db->scalar(QStringLiteral("select kijituDate from T_idea")).toString(),
                 QStringLiteral("2026-12-01"));
    }

    void deletePosition()
    {
        NotesFile f(4);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by title"));
        rs->setAbsolutePosition(1);
        rs->deleteCurrent();
        QCOMPARE(rs->recordCount(), 3);
        QVERIFY(!rs->hasCurrent() && !rs->isBOF() && !rs->isEOF());
        STORE_THROWS(rs->value(QStringLiteral("title")), ErrorKind::NoCurrentRecord);
        rs->moveNext();
        QCOMPARE(title(*rs), note(3));
        rs->deleteCurrent();
        rs->movePrevious();
        QCOMPARE(title(*rs), note(1));
        rs->moveLast();
        rs->deleteCurrent();
        rs->moveNext();
        QVERIFY(rs->isEOF());
        rs->moveFirst();
        rs->deleteCurrent();
        rs->movePrevious();
        QVERIFY(rs->isBOF() && rs->isEOF());
        QCOMPARE(f.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 0);
    }

    void otherKeyTables()
    {
        NotesFile f;
        auto options = f.db->openRecordset(QStringLiteral("T_option"));
        options->addNew();
        options->setValue(QStringLiteral("id"), QStringLiteral("font"));
        options->setValue(QStringLiteral("memo"), QStringLiteral("m"));
        options->update();
        options->requery();
        options->edit();
        options->setValue(QStringLiteral("naiyo"), QStringLiteral("ＭＳ 明朝"));
        options->update();
        QCOMPARE(f.db->scalar(QStringLiteral("select naiyo || [memo] from T_option where ID='font'")).toString(),
                 QStringLiteral("ＭＳ 明朝m"));
        auto categories = f.db->openRecordset(QStringLiteral("T_bunrui"), RecordsetType::Dynaset);
        for (int id : {5, 3}) {
            categories->addNew();
            categories->setValue(QStringLiteral("bunID"), id);
            categories->update();
        }
        STORE_THROWS(categories->addNew(); categories->setValue(QStringLiteral("bunID"), 3);
                     categories->update(), ErrorKind::Constraint);
        QCOMPARE(categories->editMode(), EditMode::AddNew);
        categories->cancelUpdate();
        categories->requery();
        QCOMPARE(categories->value(QStringLiteral("bunid")).toInt(), 3); // in key order
    }

    void deletedByAnotherConnection()
    {
        NotesFile f(3);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by id"));
        rs->moveNext();
        QCOMPARE(title(*rs), note(2));
        rs->edit();
        rs->setValue(QStringLiteral("title"), QStringLiteral("typed"));
        auto other = f.openAgain();
        other->execute(QStringLiteral("delete from T_idea where id=2"));
        STORE_THROWS(rs->update(), ErrorKind::RowDeleted);
        QCOMPARE(rs->editMode(), EditMode::Edit);
        QCOMPARE(title(*rs), QStringLiteral("typed"));
        rs->cancelUpdate();
        QVERIFY(rs->isRowDeleted(1));
        QVERIFY(!rs->hasCurrent());
        QVERIFY(rs->valueAt(1, 1).isNull());
        QCOMPARE(rs->textAt(2, 1), note(3));
        STORE_THROWS(rs->value(QStringLiteral("title")), ErrorKind::RowDeleted);
        STORE_THROWS(rs->edit(), ErrorKind::RowDeleted);
        STORE_THROWS(rs->setBookmark(2), ErrorKind::RowDeleted);
        QCOMPARE(rs->recordCount(), 3);
        rs->requery();
        QCOMPARE(rs->recordCount(), 2);
    }

    void closedDatabase()
    {
        NotesFile f(2);
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea order by title"));
        QCOMPARE(title(*rs), note(1));
        f.db->close();
        rs->moveNext();
        rs->moveLast();
        QCOMPARE(rs->recordCount(), 2);
        STORE_THROWS(rs->value(QStringLiteral("title")), ErrorKind::Other);
        STORE_THROWS(rs->requery(), ErrorKind::Other);
        STORE_THROWS(rs->edit(), ErrorKind::Other);
        QVERIFY(!rs->hasCurrent());
        rs.reset();
    }

    // Titles and names come in the lists' order whatever the statement:
    // case, width and kana do not count, equal keys keep the rows' order,
    // and only text columns are ordered that way.
    void titlesSortAsTheListsDo()
    {
        NotesFile f;
        const QStringList titles = {QStringLiteral("ｶﾞｲﾄﾞ"), QStringLiteral("漢字"),   QStringLiteral("あいう"),
                                    QStringLiteral("Zebra"), QStringLiteral("ガイド"), QStringLiteral("ＡＢＣ"),
                                    QStringLiteral("abd"),   QStringLiteral("アイウ"), QString(),
                                    QStringLiteral("b")};
        for (int i = 0; i < titles.size(); ++i)
            f.db->execute(QStringLiteral("INSERT INTO T_idea(id,title,bunID,oyaID) VALUES(?,?,1,?)"),
                          {i + 1, titles[i].isNull() ? QVariant() : QVariant(titles[i]), 100 - i});
        QList<int> expected(titles.size());
        std::iota(expected.begin(), expected.end(), 1);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int a, int b) { return foldForCompare(titles[a - 1]) < foldForCompare(titles[b - 1]); });
        auto ids = [&](const QString& sql) {
            auto rs = f.db->openRecordset(sql);
            QList<int> got;
            for (; !rs->isEOF(); rs->moveNext())
                got << rs->value(QStringLiteral("id")).toInt();
            return got;
        };
        QCOMPARE(ids(QStringLiteral("select * from T_idea where bunid=1 order by title ")), expected);
        QList<int> descending = expected;
        std::stable_sort(descending.begin(), descending.end(),
                         [&](int a, int b) { return foldForCompare(titles[a - 1]) > foldForCompare(titles[b - 1]); });
        QCOMPARE(ids(QStringLiteral("select  title,id from [T_idea] order by [title] desc ")), descending);
        // Numbers keep their own order.
        QCOMPARE(ids(QStringLiteral("select * from T_idea order by oyaID")).first(), 10);

        // The lists sort their keys themselves; the engine, given the same
        // key function, must agree on random titles, both ways.
        const QStringList pieces = {QStringLiteral("a"),      QStringLiteral("A"),  QStringLiteral("ａ"),
                                    QStringLiteral("Ａ"),     QStringLiteral("あ"), QStringLiteral("ア"),
                                    QStringLiteral("ｱ"),      QStringLiteral("ｶﾞ"), QStringLiteral("ガ"),
                                    QStringLiteral("漢"),     QStringLiteral("😀"),  QStringLiteral("～"),
                                    QStringLiteral("\uFF5E"), QStringLiteral(" "),  QStringLiteral("1"),
                                    QString(1, QChar(0))};
        QRandomGenerator random(zumilo::store::test::randomSeed());
        for (int i = 0; i < 3000; ++i) {
            QString t;
            for (int k = int(random.bounded(12)); k > 0; --k) // long ones differ past their first units
                t += pieces[int(random.bounded(pieces.size()))];
            f.db->execute(QStringLiteral("INSERT INTO T_idea(title, bunID) VALUES(?, 2)"),
                          {i % 97 == 0 ? QVariant() : QVariant(t)});
        }
        for (const QString& direction : {QString(), QStringLiteral(" desc")}) {
            QList<int> engine;
            sqlite3_stmt* st = nullptr;
            const QByteArray sql = QStringLiteral("SELECT rowid FROM T_idea WHERE bunid=2 ORDER BY %1(title)%2, rowid")
                                       .arg(QLatin1String(sortKeyFunction), direction)
                                       .toUtf8();
            QCOMPARE(sqlite3_prepare_v2(f.db->handle(), sql.constData(), -1, &st, nullptr), SQLITE_OK);
            while (sqlite3_step(st) == SQLITE_ROW)
                engine << sqlite3_column_int(st, 0);
            sqlite3_finalize(st);
            QCOMPARE(ids(QStringLiteral("select * from T_idea where bunid=2 order by title") + direction), engine);
        }
    }

    // A set read again after its rows changed, through it, another
    // recordset or another connection, comes in the order a set opened
    // afresh has: titles changed, swapped, emptied, rows added, deleted,
    // renumbered and moved in and out of the category. A large set read
    // between them (sets by title lend each other their buffers) keeps
    // its order too.
    void requeryFollowsChangedTitles()
    {
        NotesFile f;
        auto other = f.openAgain();
        const QStringList pieces = {QStringLiteral("a"),       QStringLiteral("Ａ"),
                                    QStringLiteral("ｶﾞ"),      QStringLiteral("ガ"),
                                    QStringLiteral("漢"),      QStringLiteral("0123456789abcdefgh"),
                                    QString(90, QChar(0x9577))}; // longer than a kept title
        QRandomGenerator random(zumilo::store::test::randomSeed());
        auto randomTitle = [&]() -> QVariant {
            if (random.bounded(20) == 0)
                return {};
            QString t;
            for (int k = int(random.bounded(4)); k > 0; --k)
                t += pieces[int(random.bounded(pieces.size()))];
            return t.left(250); // a title's most
        };
        for (int i = 0; i < 300; ++i)
            f.db->execute(QStringLiteral("INSERT INTO T_idea(title, bunID) VALUES(?, 1)"), {randomTitle()});
        f.db->execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000) "
                                     "INSERT INTO T_idea(title, bunID) SELECT ? || (i * 7919 % 1000), 3 FROM n"),
                      {QString(60, QChar(0x9577))});
        auto ids = [](Recordset& rs) {
            QList<qint64> got;
            for (int row = 0; row < rs.recordCount(); ++row)
                got << rs.bookmarkAt(row);
            return got;
        };
        for (const QString& direction : {QString(), QStringLiteral(" desc")}) {
            const QString sql = QStringLiteral("select * from T_idea where bunid=1 order by title") + direction;
            auto list = f.db->openRecordset(sql);
            const QString largeSql = QStringLiteral("select * from T_idea where bunid=3 order by title") + direction;
            auto large = f.db->openRecordset(largeSql);
            for (int round = 0; round < 12; ++round) {
                const qint64 n = f.db->scalar(QStringLiteral("select max(id) from T_idea")).toLongLong();
                for (int k = int(random.bounded(1, 6)); k > 0; --k) {
                    const qint64 id = 1 + random.bounded(n);
                    auto& db = random.bounded(2) ? *f.db : *other;
                    switch (random.bounded(8)) {
                    case 6: // a run of rows gone from the read, or without titles
                    case 7:
                        db.execute(random.bounded(2)
                                       ? QStringLiteral("DELETE FROM T_idea WHERE id BETWEEN ? AND ?")
                                       : QStringLiteral("UPDATE T_idea SET title = NULL WHERE id BETWEEN ? AND ?"),
                                   {QVariant(id), QVariant(id + 12)});
                        break;
                    case 0:
                        db.execute(QStringLiteral("DELETE FROM T_idea WHERE id = ?"), {QVariant(id)});
                        break;
                    case 1:
                        db.execute(QStringLiteral("INSERT INTO T_idea(title, bunID) VALUES(?, 1)"), {randomTitle()});
                        break;
                    case 2:
                        db.execute(QStringLiteral("UPDATE T_idea SET bunID = 1 - bunID WHERE id = ?"), {QVariant(id)});
                        break;
                    case 3:
                        db.execute(QStringLiteral("UPDATE T_idea SET id = ? WHERE id = ?"),
                                   {QVariant(n + 1000 + 10 * round + k), QVariant(id)});
                        break;
                    default:
                        db.execute(QStringLiteral("UPDATE T_idea SET title = ? WHERE id = ?"),
                                   {randomTitle(), QVariant(id)});
                    }
                }
                if (list->findFirst(QStringLiteral("id <= %1").arg(n / 2))) {
                    list->edit();
                    list->setValue(QStringLiteral("title"), randomTitle());
                    list->update();
                }
                list->requery();
                auto afresh = f.db->openRecordset(sql);
                QCOMPARE(ids(*list), ids(*afresh));
                f.db->execute(QStringLiteral("UPDATE T_idea SET title = ? WHERE id = (SELECT min(id) + ? FROM T_idea "
                                             "WHERE bunID = 3)"),
                              {QString::number(round), QVariant(random.bounded(4000))});
                large->requery();
                QCOMPARE(ids(*large), ids(*f.db->openRecordset(largeSql)));
            }
        }
    }

    void largeKeyset()
    {
        NotesFile f;
        f.db->execute(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
            "INSERT INTO T_idea(title, naiyo, bunID) SELECT printf('t%06d', 100001 - i), hex(randomblob(100)), i % 10 FROM n"));
        auto all = f.db->openRecordset(QStringLiteral("select * from T_idea  order by title "));
        QCOMPARE(all->recordCount(), 100000);
        QCOMPARE(title(*all), QStringLiteral("t000001"));
        QCOMPARE(all->value(QStringLiteral("id")).toInt(), 100000);
        all->moveLast();
        QCOMPARE(title(*all), QStringLiteral("t100000"));
        QVERIFY(all->findFirst(QStringLiteral("id= 50000")));
        QCOMPARE(all->absolutePosition(), 50000);
        auto some = f.db->openRecordset(QStringLiteral("select * from T_idea where bunid=5 order by title"));
        QCOMPARE(some->recordCount(), 10000);
        QCOMPARE(title(*some), QStringLiteral("t000006"));
        for (int row = 0; row < 1000; ++row)
            QCOMPARE(some->textAt(row, 1), QStringLiteral("t%1").arg(row * 10 + 6, 6, 10, QLatin1Char('0')));
        // By number: the titles' index runs the other way, the rows must not.
        f.db->execute(QStringLiteral("INSERT INTO T_idea(id, title, bunID) VALUES(900000000, 'a', 7), (-3, 'b', 5)"));
        const QList<QPair<QString, QList<int>>> orders = {
            {QStringLiteral("select * from T_idea order by id "), {-3, 1, 2}},
            {QStringLiteral("select title, id from [T_idea] where bunid=5 order by [id] asc"), {-3, 5, 15}},
            {QStringLiteral("select * from T_idea order by rowid desc"), {900000000, 100000, 99999}},
        };
        for (const auto& [sql, first] : orders) {
            auto rs = f.db->openRecordset(sql);
            QList<int> got;
            for (int row = 0; row < rs->recordCount(); ++row)
                got << rs->valueAt(row, rs->fieldIndex(QStringLiteral("id"))).toInt();
            QCOMPARE(got.mid(0, 3), first);
            QCOMPARE(got.size(), sql.contains(QLatin1String("bunid=5")) ? 10001 : 100002);
            const bool up = !sql.contains(QLatin1String("desc"));
            QVERIFY2(std::is_sorted(got.begin(), got.end(), [up](int a, int b) { return up ? a < b : a > b; }),
                     qPrintable(sql));
        }
    }

    // A file from elsewhere may number its rows anywhere a row number reaches.
    void rowidsAtEitherEnd()
    {
        NotesFile f(2);
        f.db->execute(QStringLiteral("INSERT INTO T_idea(id, title) VALUES(9223372036854775807, 'z'), "
                                     "(-9223372036854775807 - 1, 'a')"));
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea where title <> '' order by id"));
        QList<Bookmark> got;
        for (int row = 0; row < rs->recordCount(); ++row)
            got << rs->bookmarkAt(row);
        QCOMPARE(got, (QList<Bookmark>{std::numeric_limits<qint64>::min(), 1, 2, std::numeric_limits<qint64>::max()}));
    }

    // The rest of a whole table's keys, read on another thread, arrive
    // before the rows past the first are asked for, or while they are
    // waited for: the same keys either way, and a row deleted meanwhile
    // stays in its place.
    void readAheadInEitherOrder_data()
    {
        QTest::addColumn<bool>("readFirst");
        QTest::newRow("read, then needed") << true;
        QTest::newRow("needed, then read") << false;
    }
    void readAheadInEitherOrder()
    {
        QFETCH(bool, readFirst);
        constexpr int kNotes = 2000;
        NotesFile f(kNotes);
        f.db->setManyRows(500);
        using detail::KeyReadStep;
        std::mutex mutex;
        std::vector<KeyReadStep> steps;
        std::promise<void> read, waiting;
        std::future<void> readDone = read.get_future(), waitStarted = waiting.get_future();
        detail::setKeyReadHook([&](KeyReadStep step) {
            if (step == KeyReadStep::Read && !readFirst)
                waitStarted.wait_for(std::chrono::minutes(1)); // bounded: a failed test must not hang
            {
                std::lock_guard lock(mutex);
                steps.push_back(step);
            }
            (step == KeyReadStep::Read ? read : waiting).set_value();
        });
        const auto unhook = qScopeGuard([] { detail::setKeyReadHook({}); });

        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea"));
        QCOMPARE(rs->recordCount(), kNotes);
        QCOMPARE(rs->bookmarkAt(0), Bookmark(1));
        if (readFirst)
            readDone.wait();
        f.db->execute(QStringLiteral("DELETE FROM T_idea WHERE id = ?"), {QVariant(kNotes)});
        QCOMPARE(rs->bookmarkAt(kNotes - 2), Bookmark(kNotes - 1));
        {
            std::lock_guard lock(mutex);
            QVERIFY(steps
                    == (readFirst ? std::vector{KeyReadStep::Read, KeyReadStep::Wait}
                                  : std::vector{KeyReadStep::Wait, KeyReadStep::Read}));
        }
        QCOMPARE(rs->bookmarkAt(kNotes - 1), Bookmark(kNotes));
        QVERIFY(rs->isRowDeleted(kNotes - 1));
        QCOMPARE(rs->recordCount(), kNotes);
    }

    // A set over a whole table counts its rows and shows the first at once,
    // reading the others meanwhile; writes made before they are read move
    // none of its rows.
    void wholeTableReadAhead()
    {
        constexpr int kNotes = 12000;
        NotesFile f(kNotes);
        auto db = f.openAgain(); // with the search index, which counts the rows
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        db->setManyRows(500);
        auto engine = [&] {
            QList<qint64> got;
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db->handle(), "SELECT rowid FROM T_idea", -1, &st, nullptr);
            while (sqlite3_step(st) == SQLITE_ROW)
                got << sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
            return got;
        };
        auto keys = [](Recordset& rs) {
            QList<qint64> got;
            for (int row = 0; row < rs.recordCount(); ++row)
                got << rs.bookmarkAt(row);
            return got;
        };
        const QString unordered = QStringLiteral("select  title,naiyo,id  from [T_idea] ");
        const QString byId = QStringLiteral("select * from T_idea order by id");

        db->execute(QStringLiteral("DELETE FROM T_idea WHERE id IN (5, 700, 11000)"));
        db->execute(QStringLiteral("INSERT INTO T_idea(title) VALUES(NULL)"));
        QVERIFY(db->searchIndexInStep());
        auto all = db->openRecordset(unordered);
        auto numbered = db->openRecordset(byId);
        QCOMPARE(all->recordCount(), kNotes - 2);
        QCOMPARE(numbered->recordCount(), kNotes - 2);
        QCOMPARE(keys(*all), engine());
        QList<qint64> sorted = engine();
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(keys(*numbered), sorted);
        db->setManyRows(kNotes); // read here, on from the first rows
        QCOMPARE(keys(*db->openRecordset(unordered)), engine());
        db->setManyRows(500);

        // In the order of an index, rows of one day sorted among themselves
        // by their times' sort keys, as the engine sorts the whole table.
        db->execute(
            QStringLiteral("UPDATE T_idea SET kousinDate = printf('2026-11-%02d', id % 29 + 1), kousinTime = "
                           "CASE id % 4 WHEN 0 THEN NULL WHEN 1 THEN 'ａ' || (id % 3) ELSE 'A' || (id % 5) END"));
        db->execute(QStringLiteral("CREATE INDEX ix_recent ON T_idea(kousinDate, kousinTime)"));
        const QString recent = QStringLiteral(
            "select title, id from [T_idea] ORDER BY kousinDate DESC , kousinTime DESC ");
        QList<qint64> byTime;
        {
            auto sortedAll = db->openRecordset(
                QStringLiteral("select id, kousinDate, kousinTime from [T_idea] "
                               "where id > 0 ORDER BY kousinDate DESC , kousinTime DESC "));
            for (int row = 0; row < sortedAll->recordCount(); ++row)
                byTime << sortedAll->bookmarkAt(row);
        }
        QCOMPARE(keys(*db->openRecordset(recent)), byTime);
        db->setManyRows(kNotes);
        QCOMPARE(keys(*db->openRecordset(recent)), byTime);
        db->setManyRows(500);

        // Found through the search index, half of them on another thread.
        for (const char* word : {"1", "note", "x"}) {
            NoteView search;
            search.titleWord = QString::fromLatin1(word);
            search.fields = QStringList{QStringLiteral("id")};
            auto found = db->openView(search);
            QList<qint64> expected;
            for (qint64 id : sorted) {
                if (id <= kNotes && note(int(id)).contains(QLatin1String(word)))
                    expected << id;
            }
            QCOMPARE(keys(*found), expected);
        }

        // Deleted here while the rest is read: the row stays in its place.
        auto before = db->openRecordset(byId);
        db->execute(QStringLiteral("DELETE FROM T_idea WHERE id = ?"), {QVariant(sorted.last())});
        QCOMPARE(keys(*before), sorted);
        QVERIFY(before->isRowDeleted(kNotes - 3));
        before->moveLast();
        QVERIFY(!before->hasCurrent());

        // Deleted by another program: the set keeps its size, the rows gone
        // read as deleted, and none of the others is lost.
        auto seen = db->openRecordset(unordered);
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &other), SQLITE_OK);
        sqlite3_busy_timeout(other, 10000);
        QCOMPARE(sqlite3_exec(other, "DELETE FROM T_idea WHERE id IN (10, 20, 30)", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(other);
        QCOMPARE(seen->recordCount(), kNotes - 3);
        QList<qint64> left;
        for (int row = 0; row < seen->recordCount(); ++row) {
            if (!seen->isRowDeleted(row))
                left << seen->bookmarkAt(row);
        }
        QCOMPARE(left.size(), kNotes - 6);
        std::sort(left.begin(), left.end());
        QList<qint64> remaining = engine();
        std::sort(remaining.begin(), remaining.end());
        QCOMPARE(left, remaining);
        QVERIFY(!db->searchIndexInStep());
        QCOMPARE(db->openRecordset(byId)->recordCount(), kNotes - 6);

        auto closing = db->openRecordset(unordered);
        db->close();
        QCOMPARE(closing->recordCount(), kNotes - 6);
        closing->setAbsolutePosition(kNotes - 7);
        STORE_THROWS(title(*closing), ErrorKind::Other);
    }
};

QTEST_GUILESS_MAIN(TestRecordset)
#include "tst_recordset.moc"

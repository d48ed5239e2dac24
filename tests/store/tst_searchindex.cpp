#include "storefixture.h"

#include "store/backup.h"
#include "store/indexbuild.h"
#include "store/jetsql.h"
#include "store/recordset.h"

#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <sqlite3.h>
#include <thread>

using namespace zumilo::store;
using namespace Qt::StringLiterals;
using zumilo::store::test::NotesFile;
using zumilo::store::test::found;
using zumilo::store::test::Conditions;
using zumilo::store::test::like;

namespace {

using zumilo::store::test::Random;
using zumilo::store::test::compareWithScanning;
using zumilo::store::test::fillRandomly;

// A closed file of kBuildNotes random notes whose index must be built
// afresh: its log is no longer whole.
constexpr int kBuildNotes = 3000;
void needingABuild(NotesFile& f, Random& r)
{
    fillRandomly(f, r, kBuildNotes);
    zumilo::store::test::tool(f.path, "DROP TRIGGER zumilo_log_t_idea_delete;");
}
// The same of `notes` notes with random titles and the bodies `body` gives.
void needingABuild(NotesFile& f, Random& r, int notes, const std::function<QVariant(int note)>& body)
{
    f.db->transaction([&] {
        for (int i = 0; i < notes; ++i)
            f.db->execute(u"INSERT INTO T_idea(title, naiyo) VALUES(?, ?)"_s, {r.text(), body(i)});
    });
    f.openAgain()->close();
    f.db.reset();
    zumilo::store::test::tool(f.path, "DROP TRIGGER zumilo_log_t_idea_delete;");
}

} // namespace

class TestSearchIndex : public QObject {
    Q_OBJECT

private slots:
    // Searches through the index find exactly what reading every row finds,
    // while two connections change the notes.
    void sameAsScanning()
    {
        NotesFile f;
        Random r;
        f.db->transaction([&] {
            for (int i = 0; i < 150; ++i)
                f.db->execute(QStringLiteral("INSERT INTO T_idea(title, naiyo, bunrui, jyuyoCK) VALUES(?, ?, ?, ?)"),
                              {r.text(), r.text(), r.text(), i % 2 ? -1 : 0});
            for (int i = 0; i < 40; ++i)
                f.db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID, bunrui) VALUES(?, ?)"), {i, r.text()});
        });
        auto a = f.openAgain();
        auto b = f.openAgain();
        for (int round = 0; round < 6; ++round) {
            Database& db = round % 2 ? *a : *b;
            QVERIFY(db.searchIndexInStep());
            for (int i = 0; i < 40; ++i) {
                const QString p = r.pattern(), q = r.pattern();
                const Conditions searches[] = {{like(u"title"_s, p)},
                                               {like(u"naiyo"_s, p), like(u"bunrui"_s, q)},
                                               {{u"jyuyoCK = -1"_s, {}, {}}, like(u"naiyo"_s, p)}};
                for (const Conditions& where : searches)
                    QCOMPARE(found(db, where), found(db, where, true));
                const Conditions names{like(QStringLiteral("bunrui"), p)};
                QCOMPARE(found(db, names, false, u"T_bunrui"_s), found(db, names, true, u"T_bunrui"_s));
            }
            // The other connection writes as the windows do.
            Database& other = round % 2 ? *b : *a;
            auto rs = other.openRecordset(QStringLiteral("select * from T_idea"));
            for (int i = 0; i < 10; ++i) {
                rs->setAbsolutePosition(r.below(rs->recordCount()));
                rs->edit();
                rs->setValue(QStringLiteral("naiyo"), r.text());
                rs->setValue(QStringLiteral("title"), r.text());
                rs->update();
            }
            rs->addNew();
            rs->setValue(QStringLiteral("naiyo"), r.text());
            rs->update();
            rs->setAbsolutePosition(r.below(rs->recordCount()));
            rs->deleteCurrent();
            other.execute(QStringLiteral("UPDATE T_idea SET bunrui = ? WHERE rowid % 7 = ?"), {r.text(), round});
            other.execute(QStringLiteral("UPDATE T_bunrui SET bunrui = ? WHERE bunID = ?"), {r.text(), round});
        }
    }

    // Another program without the index's functions changes the notes: the
    // file stays an ordinary one it can write, and no search goes stale.
    void changedByAnotherProgram()
    {
        NotesFile f(3);
        auto db = f.openAgain();
        const Conditions where{detail::contains(QStringLiteral("naiyo"), QStringLiteral("ｶﾞ"))};
        QCOMPARE(found(*db, where), QVariantList());

        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &other), SQLITE_OK);
        for (const char* sql :
             {"INSERT INTO T_idea(title, naiyo) VALUES('x', 'ガ')", "UPDATE T_idea SET naiyo = 'が' WHERE id = 1",
              "DELETE FROM T_idea WHERE id = 2", "VACUUM"})
            QVERIFY2(sqlite3_exec(other, sql, nullptr, nullptr, nullptr) == SQLITE_OK, sqlite3_errmsg(other));
        sqlite3_close(other);

        QVERIFY(!db->searchIndexInStep());
        QCOMPARE(found(*db, where), (QVariantList{1, 4}));
        db->execute(QStringLiteral("UPDATE T_idea SET naiyo = 'ｶﾞｶﾞ' WHERE id = 3")); // keeps it out of step
        QCOMPARE(found(*db, where), (QVariantList{1, 3, 4}));

        qint64 done = -1, total = -1;
        auto again = Database::open(f.path, [&](qint64 d, qint64 t) { done = d, total = t; });
        QCOMPARE(done, total);
        QVERIFY(again->searchIndexInStep());
        QVERIFY(db->searchIndexInStep());
        QCOMPARE(found(*again, where), (QVariantList{1, 3, 4}));
    }

    // The real sqlite3 program changes a closed file: the next open indexes the
    // notes it changed, as logged by the file's own triggers, rather than
    // every note, unless the log cannot be trusted.
    void changedByTheSqliteTool_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("one body") << "UPDATE T_idea SET naiyo = 'ガ会議' WHERE id = 7;" << false;
        QTest::newRow("inserted, updated, deleted")
            << "INSERT INTO T_idea(title, naiyo) VALUES('ｶﾞ', '会議'); UPDATE T_idea SET title = naiyo, naiyo = "
               "title WHERE id % 10 = 3; DELETE FROM T_idea WHERE id % 10 = 5;"
            << false;
        QTest::newRow("changed again and again")
            << "UPDATE T_idea SET naiyo = 'x' WHERE id = 5; UPDATE T_idea SET naiyo = 'ｶﾞ' WHERE id = 5; DELETE FROM "
               "T_idea WHERE id = 5; INSERT INTO T_idea(id, naiyo) VALUES(5, 'が'); INSERT INTO T_idea(naiyo) "
               "VALUES('a'); DELETE FROM T_idea WHERE naiyo = 'a';"
            << false;
        QTest::newRow("replaced and renumbered")
            << "INSERT OR REPLACE INTO T_idea(id, title, naiyo) VALUES(3, 'あ', 'い'); REPLACE INTO T_idea(id, "
               "bunrui) VALUES(9, 'ア'); UPDATE OR REPLACE T_idea SET id = 4 WHERE id = 6; UPDATE T_idea SET id = "
               "1000 WHERE id = 8;"
            << false;
        QTest::newRow("category renamed")
            << "UPDATE T_bunrui SET bunrui = 'ｶﾞ会' WHERE bunID = 3; UPDATE T_idea SET bunrui = 'ｶﾞ会' WHERE id % 3 = 0;"
            << false;
        QTest::newRow("vacuumed")
            << "DELETE FROM T_bunrui WHERE bunID % 2 = 0; DELETE FROM T_idea WHERE id < 50; VACUUM;" << false;
        QTest::newRow("NUL characters, huge values, categories") << QString::fromUtf8(test::kToolChanges) << false;
        QTest::newRow("log trigger dropped")
            << "DROP TRIGGER zumilo_log_t_idea_delete; DELETE FROM T_idea WHERE id < 20;" << true;
        QTest::newRow("log trigger changed")
            << "DROP TRIGGER zumilo_log_t_idea_naiyo_update; CREATE TRIGGER zumilo_log_t_idea_naiyo_update AFTER "
               "UPDATE ON T_idea BEGIN SELECT 1; END; UPDATE T_idea SET naiyo = 'が' WHERE id = 2;"
            << true;
        QTest::newRow("log names an unknown column")
            << "UPDATE T_idea SET naiyo = 'が' WHERE id = 2; INSERT INTO zumilo_index_changes VALUES(9, 1, 0, NULL);"
            << true;
        QTest::newRow("log names a column by a fraction")
            << "UPDATE T_idea SET naiyo = 'が' WHERE id = 2; INSERT INTO zumilo_index_changes VALUES(0.5, 1, 0, NULL);"
            << true;
        QTest::newRow("log names a column by text")
            << "UPDATE T_idea SET naiyo = 'が' WHERE id = 2; INSERT INTO zumilo_index_changes VALUES('x', 1, 0, NULL);"
            << true;
    }
    void changedByTheSqliteTool()
    {
        QFETCH(QString, script);
        QFETCH(bool, rebuilt);
        constexpr int notes = 200;
        NotesFile f;
        Random r;
        fillRandomly(f, r, notes);
        zumilo::store::test::tool(f.path, script.toUtf8());
        if (QTest::currentTestFailed())
            return;

        qint64 total = -1;
        auto db = Database::open(f.path, [&](qint64, qint64 t) { total = t; });
        QCOMPARE(total < 0, rebuilt); // a build afresh tells nothing, a catch-up does
        compareWithScanning(*db, r);
        test::searchesMatchTheRows(*db);
    }

    // A catch-up stopped halfway leaves the file as it was: the next open
    // catches up again.
    void catchUpInterrupted()
    {
        NotesFile f;
        Random r;
        fillRandomly(f, r, 1200);
        zumilo::store::test::tool(f.path, "UPDATE T_idea SET naiyo = title || 'ｶﾞ' WHERE id % 2 = 0;");
        if (QTest::currentTestFailed())
            return;

        auto stopped = Database::open(f.path, [&](qint64 done, qint64) {
            if (done > 0)
                throw StoreError(ErrorKind::Other, QStringLiteral("stopped"));
        });
        QVERIFY(!stopped->searchIndexInStep());
        stopped->close();
        qint64 total = -1;
        auto db = Database::open(f.path, [&](qint64, qint64 t) { total = t; });
        QVERIFY(total > 0 && total < 1200);
        compareWithScanning(*db, r);
    }

    // The grid's important and due notes come from indexes of their own,
    // which a file without them gets with its search index, and in the
    // order of their numbers, as reading every note gives them.
    void viewIndexes()
    {
        NotesFile f;
        Random r;
        QVariantList important, due;
        f.db->transaction([&] {
            for (int id = 1; id <= 300; ++id) {
                const bool isImportant = r.below(4) == 0, done = r.below(3) == 0;
                const QVariant date = r.below(3) ? QVariant()
                                                 : QVariant(QStringLiteral("2026-12-%1").arg(1 + r.below(28)));
                f.db->execute(QStringLiteral(
                                  "INSERT INTO T_idea(id, jyuyoCK, kanryoCK, kijituDate) VALUES(?, ?, ?, ?)"),
                              {id, isImportant ? -1 : 0, done ? -1 : 0, date});
                if (isImportant)
                    important << id;
                if (!done && !date.isNull())
                    due << id;
            }
        });
        f.db = f.openAgain(); // indexed
        sqlite3* plain = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &plain), SQLITE_OK);
        const std::pair<NoteView::Notes, QVariantList> views[] = {{NoteView::Notes::Important, important},
                                                                  {NoteView::Notes::Scheduled, due}};
        for (const auto& [notes, expected] : views) {
            NoteView view;
            view.notes = notes;
            view.fields = QStringList{QStringLiteral("title"), QStringLiteral("id")};
            auto rs = f.db->openView(view);
            const QString where = detail::query(view).where();
            QVariantList ids;
            for (; !rs->isEOF(); rs->moveNext())
                ids << rs->bookmark();
            QCOMPARE(ids, expected);
            sqlite3_stmt* plan = nullptr;
            const QByteArray sql = "EXPLAIN QUERY PLAN SELECT rowid FROM T_idea WHERE " + where.toUtf8();
            QCOMPARE(sqlite3_prepare_v2(plain, sql.constData(), -1, &plan, nullptr), SQLITE_OK);
            QCOMPARE(sqlite3_step(plan), SQLITE_ROW);
            const QString detail = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(plan, 3)));
            sqlite3_finalize(plan);
            QVERIFY2(detail.contains(QLatin1String("USING COVERING INDEX ix_idea_")), qPrintable(detail));
        }
        sqlite3_close(plain);
    }

    // U+0000 is a character like any other: written by the program or by
    // another one (and then indexed by the rebuild), it leaves the index
    // sound, later saves work, and every search still finds what reading
    // every row finds.
    void nulCharacters_data()
    {
        QTest::addColumn<bool>("byAnotherProgram");
        QTest::newRow("saved by the program") << false;
        QTest::newRow("written by another program") << true;
    }
    void nulCharacters()
    {
        QFETCH(bool, byAnotherProgram);
        NotesFile f;
        Random r;
        f.db->transaction([&] {
            for (int i = 0; i < 300; ++i)
                f.db->execute(QStringLiteral("INSERT INTO T_idea(title, naiyo) VALUES(?, ?)"), {r.text(), r.text()});
        });
        f.db = f.openAgain(); // indexed
        const QString nul = QStringLiteral("会") + QChar(0) + QStringLiteral("議") + QChar(0) + QChar(0)
                            + QStringLiteral("ｶﾞa");
        if (byAnotherProgram) {
            sqlite3* other = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &other), SQLITE_OK);
            QVERIFY(sqlite3_exec(other,
                                 "UPDATE T_idea SET naiyo = CAST(X'E4BC9A00E8ADB0' AS TEXT) || naiyo WHERE id % 5 = 0",
                                 nullptr, nullptr, nullptr)
                    == SQLITE_OK);
            sqlite3_close(other);
            f.db = f.openAgain();
        } else {
            f.db->transaction([&] {
                for (int id = 5; id <= 300; id += 5)
                    f.db->execute(QStringLiteral("UPDATE T_idea SET naiyo = ? || naiyo, title = ? WHERE id = ?"),
                                  {nul, nul, id});
            });
        }
        QVERIFY(f.db->searchIndexInStep());
        auto rs = f.db->openRecordset(QStringLiteral("select * from T_idea"));
        for (int i = 0; i < 40; ++i) {
            rs->setAbsolutePosition(r.below(rs->recordCount()));
            rs->edit();
            rs->setValue(QStringLiteral("naiyo"), r.pieces(6) + (i % 2 ? nul : QString()));
            rs->update();
        }
        QCOMPARE(f.db->scalar(
                     QStringLiteral("INSERT INTO zumilo_idea_naiyo(zumilo_idea_naiyo) VALUES('integrity-check')")),
                 QVariant());
        for (const QString& word : QStringList{u"会"_s, u"議"_s, u"会議"_s, u"ｶﾞ"_s, u"a"_s})
            for (const char* column : {"title", "naiyo"}) {
                const Conditions where{detail::contains(QString::fromLatin1(column), word)};
                QCOMPARE(found(*f.db, where), found(*f.db, where, true));
            }
        QVERIFY(f.db->searchIndexInStep());
    }

    // Bytes of the index's own data overwritten, the notes untouched and
    // the index still stamped in step: the thorough check finds it (and
    // writes nothing), a rebuild repairs it. Damage below, in the pages,
    // makes the file damaged and never written.
    void damagedIndex()
    {
        NotesFile f(400);
        f.db->execute(QStringLiteral("UPDATE T_idea SET naiyo = '会議の記録 ' || id || ' ' || hex(id * 7919)"));
        f.db->close();
        f.openAgain()->close(); // indexed
        auto fileBytes = [&] {
            QFile file(f.path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray sound = fileBytes();
        QCOMPARE(Database::checkThoroughly(f.path), Database::Health::Sound);
        QCOMPARE(fileBytes(), sound);

        QVERIFY(zumilo::store::test::damageSearchIndex(f.path));

        auto db = f.openAgain();
        QVERIFY(db->searchIndexInStep());
        const QByteArray damaged = fileBytes();
        QCOMPARE(Database::checkThoroughly(f.path), Database::Health::IndexDamaged);
        QCOMPARE(fileBytes(), damaged);
        // The rebuild leaves the connection's way of freeing pages as it was.
        db->scalar(QStringLiteral("PRAGMA secure_delete = FAST"));
        db->rebuildSearchIndex();
        QCOMPARE(db->scalar(QStringLiteral("PRAGMA secure_delete")).toInt(), 2);
        QCOMPARE(Database::checkThoroughly(f.path), Database::Health::Sound);
        for (const QString& word : QStringList{u"会"_s, u"会議"_s, u"記録 1"_s, u"A"_s}) {
            const Conditions where{detail::contains(QStringLiteral("naiyo"), word)};
            QCOMPARE(found(*db, where), found(*db, where, true));
        }
        QVERIFY(db->searchIndexInStep());
        db->close();

        // The pages of the index's data themselves: the first of its table.
        const auto root = zumilo::store::test::rootPage(f.path, "zumilo_idea_naiyo_blocks");
        QVERIFY(root.page > 1 && root.size > 0);
        QByteArray bytes = fileBytes();
        bytes.replace(root.offset(), 8, QByteArray(8, '\x0d'));
        QFile file(f.path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QCOMPARE(Database::checkThoroughly(f.path), Database::Health::Damaged);
        STORE_THROWS(Database::open(f.path), ErrorKind::Damaged);
    }

    // Saves keep their changes beside the index's blocks; past a hundred,
    // the next open writes them into the blocks in the background, and
    // searches find the same rows before and after.
    void keptChangesMergedAtTheNextOpen()
    {
        NotesFile f;
        Random r;
        fillRandomly(f, r, 300);
        // The session's own merge ends as a program killed in its slice.
        detail::setIndexBuildSlice(0, [](qint64) { throw StoreError(ErrorKind::Other, u"killed"_s); });
        const auto restore = qScopeGuard([] { detail::setIndexBuildSlice(0); });
        auto db = f.openAgain();
        db->execute(QStringLiteral("UPDATE T_idea SET naiyo = naiyo || ' 会議' WHERE id % 2 = 0"));
        const QString kept = u"select count(*) from zumilo_idea_naiyo_kept"_s;
        QTRY_VERIFY(!detail::indexBuildBusy(QFileInfo(f.path).canonicalFilePath()));
        QVERIFY(db->scalar(kept).toInt() >= 100);
        compareWithScanning(*db, r);
        db->close();
        detail::setIndexBuildSlice(0);
        db = f.openAgain();
        QTRY_COMPARE_WITH_TIMEOUT(db->scalar(kept).toInt(), 0, 60000);
        QVERIFY(db->searchIndexInStep());
        compareWithScanning(*db, r);
    }

    // Saves one by one in a long session get their kept changes merged in
    // the background once there are as many as an open merges, a deleted
    // note's text with them; searches find what reading the rows finds
    // before, meanwhile and after.
    void keptChangesMergedDuringTheSession()
    {
        NotesFile f;
        Random r;
        fillRandomly(f, r, 300);
        auto db = f.openAgain();
        const QVariant id = db->scalar(u"select max(id) from T_idea where length(naiyo) > 0"_s);
        const QVariant gone = db->scalar(u"select naiyo from T_idea where id = ?"_s, {id});
        db->execute(u"DELETE FROM T_idea WHERE id = ?"_s, {id});
        const QString held = u"select held from zumilo_idea_naiyo_kept where row = ?"_s;
        QCOMPARE(db->scalar(held, {id}), gone);
        compareWithScanning(*db, r);
        for (int note = 1; note <= 130; ++note) {
            db->execute(u"UPDATE T_idea SET naiyo = ? WHERE id = ?"_s, {r.pieces(12) + u"会議"_s, note});
            if (note == 110)
                compareWithScanning(*db, r);
        }
        QTRY_VERIFY_WITH_TIMEOUT(db->scalar(held, {id}).isNull(), 60000);
        QVERIFY(db->scalar(u"select count(*) from zumilo_idea_naiyo_kept"_s).toInt() < 100);
        compareWithScanning(*db, r);
    }

    // A merge that fails on damaged blocks is left for the next open and
    // its check: the saves that follow start no other.
    void failedMergeNotStartedAgain()
    {
        NotesFile f(300);
        f.db->close();
        f.openAgain()->close(); // indexed
        QVERIFY(zumilo::store::test::damageSearchIndex(f.path, true));
        static std::atomic<int> failures;
        failures = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) {
                if (message.startsWith(QLatin1String("search index of")))
                    ++failures;
            });
        const auto restore = qScopeGuard([&] { qInstallMessageHandler(previous); });
        auto db = f.openAgain();
        const QString canonical = QFileInfo(f.path).canonicalFilePath();
        for (int note = 1; note <= 250; ++note) {
            db->execute(u"UPDATE T_idea SET naiyo = ? WHERE id = ?"_s, {u"会議 %1"_s.arg(note), note});
            if (failures > 0)
                QTRY_VERIFY(!detail::indexBuildBusy(canonical));
        }
        QTRY_VERIFY(!detail::indexBuildBusy(canonical));
        QCOMPARE(failures.load(), 1);
        QVERIFY(db->scalar(u"select count(*) from zumilo_idea_naiyo_kept"_s).toInt() >= 250);
    }

    // A backup holds the notes, categories and options without the search
    // index: the file restored from it builds its index once, and every
    // search then finds what reading the rows finds.
    void restoredFromANotesOnlyBackup()
    {
        Random r;
        NotesFile f;
        fillRandomly(f, r, 400);
        auto everything = [](Database& db) {
            return db.scalar(QStringLiteral(
                "select (select group_concat(quote(id)||quote(title)||quote(naiyo)||quote(bunrui), ',') from T_idea)"
                "||'#'||(select group_concat(quote(bunID)||quote(bunrui)||quote(oyabunID), ',') from T_bunrui)"
                "||'#'||(select group_concat(quote(ID)||quote(naiyo)||quote([memo]), ',') from T_option)"));
        };
        f.openAgain()->execute(QStringLiteral("INSERT INTO T_option VALUES('色', '青', 'メモ')"));
        QTemporaryDir backups;
        setBackupFolder(backups.path());
        QVariant before;
        {
            auto db = f.openAgain();
            before = everything(*db);
            db->execute(
                QStringLiteral("UPDATE T_idea SET title = 'あと' WHERE rowid = (SELECT min(rowid) FROM T_idea)"));
        }
        finishBackups();
        const auto list = listBackups(f.path);
        QCOMPARE(int(list.size()), 1);
        QVERIFY(list[0].size < QFileInfo(f.path).size());
        QCOMPARE(Database::open(list[0].path)
                     ->scalar(QStringLiteral("select count(*) from sqlite_master where name like 'zumilo%'")),
                 QVariant(0));

        restoreBackup(list[0], f.path);
        int reports = 0;
        const auto progress = [&](qint64, qint64) { ++reports; };
        {
            auto db = Database::open(f.path, progress);
            QTRY_VERIFY(!db->searchIndexBuilding()); // built once
            QCOMPARE(everything(*db), before);
            compareWithScanning(*db, r);
        }
        reports = 0;
        auto again = Database::open(f.path, progress);
        QVERIFY(!again->searchIndexBuilding());
        QVERIFY(again->searchIndexInStep());
        QCOMPARE(reports, 0);
        again->close();
        stopBackups();
        setBackupFolder({});
    }

    // An index of another layout (here without positions) is built once
    // more in this one, and then only caught up.
    void olderLayoutBuiltAgain()
    {
        NotesFile f;
        Random r;
        fillRandomly(f, r, 300);
        {
            auto db = f.openAgain();
            sqlite3* h = db->handle();
            for (const char* sql : {"DROP TABLE zumilo_idea_naiyo",
                                    "CREATE VIRTUAL TABLE zumilo_idea_naiyo USING fts5(naiyo, content='', "
                                    "tokenize='zumilo_fold', detail=none, columnsize=0)",
                                    "INSERT INTO zumilo_idea_naiyo(rowid, naiyo) SELECT rowid, naiyo FROM T_idea",
                                    "UPDATE zumilo_index_state SET version = '2' || substr(version, 2)"})
                QVERIFY2(sqlite3_exec(h, sql, nullptr, nullptr, nullptr) == SQLITE_OK, sqlite3_errmsg(h));
        }
        auto layout = [&](Database& db) {
            return db.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'zumilo_idea_naiyo'"))
                .toString();
        };
        auto db = f.openAgain();
        QVERIFY(layout(*db).contains(QLatin1String("zumilo_postings")));
        compareWithScanning(*db, r);
        db->execute(QStringLiteral("UPDATE T_idea SET naiyo = 'ｶﾞ会議' WHERE id % 9 = 0"));
        db->close();
        qint64 total = -1;
        db = Database::open(f.path, [&](qint64, qint64 t) { total = t; });
        QCOMPARE(total, qint64(-1)); // in step: nothing to catch up
        compareWithScanning(*db, r);
    }

    // A file whose index must be built afresh is built in the background a
    // slice at a time: searches meanwhile read every row, saves go on, and
    // every search then finds what reading every row finds.
    void builtInTheBackground()
    {
        NotesFile f;
        Random r;
        needingABuild(f, r);
        std::atomic<int> slices{0};
        detail::setIndexBuildSlice(40, [&](qint64) { ++slices; });
        const auto restore = qScopeGuard([] { detail::setIndexBuildSlice(0); });

        auto db = f.openAgain();
        QVERIFY(db->searchIndexBuilding());
        QVERIFY(!db->searchIndexInStep());
        QTRY_VERIFY(slices >= 3);
        // Notes already indexed, not yet indexed, new and deleted.
        db->transaction([&] {
            for (int id : {1, 2, 5, kBuildNotes / 2, kBuildNotes - 1, kBuildNotes})
                db->execute(QStringLiteral("UPDATE T_idea SET naiyo = ?, title = ? WHERE id = ?"),
                            {r.text(), r.text(), id});
            db->execute(QStringLiteral("DELETE FROM T_idea WHERE id IN (3, ?)"), QVariantList{kBuildNotes - 2});
            db->execute(QStringLiteral("INSERT INTO T_idea(title, naiyo) VALUES(?, ?)"), {r.text(), r.text()});
            db->execute(QStringLiteral("UPDATE T_bunrui SET bunrui = ? WHERE bunID = 4"), {r.text()});
        });
        for (int i = 0; i < 10; ++i) {
            const Conditions where{like(QStringLiteral("naiyo"), r.pattern())};
            QCOMPARE(found(*db, where), found(*db, where, true));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        compareWithScanning(*db, r);
        // Its kept changes are then written into the blocks, a slice at a
        // time, and it stays in step meanwhile.
        const QString merging = u"select count(*) from sqlite_master where name = 'zumilo_index_merge'"_s;
        QTRY_COMPARE_WITH_TIMEOUT(db->scalar(merging).toInt(), 0, 60000);
        for (const char* index : {"zumilo_idea_title", "zumilo_idea_naiyo", "zumilo_idea_bunrui"})
            QCOMPARE(db->scalar(u"select count(*) from %1_kept"_s.arg(QLatin1String(index))).toInt(), 0);
        auto other = f.openAgain();
        QVERIFY(!other->searchIndexBuilding());
        compareWithScanning(*other, r);
    }

    // Of a few long notes whose index must be built afresh, the open
    // indexes only what the window would not wait long for; the rest is
    // built in the background, and searches find what reading the rows finds.
    // Other connections read the file all through a slice: its pages stay
    // in memory until its commit.
    void longNotesLeftToTheBackground()
    {
        NotesFile f;
        Random r;
        needingABuild(f, r, 600, [&](int) { return r.pieces(8000) + u"会議"_s; });
        QList<int> reads; // at the end of each slice, before its commit
        detail::setIndexBuildSlice(
            std::numeric_limits<qint64>::max(),
            [&](qint64) {
                sqlite3* reader = nullptr;
                sqlite3_open_v2(QFile::encodeName(f.path).constData(), &reader, SQLITE_OPEN_READONLY, nullptr);
                reads << sqlite3_exec(reader, "SELECT count(*) FROM T_idea", nullptr, nullptr, nullptr);
                sqlite3_close_v2(reader);
            },
            600'000);
        const auto restore = qScopeGuard([] { detail::setIndexBuildSlice(0); });
        auto db = f.openAgain();
        QVERIFY(db->searchIndexBuilding());
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        compareWithScanning(*db, r);
        QVERIFY(!reads.isEmpty());
        QCOMPARE(reads, QList<int>(reads.size(), SQLITE_OK));
    }

    // However long a slice may hold the file, a save that waits for it ends
    // the slice: the save is made in the middle of the build, which goes on
    // after it.
    void aSliceGivesWayToASave()
    {
        NotesFile f;
        Random r;
        // Long notes past those the open indexes itself.
        needingABuild(f, r, 3000, [&](int i) { return i < 2000 ? r.text() : QVariant(r.pieces(6000)); });
        detail::setIndexBuildSlice(std::numeric_limits<qint64>::max(), {}, 600'000);
        const auto restore = qScopeGuard([] { detail::setIndexBuildSlice(0); });

        auto db = f.openAgain();
        QVERIFY(db->searchIndexBuilding());
        // Into the slice: the build holds the file's write lock.
        sqlite3* probe = nullptr;
        sqlite3_open_v2(QFile::encodeName(f.path).constData(), &probe, SQLITE_OPEN_READWRITE, nullptr);
        const auto closeProbe = qScopeGuard([&] { sqlite3_close_v2(probe); });
        const auto lockHeld = [&] {
            const int rc = sqlite3_exec(probe, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK)
                sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
            return rc == SQLITE_BUSY;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lockHeld(), 30000);
        QVERIFY2(db->searchIndexBuilding(), "the build ended before the save: too few notes to test with");
        QElapsedTimer clock;
        clock.start();
        db->execute(u"UPDATE T_idea SET naiyo = ? WHERE id = 1"_s, {u"割り込みの保存"_s});
        QVERIFY2(db->searchIndexBuilding(), qPrintable(u"the save waited %1 ms for the build"_s.arg(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        compareWithScanning(*db, r);
    }

    // A build asked for while only a merge runs: the merge goes on to it,
    // and searches read every row until it is done. Asked for during the
    // merge's last slice, after which its thread would end, the build gets
    // a pass of its own; so does a repair asked for then, which waits for
    // the slice to let go of the file and leaves an index in step.
    void buildAskedForDuringAMerge()
    {
        NotesFile f;
        Random r;
        fillRandomly(f, r, 60);
        auto db = f.openAgain();
        const QString path = QFileInfo(f.path).canonicalFilePath();
        std::mutex mutex;
        std::condition_variable released;
        bool inSlice = false, go = false;
        std::atomic<int> slices{0};
        detail::setIndexBuildSlice(0, [&](qint64) {
            if (++slices > 2)
                return;
            std::unique_lock lock(mutex);
            inSlice = true;
            released.wait(lock, [&] { return go; });
            inSlice = go = false;
        });
        const auto release = [&] {
            {
                std::lock_guard lock(mutex);
                go = true;
            }
            released.notify_all();
        };
        const auto held = [&] {
            std::lock_guard lock(mutex);
            return inSlice;
        };
        std::atomic<bool> repairing{false}, repaired{false};
        std::thread repair;
        const auto restore = qScopeGuard([&] {
            release();
            if (repair.joinable())
                repair.join();
            detail::stopIndexBuild(path);
            detail::setIndexBuildSlice(0);
        });
        detail::startIndexBuild(path, false);
        QTRY_VERIFY(held());
        QVERIFY(!detail::indexBuildRunning(path));
        detail::startIndexBuild(path, true);
        QVERIFY(detail::indexBuildRunning(path));
        release();
        QTRY_VERIFY(slices == 2 && held()); // the second pass's only slice
        repair = std::thread([&] {
            try {
                auto other = Database::open(path);
                repairing = true;
                other->repairSearchIndex();
                repaired = true;
            } catch (const std::exception& e) {
                qWarning("%s", e.what());
                repairing = true;
            }
        });
        QTRY_VERIFY(repairing);
        release();
        repair.join();
        QVERIFY(repaired);
        QTRY_VERIFY(!detail::indexBuildRunning(path));
        QVERIFY(slices > 2);
        compareWithScanning(*db, r);
    }

    // A build stopped halfway (the program ended, or killed inside a
    // slice) goes on at the next open from where it was, and completes.
    void buildStopped_data()
    {
        QTest::addColumn<bool>("insideASlice");
        QTest::newRow("file closed") << false;
        QTest::newRow("killed inside a slice") << true;
    }
    void buildStopped()
    {
        QFETCH(bool, insideASlice);
        NotesFile f;
        Random r;
        needingABuild(f, r);
        std::atomic<qint64> rows{0};
        std::atomic<int> slices{0};
        detail::setIndexBuildSlice(40, [&](qint64 n) {
            rows += n;
            if (++slices == 10 && insideASlice)
                throw StoreError(ErrorKind::Other, QStringLiteral("killed"));
        });
        const auto restore = qScopeGuard([] { detail::setIndexBuildSlice(0); });
        {
            auto db = f.openAgain();
            QTRY_VERIFY(slices >= 10);
            if (insideASlice)
                QTRY_VERIFY(!db->searchIndexBuilding());
            db->execute(QStringLiteral("UPDATE T_idea SET naiyo = 'ｶﾞ会議' WHERE id % 7 = 0"));
        }
        QVERIFY(rows < kBuildNotes);
        const qint64 before = rows;
        auto db = f.openAgain();
        QTRY_VERIFY_WITH_TIMEOUT(!db->searchIndexBuilding(), 60000);
        QVERIFY2(rows - before < kBuildNotes - 200, "went on rather than starting again");
        compareWithScanning(*db, r);
    }

    void readOnlyFile()
    {
        NotesFile f(3);
        f.db->execute(QStringLiteral("UPDATE T_idea SET title = 'ｶﾞ' WHERE id = 2"));
        const Conditions where{detail::contains(QStringLiteral("title"), QStringLiteral("が"))};
        QFile::setPermissions(f.path, QFileDevice::ReadOwner);
        auto stale = Database::open(f.path);
        QVERIFY(!stale->searchIndexInStep());
        QCOMPARE(found(*stale, where), QVariantList{2});

        QFile::setPermissions(f.path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        f.openAgain()->close(); // builds the index
        QFile::setPermissions(f.path, QFileDevice::ReadOwner);
        auto indexed = Database::open(f.path);
        QVERIFY(indexed->searchIndexInStep());
        QCOMPARE(found(*indexed, where), QVariantList{2});
    }
};

QTEST_APPLESS_MAIN(TestSearchIndex)
#include "tst_searchindex.moc"

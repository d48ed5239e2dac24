#include "storefixture.h"

#include "store/jetsql.h"
#include "store/recordset.h"

#include <QFile>
#include <QRegularExpression>
#include <random>
#include <sqlite3.h>

using namespace zumilo::store;
using zumilo::store::test::NotesFile;

namespace {

// Pieces that fold alike in pairs and threes: kana of both kinds, half-width
// kana with voiced marks, full-width and ASCII letters in both cases, and
// the characters that are wildcards or quotes elsewhere.
const QStringList kPieces = {"あ", "ア", "ｱ", "が", "ガ", "ｶﾞ", "か", "ぱ", "ﾊﾟ", "ー", "ｰ", "A", "a", "Ａ", "ａ",
                             "1", "１", "会", "議", " ", "　", "'", "*", "?", "#", "[", "]", "!", "🍣"};

class Random {
public:
    QString pieces(int most)
    {
        QString s;
        for (int n = int(rng_() % unsigned(most + 1)); n > 0; --n)
            s += kPieces[qsizetype(rng_() % unsigned(kPieces.size()))];
        return s;
    }
    QVariant text() { return rng_() % 8 ? QVariant(pieces(12)) : QVariant(); }
    // Searches as the windows make them, and Jet patterns with wildcards.
    QString pattern()
    {
        switch (rng_() % 5) {
        case 0: return sqlText(QLatin1Char('*') + pieces(2) + QStringLiteral("?") + pieces(1) + QLatin1Char('*'));
        case 1: return sqlText(pieces(2) + QLatin1Char('*'));
        case 2: return sqlText(QStringLiteral("*[あか]") + pieces(1) + QLatin1Char('*'));
        default: return likeContains(pieces(3).left(1 + int(rng_() % 4)));
        }
    }
    int below(int n) { return int(rng_() % unsigned(n)); }

private:
    std::mt19937 rng_{2026};
};

// The rows a search finds, by number; through the index unless `scan`.
QVariantList found(Database& db, const QString& where, bool scan = false, const QString& table = QStringLiteral("T_idea"))
{
    // like(pattern, column) is the same function, never narrowed by the index.
    static const QRegularExpression term(QStringLiteral("(\\w+) like ('(?:[^']|'')*')"));
    QString condition = where;
    if (scan)
        condition.replace(term, QStringLiteral("like(\\2, \\1)"));
    auto rs = db.openRecordset(QStringLiteral("select * from [%1] where %2").arg(table, condition));
    QVariantList ids;
    for (; !rs->isEOF(); rs->moveNext())
        ids << rs->bookmark();
    std::sort(ids.begin(), ids.end(), [](const QVariant& a, const QVariant& b) { return a.toLongLong() < b.toLongLong(); });
    return ids;
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
                for (const QString& where : {"title like " + p, "naiyo like " + p + " and bunrui like " + q,
                                             "jyuyoCK = -1 and naiyo like " + p, "title like " + p + " or naiyo like " + q}) {
                    QCOMPARE(found(db, where), found(db, where, true));
                }
                QCOMPARE(found(db, "bunrui like " + p, false, "T_bunrui"), found(db, "bunrui like " + p, true, "T_bunrui"));
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
        const QString where = QStringLiteral("naiyo like ") + likeContains(QStringLiteral("ｶﾞ"));
        QCOMPARE(found(*db, where), QVariantList());

        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &other), SQLITE_OK);
        for (const char* sql : {"INSERT INTO T_idea(title, naiyo) VALUES('x', 'ガ')", "UPDATE T_idea SET naiyo = 'が' WHERE id = 1",
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
        const QString nul = QStringLiteral("会") + QChar(0) + QStringLiteral("議") + QChar(0) + QChar(0) + QStringLiteral("ｶﾞa");
        if (byAnotherProgram) {
            sqlite3* other = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(f.path).constData(), &other), SQLITE_OK);
            QVERIFY(sqlite3_exec(other, "UPDATE T_idea SET naiyo = CAST(X'E4BC9A00E8ADB0' AS TEXT) || naiyo WHERE id % 5 = 0",
                                 nullptr, nullptr, nullptr) == SQLITE_OK);
            sqlite3_close(other);
            f.db = f.openAgain();
        } else {
            f.db->transaction([&] {
                for (int id = 5; id <= 300; id += 5)
                    f.db->execute(QStringLiteral("UPDATE T_idea SET naiyo = ? || naiyo, title = ? WHERE id = ?"), {nul, nul, id});
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
        QCOMPARE(f.db->scalar(QStringLiteral("INSERT INTO zumilo_idea_naiyo(zumilo_idea_naiyo) VALUES('integrity-check')")),
                 QVariant());
        for (const QString& word : QStringList{"会", "議", "会議", "ｶﾞ", "a"})
            for (const char* column : {"title", "naiyo"}) {
                const QString where = QStringLiteral("%1 like %2").arg(QLatin1String(column), likeContains(word));
                QCOMPARE(found(*f.db, where), found(*f.db, where, true));
            }
        QVERIFY(f.db->searchIndexInStep());
    }

    void readOnlyFile()
    {
        NotesFile f(3);
        f.db->execute(QStringLiteral("UPDATE T_idea SET title = 'ｶﾞ' WHERE id = 2"));
        const QString where = QStringLiteral("title like ") + likeContains(QStringLiteral("が"));
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

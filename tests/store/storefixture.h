#pragma once

#include "store/backup.h"
#include "store/database.h"
#include "store/error.h"
#include "store/jetsql.h"
#include "store/query.h"
#include "store/recordset.h"

#include <QRandomGenerator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <sqlite3.h>
#include <QTest>
#include <random>

namespace zumilo::store::test {

using namespace Qt::StringLiterals;

// As the program does before it ends: the checks of files' pages and the
// backups the tests' opens started end, their threads joined.
inline const struct StopBackgroundWorkAtExit {
    ~StopBackgroundWorkAtExit() { stopBackups(); }
} stopBackgroundWorkAtExit;

// The three tables of a notes file, as the program creates them, or as
// `edit` changes their statements.
inline void createNoteTables(
    Database& db, const std::function<QString(QString)>& edit = [](QString s) { return s; })
{
    db.execute(edit(QStringLiteral(
        "CREATE TABLE T_idea(id counter constraint pkey primary key,title text(250),naiyo longtext,bunID long,"
        "bunrui text(250),sinkiDate DateTime,kousinDate DateTime,kousinTime text(50),kanryoCK yesno,"
        "kanryoDate DateTime,jyuyoCK yesno,oyaID long,kijituDate DateTime,kijituTime text(50),yusen text(50),"
        "naiyoOLE LONGBINARY,fileMEI text(250));")));
    db.execute(edit(QStringLiteral(
        "CREATE TABLE T_bunrui(bunID long constraint pkey primary key,bunrui text(250),oyabunID long);")));
    db.execute(edit(QStringLiteral(
        "CREATE TABLE T_option(ID text(50) constraint pkey primary key,naiyo text(250),[memo] text(250));")));
}

// A notes file in a temporary folder; notes numbered 1..n titled "note 001"...
struct NotesFile {
    QTemporaryDir dir;
    QString path;
    std::shared_ptr<Database> db;

    explicit NotesFile(int notes = 0)
    {
        path = dir.filePath(QStringLiteral("notes.zmd"));
        db = Database::create(path);
        db->setTodayProvider([] { return QDate(2026, 12, 6); });
        db->transaction([&] {
            createNoteTables(*db);
            for (int i = 1; i <= notes; ++i)
                db->execute(QStringLiteral("INSERT INTO T_idea(title,naiyo,bunID,jyuyoCK) VALUES(?,?,?,0)"),
                            {QStringLiteral("note %1").arg(i, 3, 10, QLatin1Char('0')),
                             QStringLiteral("body %1").arg(i), i % 3});
        });
    }

    std::shared_ptr<Database> openAgain() const
    {
        auto other = Database::open(path);
        other->setTodayProvider([] { return QDate(2026, 12, 6); });
        return other;
    }
};

// ThreadSanitizer (clang 14) stops in the child of a process Qt starts:
// tests that start one skip under it.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZUMILO_THREAD_SANITIZER
#endif
#endif
#ifdef ZUMILO_THREAD_SANITIZER
#define SKIP_IF_CHILDREN_CANNOT_RUN() QSKIP("ThreadSanitizer cannot start child processes")
#else
#define SKIP_IF_CHILDREN_CANNOT_RUN() static_cast<void>(0)
#endif

// The seed of a test's random choices: ZUMILO_SEED when set, else a new
// one each run. Printed, so that a failing run can be made again.
inline quint32 randomSeed()
{
    bool fixed = false;
    const quint32 given = qEnvironmentVariable("ZUMILO_SEED").toUInt(&fixed);
    const quint32 seed = fixed ? given : QRandomGenerator::system()->generate();
    qInfo("ZUMILO_SEED=%u", seed);
    return seed;
}

using Conditions = std::vector<detail::Query::Condition>;

// `column like pattern`, with Jet's wildcards.
inline detail::Query::Condition like(const QString& column, const QString& pattern)
{
    return {column + QStringLiteral(" like ?"), {pattern}, column};
}

// The rows where every condition holds, by number; through the index
// unless `scan` (a statement given as text is never narrowed by it).
inline QVariantList found(Database& db, const Conditions& where, bool scan = false,
                          const QString& table = QStringLiteral("T_idea"))
{
    detail::Query q;
    q.table = table;
    q.conditions = where;
    auto rs = scan ? db.openRecordset(q.select(), q.params()) : db.openRecordset(q, RecordsetType::Default);
    QVariantList ids;
    for (; !rs->isEOF(); rs->moveNext())
        ids << rs->bookmark();
    std::sort(ids.begin(), ids.end(),
              [](const QVariant& a, const QVariant& b) { return a.toLongLong() < b.toLongLong(); });
    return ids;
}

// Runs statements through the sqlite3 tool on the file.
inline void tool(const QString& path, const QByteArray& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
    QVERIFY2(p.waitForStarted(), "the sqlite3 tool is not installed");
    p.write(sql);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());
}

// Changes, additions and deletions, with U+0000 inside text and values
// far longer than any the windows write.
inline const QByteArray kToolChanges = R"(
BEGIN;
UPDATE T_idea SET naiyo = CAST(X'E4BC9A00E8ADB0' AS TEXT) || naiyo WHERE id % 4 = 0;
UPDATE T_idea SET title = 'ｶﾞ' || char(0) || '会議' || title WHERE id % 5 = 0;
UPDATE T_idea SET bunrui = '分類' || char(0) || (id % 3) WHERE id % 3 = 0;
INSERT INTO T_idea(title, naiyo, bunrui)
  VALUES(replace(hex(zeroblob(150000)), '00', '議会'), replace(hex(zeroblob(300000)), '00', 'が' || char(0)), 'x');
INSERT INTO T_idea(title, naiyo) VALUES(char(0), char(0, 0, 0x4f1a));
DELETE FROM T_idea WHERE id % 7 = 1;
UPDATE T_bunrui SET bunrui = 'ガ会' || char(0) || bunrui WHERE bunID % 2 = 0;
INSERT INTO T_bunrui(bunID, bunrui, oyabunID) VALUES(100, '議' || char(0) || '会議', 0);
COMMIT;
)";

inline void searchesMatchTheRows(Database& db)
{
    for (const char* word : {"会", "議", "会議", "議会", "ｶﾞ", "が", "分類", "note 01", "1"}) {
        for (const char* column : {"title", "naiyo", "bunrui"}) {
            const Conditions where{detail::contains(QString::fromLatin1(column), QString::fromUtf8(word))};
            QCOMPARE(found(db, where), found(db, where, true));
        }
        const Conditions where{detail::contains(QStringLiteral("bunrui"), QString::fromUtf8(word))};
        QCOMPARE(found(db, where, false, QStringLiteral("T_bunrui")),
                 found(db, where, true, QStringLiteral("T_bunrui")));
    }
}

// Where a table's first page lies in the file, and the page size, read
// by a plain connection.
struct RootPage {
    qsizetype page = 0, size = 0;
    qsizetype offset() const { return (page - 1) * size; }
};
inline RootPage rootPage(const QString& path, const char* table)
{
    RootPage root;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw,
                           "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master "
                           "WHERE name = ?",
                           -1, &st, nullptr);
        sqlite3_bind_text(st, 1, table, -1, SQLITE_STATIC);
        if (sqlite3_step(st) == SQLITE_ROW) {
            root.page = sqlite3_column_int64(st, 0);
            root.size = sqlite3_column_int64(st, 1);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(raw);
    return root;
}

// Overwrites half of the last block of the bodies' search index, leaving
// the index stamped as in step, as though its bytes had been overwritten
// in place. False when the file has no such index.
inline bool damageSearchIndex(const QString& path, bool everyBlock = false)
{
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const std::string which = everyBlock ? ""
                                         : " WHERE (token, first_row) = (SELECT token, first_row FROM "
                                           "zumilo_idea_naiyo_blocks ORDER BY length(data) DESC LIMIT 1)";
    bool done = sqlite3_exec(db,
                             ("UPDATE zumilo_idea_naiyo_blocks SET data = CAST(zeroblob(length(data) / 2) || "
                              "substr(data, length(data) / 2 + 1) AS BLOB)"
                              + which)
                                 .c_str(),
                             nullptr, nullptr, nullptr)
                == SQLITE_OK;
    // Each commit adds one to the file's change counter.
    const auto counter = [&] {
        QFile f(path);
        const QByteArray h = f.open(QIODevice::ReadOnly) ? f.read(28) : QByteArray(28, '\0');
        return qint64(uchar(h[24])) << 24 | uchar(h[25]) << 16 | uchar(h[26]) << 8 | uchar(h[27]);
    }();
    const QByteArray stamp = "UPDATE zumilo_index_state SET counter = " + QByteArray::number(counter + 1);
    done = done && sqlite3_exec(db, stamp.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

// Pieces that fold alike in pairs and threes: kana of both kinds, half-width
// kana with voiced marks, full-width and ASCII letters in both cases, and
// the characters that are wildcards or quotes elsewhere.
inline const QStringList kPieces = {u"あ"_s, u"ア"_s, u"ｱ"_s,  u"が"_s, u"ガ"_s, u"ｶﾞ"_s, u"か"_s, u"ぱ"_s,
                                    u"ﾊﾟ"_s, u"ー"_s, u"ｰ"_s,  u"A"_s,  u"a"_s,  u"Ａ"_s, u"ａ"_s, u"1"_s,
                                    u"１"_s, u"会"_s, u"議"_s, u" "_s,  u"　"_s, u"'"_s,  u"*"_s,  u"?"_s,
                                    u"#"_s,  u"["_s,  u"]"_s,  u"!"_s,  u"🍣"_s};

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
        case 0:
            return QLatin1Char('*') + pieces(2) + QStringLiteral("?") + pieces(1) + QLatin1Char('*');
        case 1:
            return pieces(2) + QLatin1Char('*');
        case 2:
            return QStringLiteral("*[あか]") + pieces(1) + QLatin1Char('*');
        default:
            return QLatin1Char('*') + escapeLikeWildcards(pieces(3).left(1 + int(rng_() % 4))) + QLatin1Char('*');
        }
    }
    int below(int n) { return int(rng_() % unsigned(n)); }

private:
    std::mt19937 rng_{randomSeed()};
};

// Every search of every indexed column finds what reading the rows finds,
// and the index's own structure is sound.
inline void compareWithScanning(Database& db, Random& r)
{
    QVERIFY(db.searchIndexInStep());
    for (const char* index : {"zumilo_idea_title", "zumilo_idea_naiyo", "zumilo_idea_bunrui", "zumilo_bunrui_bunrui"})
        QCOMPARE(db.scalar(QStringLiteral("INSERT INTO %1(%1) VALUES('integrity-check')").arg(QLatin1String(index))),
                 QVariant());
    for (int i = 0; i < 30; ++i) {
        const QString p = r.pattern();
        for (const char* column : {"title", "naiyo", "bunrui"}) {
            const Conditions where{like(QString::fromLatin1(column), p)};
            QCOMPARE(found(db, where), found(db, where, true));
        }
        const Conditions names{like(QStringLiteral("bunrui"), p)};
        QCOMPARE(found(db, names, false, u"T_bunrui"_s), found(db, names, true, u"T_bunrui"_s));
    }
}

// A closed, indexed file of random notes and categories.
inline void fillRandomly(NotesFile& f, Random& r, int notes)
{
    f.db->transaction([&] {
        for (int i = 0; i < notes; ++i)
            f.db->execute(QStringLiteral("INSERT INTO T_idea(title, naiyo, bunrui) VALUES(?, ?, ?)"),
                          {r.text(), r.text(), r.text()});
        for (int i = 0; i < 40; ++i)
            f.db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID, bunrui) VALUES(?, ?)"), {i, r.text()});
    });
    f.openAgain()->close(); // indexed
    f.db.reset();
}

} // namespace zumilo::store::test

// QVERIFY_THROWS_EXCEPTION does not look at the kind.
#define STORE_THROWS(expression, expectedKind)                                                                         \
    do {                                                                                                               \
        try {                                                                                                          \
            expression;                                                                                                \
            QFAIL("no StoreError from " #expression);                                                                  \
        } catch (const zumilo::store::StoreError& e_) {                                                                \
            if (e_.kind() != (expectedKind))                                                                           \
                QFAIL(qPrintable(QStringLiteral("wrong kind %1: %2").arg(int(e_.kind())).arg(e_.detail())));           \
        }                                                                                                              \
    } while (false)

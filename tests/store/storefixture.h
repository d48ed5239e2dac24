#pragma once

#include "store/database.h"
#include "store/error.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace zumilo::store::test {

// The three tables of a notes file, as the program creates them, or as
// `edit` changes their statements.
inline void createNoteTables(Database& db, const std::function<QString(QString)>& edit = [](QString s) { return s; })
{
    db.execute(edit(QStringLiteral(
        "CREATE TABLE T_idea(id counter constraint pkey primary key,title text(250),naiyo longtext,bunID long,"
        "bunrui text(250),sinkiDate DateTime,kousinDate DateTime,kousinTime text(50),kanryoCK yesno,"
        "kanryoDate DateTime,jyuyoCK yesno,oyaID long,kijituDate DateTime,kijituTime text(50),yusen text(50),"
        "naiyoOLE LONGBINARY,fileMEI text(250));")));
    db.execute(edit(QStringLiteral("CREATE TABLE T_bunrui(bunID long constraint pkey primary key,bunrui text(250),oyabunID long);")));
    db.execute(edit(QStringLiteral("CREATE TABLE T_option(ID text(50) constraint pkey primary key,naiyo text(250),[memo] text(250));")));
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

} // namespace zumilo::store::test

// QVERIFY_THROWS_EXCEPTION does not look at the kind.
#define STORE_THROWS(expression, expectedKind)                                                       \
    do {                                                                                             \
        try {                                                                                        \
            expression;                                                                              \
            QFAIL("no StoreError from " #expression);                                                \
        } catch (const zumilo::store::StoreError& e_) {                                              \
            if (e_.kind() != (expectedKind))                                                         \
                QFAIL(qPrintable(QStringLiteral("wrong kind %1: %2").arg(int(e_.kind())).arg(e_.detail()))); \
        }                                                                                            \
    } while (false)

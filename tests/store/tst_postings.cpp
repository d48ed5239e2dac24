#include "store/jetlike.h"
#include "store/postings.h"
#include "store/postingsmodule.h"
#include "storefixture.h"

#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <limits>
#include <map>
#include <random>
#include <sqlite3.h>
#include <variant>

using namespace zumilo::store;
using namespace zumilo::store::postings;

namespace {

// Random notes: a few kana and kanji (so words recur), ASCII in both
// cases, U+0000, lone surrogates as the engine may hold them, empty texts
// and very long ones.
struct Notes {
    std::mt19937_64 random;
    explicit Notes(quint64 seed) : random(seed) {}

    std::string text()
    {
        static const std::string pieces[] = {"会",
                                             "議",
                                             "打",
                                             "ち",
                                             "合",
                                             "わ",
                                             "せ",
                                             "予",
                                             "定",
                                             "の",
                                             "A",
                                             "a",
                                             "b",
                                             "B",
                                             " ",
                                             "\xed\xa0\x80",
                                             std::string(1, '\0')};
        const int shape = int(random() % 10);
        const size_t length = shape == 0 ? 0 : shape == 1 ? 3000 + random() % 3000 : random() % 60;
        std::string t;
        for (size_t i = 0; i < length; ++i)
            t += pieces[random() % std::size(pieces)];
        return t;
    }

    std::u32string folded(const std::string& t)
    {
        std::vector<char32_t> chars;
        const size_t n = foldUtf8(reinterpret_cast<const unsigned char*>(t.data()), t.size(), chars);
        return {chars.begin(), chars.begin() + std::ptrdiff_t(n)};
    }

    // Runs as the index is asked for them: no U+0000, and text that has
    // gone through UTF-8; joined by U+0000.
    static bool askable(const std::u32string& run)
    {
        return std::none_of(run.begin(), run.end(), [](char32_t c) { return !c || (c >= 0xD800 && c < 0xE000); });
    }
    static std::string match(const std::vector<std::u32string>& runs)
    {
        std::string m;
        for (const auto& r : runs)
            m += (m.empty() ? "" : std::string(1, '\0'))
                 + QString::fromUcs4(r.data(), qsizetype(r.size())).toStdString();
        return m;
    }

    // A row number: small, or anywhere in the 64 bits.
    std::int64_t row(bool wide) { return wide ? std::int64_t(random()) : std::int64_t(random() % 5000); }

    // Words found in the notes, and a few nowhere.
    std::vector<std::u32string> words(const std::map<std::int64_t, std::string>& notes, int count)
    {
        std::vector<std::u32string> out = {U"zz会", U"議議議議"};
        for (auto it = notes.begin(); int(out.size()) < count && !notes.empty(); it = notes.begin()) {
            std::advance(it, std::ptrdiff_t(random() % notes.size()));
            const std::u32string f = folded(it->second);
            if (f.empty())
                continue;
            const size_t at = random() % f.size();
            out.push_back(f.substr(at, 1 + random() % 6));
        }
        return out;
    }
};

using Number = std::variant<std::int64_t, double>;

// A connection with the module and one index `x` on it.
struct Db {
    sqlite3* db = nullptr;
    explicit Db(bool positions, const QString& path = QStringLiteral(":memory:"), bool create = true)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, 10000);
        detail::registerPostingsModule(db);
        if (create)
            exec(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS x USING zumilo_postings(body, positions=%1)")
                     .arg(int(positions)));
    }
    ~Db() { sqlite3_close(db); }

    int exec(const QString& sql) { return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr); }

    // The rows of a statement's first column; its text arguments bound as
    // bytes (the engine keeps U+0000 in them).
    std::vector<std::int64_t> rows(const char* sql, const std::vector<std::string>& texts = {},
                                   const std::vector<Number>& numbers = {})
    {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            qFatal("%s", sqlite3_errmsg(db));
        int i = 0;
        for (const std::string& t : texts)
            sqlite3_bind_text(st, ++i, t.data(), int(t.size()), SQLITE_TRANSIENT);
        for (const Number& n : numbers) {
            if (const auto* whole = std::get_if<std::int64_t>(&n))
                sqlite3_bind_int64(st, ++i, *whole);
            else
                sqlite3_bind_double(st, ++i, std::get<double>(n));
        }
        std::vector<std::int64_t> out;
        while (sqlite3_step(st) == SQLITE_ROW)
            out.push_back(sqlite3_column_int64(st, 0));
        if (sqlite3_finalize(st) != SQLITE_OK)
            out = {-1, -1, -1};
        return out;
    }

    // Whether the write succeeded.
    bool insert(std::int64_t row, const std::string& text)
    {
        return rows("INSERT INTO x(rowid, body) VALUES(?2, ?1)", {text}, {row}).empty();
    }
    bool remove(std::int64_t row, const std::string& old)
    {
        return rows("INSERT INTO x(x, rowid, body) VALUES('delete', ?2, ?1)", {old}, {row}).empty();
    }
    // Merge steps until one changes nothing; how many did something.
    int mergeAll(int rank)
    {
        for (int steps = 0;; ++steps) {
            const auto before = sqlite3_total_changes64(db);
            if (exec(QStringLiteral("INSERT INTO x(x, rank) VALUES('merge', %1)").arg(rank)) != SQLITE_OK)
                return -1;
            if (sqlite3_total_changes64(db) - before < 2)
                return steps;
        }
    }
    std::int64_t one(const char* sql) { return rows(sql).at(0); }
};

} // namespace

class TestPostings : public QObject {
    Q_OBJECT

private slots:
    // After every round of random edits and deletes, each word drawn finds
    // in the blocks exactly the rows a scan of the folded texts finds (a
    // superset for longer words without positions); no block of more than
    // one row overflows its page.
    void findsWhatAScanFinds_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<bool>("wide");
        QTest::addColumn<bool>("withPositions");
        for (quint64 seed : {1u, 2u, 3u}) {
            QTest::addRow("seed %llu", seed) << seed << false << true;
            QTest::addRow("seed %llu, 64-bit rows", seed) << seed << true << true;
            QTest::addRow("seed %llu, no positions", seed) << seed << false << false;
        }
    }
    void findsWhatAScanFinds()
    {
        QFETCH(quint64, seed);
        QFETCH(bool, wide);
        QFETCH(bool, withPositions);
        Notes gen(seed);
        std::map<std::int64_t, std::string> notes;
        std::map<Token, std::vector<Block>> index;
        auto change = [&](std::int64_t row, const std::string* now) {
            const auto was = notes.find(row);
            TextTokens held, text;
            if (was != notes.end())
                held.read(was->second);
            if (now)
                text.read(*now);
            for (const auto& [token, entry] :
                 changedEntries(row, was != notes.end() ? &held : nullptr, now ? &text : nullptr, withPositions)) {
                auto& blocks = index[token];
                blocks = rewrite(blocks, std::span(&entry, 1), withPositions && isPair(token));
                for (const Block& b : blocks) {
                    QVERIFY(blockSound(b.firstRow, b.data, withPositions && isPair(token)));
                    QVERIFY(b.data.size() <= kBlockBytes || rowsIn(b.data) == 1);
                }
            }
            if (now)
                notes[row] = *now;
            else if (was != notes.end())
                notes.erase(was);
        };
        const BlockSource source = [&](Token t, std::int64_t, std::int64_t) { return index[t]; };
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; i < 150; ++i) {
                const std::int64_t row =
                    notes.empty() || gen.random() % 3
                        ? gen.row(wide)
                        : std::next(notes.begin(), std::ptrdiff_t(gen.random() % notes.size()))->first;
                const std::string t = gen.text();
                change(row, gen.random() % 5 ? &t : nullptr);
            }
            for (const std::u32string& word : gen.words(notes, 40)) {
                std::vector<std::int64_t> expected;
                for (const auto& [row, text] : notes)
                    if (gen.folded(text).find(word) != std::u32string::npos)
                        expected.push_back(row);
                const auto found = find(word, source, withPositions);
                const QString what = QStringLiteral("seed %1 round %2 word %3")
                                         .arg(seed)
                                         .arg(round)
                                         .arg(QString::fromUcs4(word.data(), qsizetype(word.size())));
                if (withPositions || word.size() <= 2) {
                    QVERIFY2(found == expected, qPrintable(what));
                } else {
                    QVERIFY2(std::includes(found.begin(), found.end(), expected.begin(), expected.end()),
                             qPrintable(what));
                }
                // A range finds the rows of the whole search within it.
                if (expected.size() > 2) {
                    const std::int64_t low = expected[1], high = expected[expected.size() - 2];
                    std::vector<std::int64_t> within;
                    for (std::int64_t r : found)
                        if (r >= low && r <= high)
                            within.push_back(r);
                    QVERIFY2(find(word, source, withPositions, low, high) == within, qPrintable(what));
                }
            }
        }
    }

    // A row too large for a page of its own stays alone in its block; the
    // rows around it are still cut into blocks of up to kBlockNotes.
    void oneHugeRowAmongMany()
    {
        std::vector<Entry> entries;
        for (std::int64_t row = 1; row <= 3000; ++row) {
            Entry e{row, true, {std::uint32_t(row % 7)}};
            if (row == 1500)
                for (std::uint32_t p = 1; p < 3000; ++p)
                    e.positions.push_back(p * 3);
            entries.push_back(std::move(e));
        }
        const std::vector<Block> blocks = rewrite({}, entries, true);
        QVERIFY2(blocks.size() <= 3000 / kBlockNotes + 16, qPrintable(QString::number(blocks.size())));
        std::vector<Entry> read;
        for (const Block& b : blocks) {
            QVERIFY(b.data.size() <= kBlockBytes || rowsIn(b.data) == 1);
            const Postings p = decodeBlock(b.firstRow, b.data, true);
            for (size_t i = 0, at = 0; i < p.rows.size(); at += p.counts[i++])
                read.push_back(Entry{p.rows[i],
                                     true,
                                     {p.positions.begin() + std::ptrdiff_t(at),
                                      p.positions.begin() + std::ptrdiff_t(at + p.counts[i])}});
        }
        QCOMPARE(read.size(), entries.size());
        for (size_t i = 0; i < read.size(); ++i)
            QVERIFY(read[i].row == entries[i].row && read[i].positions == entries[i].positions);
    }

    // A damaged block is neither searched nor written again: both fail
    // as damage, through SQL too, where the other words are still found
    // and the index, emptied and built again, finds every row.
    void damagedBlocks_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("rowsDamaged"); // not only the positions
        QTest::newRow("cut in its rows") << 0 << true;
        QTest::newRow("overwritten") << 1 << true;
        QTest::newRow("rows out of order") << 2 << true;
        QTest::newRow("positions out of order") << 3 << false;
        QTest::newRow("more positions than bits") << 4 << false;
        QTest::newRow("rows into the next block") << 5 << true;
        QTest::newRow("more rows listed than held") << 6 << false;
        QTest::newRow("a listed row beyond the block") << 7 << false;
        QTest::newRow("cut in its positions") << 8 << false;
        QTest::newRow("random bytes") << 9 << false;
    }
    void damagedBlocks()
    {
        QFETCH(int, kind);
        QFETCH(bool, rowsDamaged);
        Notes gen(7);
        Postings p;
        for (std::int64_t row = -3; p.rows.size() < size_t(kBlockNotes); row += 1 + std::int64_t(gen.random() % 9)) {
            p.rows.push_back(row);
            p.counts.push_back(1 + std::uint32_t(gen.random() % 3));
            for (std::uint32_t i = 0, at = 0; i < p.counts.back(); ++i)
                p.positions.push_back(at += 1 + std::uint32_t(gen.random() % 50));
        }
        const std::string good = encodeBlock(p, true);
        QVERIFY(blockSound(-3, good, true));
        QVERIFY(!blockSound(-3, good + '\x01', true));
        const Postings back = decodeBlock(-3, good, true);
        QCOMPARE(back.rows, p.rows);
        QCOMPARE(back.positions, p.positions);

        // Blocks of one row, bit by bit in the parts postings.h lists: held
        // 2^20 + 2 times in 7 bytes, listed twice, listed at place 1.
        auto packed = [](std::string bits) {
            bits.erase(std::remove(bits.begin(), bits.end(), ' '), bits.end());
            std::string out((bits.size() + 7) / 8, '\0');
            for (size_t i = 0; i < bits.size(); ++i)
                out[i / 8] = char(out[i / 8] | (bits[i] == '1' ? 0x80 >> (i % 8) : 0));
            return out;
        };
        auto single = [](std::vector<std::int64_t> rows, std::vector<std::uint32_t> counts,
                         std::vector<std::uint32_t> positions) {
            const Postings q{rows, std::move(counts), std::move(positions)};
            return Block{rows.front(), encodeBlock(q, true)};
        };
        std::vector<Block> blocks;
        switch (kind) {
        case 0:
            blocks = {{-3, good.substr(0, 8)}};
            break;
        case 8:
            blocks = {{-3, good.substr(0, good.size() * 3 / 4)}};
            break;
        case 1:
            blocks = {{-3, std::string(good.size(), '\xff')}};
            break;
        case 2:
            blocks = {single({5, 3}, {1, 1}, {0, 0})};
            break;
        case 3:
            blocks = {single({1, 2}, {2, 1}, {5, 3, 7})};
            break;
        case 4:
            blocks = {{1, packed("0000000 010 00000 0 10100 10 00000000000000000000 00000 00000")}};
            break;
        case 6:
            blocks = {{1, packed("0000000 011 00000 0 00000 0 00000 00000 00 00000000")}};
            break;
        case 7:
            blocks = {{1, packed("0000000 010 00000 10 00000 0 00000 00000")}};
            break;
        default:
            blocks = {single({1, 2, 3, 4, 6, 8, 10}, {1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0}),
                      single({5, 20}, {1, 1}, {0, 0})};
        }
        auto failure = [](auto&& work) {
            try {
                work();
            } catch (const Failure& f) {
                return f.rc;
            }
            return SQLITE_OK;
        };
        const Entry entry{1000, true, {0}};
        if (kind == 9) {
            // Any bytes are read as a block, or fail as damage, and no
            // further than they go.
            int read = 0;
            for (int i = 0; i < 3000; ++i) {
                std::string bytes(gen.random() % 24, '\0');
                for (char& c : bytes)
                    c = char(gen.random());
                const std::vector<Block> one = {{std::int64_t(gen.random() % 100), bytes}};
                std::vector<Block> out;
                const int rc = failure([&] { out = rewrite(one, std::span(&entry, 1), true); });
                QVERIFY(rc == SQLITE_CORRUPT_VTAB || blockSound(out[0].firstRow, out[0].data, true));
                QVERIFY(rc == SQLITE_OK || !blockSound(one[0].firstRow, bytes, true));
                read += rc == SQLITE_OK;
                failure([&] {
                    find(
                        U"会議の", [&](Token, std::int64_t, std::int64_t) { return one; }, true);
                });
            }
            QVERIFY(read > 0);
            return;
        }
        if (blocks.size() == 1)
            QVERIFY(!blockSound(blocks[0].firstRow, blocks[0].data, true));
        QCOMPARE(failure([&] { rewrite(blocks, std::span(&entry, 1), true); }), SQLITE_CORRUPT_VTAB);
        const BlockSource source = [&](Token, std::int64_t, std::int64_t) { return blocks; };
        QCOMPARE(failure([&] { find(U"会議の", source, true); }), SQLITE_CORRUPT_VTAB);
        QCOMPARE(failure([&] { find(U"会", source, true); }), rowsDamaged ? SQLITE_CORRUPT_VTAB : SQLITE_OK);

        Db db(true);
        auto fill = [&] {
            QCOMPARE(db.exec(QStringLiteral("BEGIN")), SQLITE_OK);
            for (int row = 1; row <= 300; ++row)
                db.insert(row, "打ち合わせ " + gen.text());
            QCOMPARE(db.exec(QStringLiteral("COMMIT")), SQLITE_OK);
        };
        fill();
        const Token token = pairToken(U'打', U'ち');
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM x_blocks WHERE token = %1").arg(std::int64_t(token))), SQLITE_OK);
        for (const Block& b : blocks) {
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db.db, "INSERT INTO x_blocks VALUES(?, ?, ?)", -1, &st, nullptr);
            sqlite3_bind_int64(st, 1, std::int64_t(token));
            sqlite3_bind_int64(st, 2, b.firstRow);
            sqlite3_bind_blob(st, 3, b.data.data(), int(b.data.size()), SQLITE_TRANSIENT);
            sqlite3_step(st);
            QCOMPARE(sqlite3_finalize(st), SQLITE_OK);
        }
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '打ち合'").size(), size_t(3)); // the failure's
        QCOMPARE(sqlite3_extended_errcode(db.db), SQLITE_CORRUPT_VTAB);
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '合わせ'").size(), size_t(300));
        // A note added meanwhile is saved all the same, its rows in blocks
        // of their own, and the damage is still told.
        QVERIFY(db.insert(1000, "打ち合わせ"));
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '合わせ'").size(), size_t(301));
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_CORRUPT_VTAB);
        if (blocks.size() == 1) { // a row written into the block it lies in
            db.insert(2, "打ち合わせ");
            QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x, rank) VALUES('merge', 100)")), SQLITE_CORRUPT_VTAB);
        }
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('delete-all')")), SQLITE_OK);
        fill();
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '打ち合'").size(), size_t(300));
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
    }

    // Random builds, edits and deletes through SQL, some rolled back, some
    // in part (to a savepoint, after a search wrote the gathered rows out):
    // after each, searches of one or two runs, whole or within a range of
    // rows, find what a scan finds, and the row count is the notes'. Merge
    // steps then write every kept row into the blocks, a bounded step at a
    // time, and searches stay the same.
    void module_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<bool>("positions");
        for (quint64 seed : {11u, 12u}) {
            QTest::addRow("seed %llu", seed) << seed << true;
            QTest::addRow("seed %llu, no positions", seed) << seed << false;
        }
    }
    void module()
    {
        QFETCH(quint64, seed);
        QFETCH(bool, positions);
        Notes gen(seed);
        Db db(positions);
        std::map<std::int64_t, std::string> notes;
        auto check = [&](const char* when) {
            const QString what = QStringLiteral("seed %1, %2").arg(seed).arg(QLatin1String(when));
            QVERIFY2(db.one("SELECT rows FROM x_state") == std::int64_t(notes.size()), qPrintable(what));
            const auto words = gen.words(notes, 12);
            for (size_t w = 0; w < words.size(); ++w) {
                if (!Notes::askable(words[w]))
                    continue;
                std::vector<std::u32string> runs = {words[w]};
                if (w % 3 == 0)
                    runs.push_back(U"会");
                const std::string match = Notes::match(runs);
                const bool exact = positions
                                   || std::all_of(runs.begin(), runs.end(), [](auto& r) { return r.size() <= 2; });
                std::vector<std::int64_t> expected;
                for (const auto& [row, text] : notes) {
                    const auto f = gen.folded(text);
                    if (std::all_of(runs.begin(), runs.end(),
                                    [&](auto& r) { return f.find(r) != std::u32string::npos; }))
                        expected.push_back(row);
                }
                const auto found = db.rows("SELECT rowid FROM x WHERE x MATCH ?", {match});
                QVERIFY2(exact ? found == expected
                               : std::includes(found.begin(), found.end(), expected.begin(), expected.end()),
                         qPrintable(what));
                if (found.size() > 3) {
                    const std::vector<std::int64_t> within(found.begin() + 1, found.end() - 2);
                    QVERIFY2(db.rows("SELECT rowid FROM x WHERE x MATCH ? AND rowid >= ? AND rowid < ?", {match},
                                     {found[1], found[found.size() - 2]})
                                 == within,
                             qPrintable(what));
                }
            }
        };
        std::int64_t next = 1000;
        for (int round = 0; round < 12; ++round) {
            const auto before = notes;
            std::int64_t half = 0;
            // Builds, a build taken back to a savepoint, edits, edits taken
            // back, a build taken back.
            const int kind = std::array{0, 0, 1, 2, 3, 2, 4, 1, 2, 3, 0, 2}[size_t(round)];
            QCOMPARE(db.exec(QStringLiteral("BEGIN")), SQLITE_OK);
            for (int i = 0; i < 60; ++i) {
                const std::string text = gen.text();
                if (kind <= 1 || kind == 4) { // a build: rows beyond all others
                    next += 1 + std::int64_t(gen.random() % 3);
                    db.insert(next, text);
                    notes[next] = text;
                    if (kind == 1 && i == 30) {
                        // What was gathered is written for the search.
                        QCOMPARE(db.exec(QStringLiteral("SAVEPOINT half")), SQLITE_OK);
                        half = next;
                        db.rows("SELECT rowid FROM x WHERE x MATCH 'a'");
                    }
                } else if (!notes.empty() && gen.random() % 3) { // an edit or a delete
                    const auto it = std::next(notes.begin(), std::ptrdiff_t(gen.random() % notes.size()));
                    db.remove(it->first, it->second);
                    if (gen.random() % 4) {
                        db.insert(it->first, text);
                        it->second = text;
                    } else {
                        notes.erase(it);
                    }
                } else { // a new row among the others
                    const std::int64_t row = std::int64_t(gen.random() % std::uint64_t(next));
                    if (!notes.count(row)) {
                        db.insert(row, text);
                        notes[row] = text;
                    }
                }
            }
            if (kind == 1) {
                QCOMPARE(db.exec(QStringLiteral("ROLLBACK TO half")), SQLITE_OK);
                notes.erase(notes.upper_bound(half), notes.end());
            }
            if (kind >= 3) {
                QCOMPARE(db.exec(QStringLiteral("ROLLBACK")), SQLITE_OK);
                notes = before;
                next = notes.empty() ? 1000 : notes.rbegin()->first;
            } else {
                QCOMPARE(db.exec(QStringLiteral("COMMIT")), SQLITE_OK);
            }
            check("after a round");
        }
        // A small step leaves kept rows for the next; a large one writes
        // many rows' entries into each block.
        const std::int64_t kept = db.one("SELECT count(*) FROM x_kept");
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x, rank) VALUES('merge', -1)")), SQLITE_OK);
        QVERIFY(db.one("SELECT count(*) FROM x_kept") < kept);
        QVERIFY(db.one("SELECT count(*) FROM x_kept") > 0);
        QVERIFY(db.mergeAll(1000) >= 1);
        QCOMPARE(db.one("SELECT count(*) FROM x_kept"), 0);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
        check("merged");
    }

    // Random writes, searches, merge steps and checks through SQL on two
    // connections to one file: in and out of transactions, savepoints
    // released or taken back, statements failing half-way (the engine
    // takes back their first rows). Each search finds what a scan of the
    // notes that connection sees finds, and the check always passes.
    void againstAScan_data()
    {
        QTest::addColumn<bool>("positions");
        QTest::addColumn<bool>("wide");
        QTest::addRow("small rows") << true << false;
        QTest::addRow("64-bit rows") << true << true;
        QTest::addRow("no positions") << false << false;
    }
    void againstAScan()
    {
        QFETCH(bool, positions);
        QFETCH(bool, wide);
        static_assert(std::numeric_limits<long double>::digits >= 64, "rows are compared exactly with reals");
        constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min(),
                               kMax = std::numeric_limits<std::int64_t>::max();
        const quint32 seed = test::randomSeed();
        Notes gen(seed);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("x.db"));
        std::array<Db, 2> db{Db(positions, file), Db(positions, file)};
        for (Db& d : db)
            d.exec(QStringLiteral("PRAGMA synchronous=OFF")); // nothing here has to outlast the test
        QCOMPARE(db[0].exec(QStringLiteral("CREATE TABLE feed(row INTEGER CHECK(row IS NOT 'stop'), old, body); "
                                           "CREATE TRIGGER fed AFTER INSERT ON feed BEGIN INSERT INTO x(x, rowid, "
                                           "body) SELECT 'delete', new.row, new.old WHERE new.old IS NOT NULL; "
                                           "INSERT INTO x(rowid, body) SELECT new.row, new.body WHERE new.body IS "
                                           "NOT NULL; END")),
                 SQLITE_OK);
        using Texts = std::map<std::int64_t, std::string>;
        Texts committed, now;                         // as the other connection sees them, and the one in a transaction
        std::vector<Texts> marks;                     // per savepoint
        int writer = -1;                              // the connection in a transaction
        bool begun = false;                           // by BEGIN rather than by a savepoint
        std::int64_t next = wide ? kMax - 400 : 1000; // rows from here on are appended
        std::map<std::string, std::u32string> folds;
        auto folded = [&](const std::string& t) -> const std::u32string& {
            auto it = folds.find(t);
            return it != folds.end() ? it->second : folds.emplace(t, gen.folded(t)).first->second;
        };
        struct Change {
            std::int64_t row;
            std::optional<std::string> was, text;
        };
        auto change = [&](Texts& notes) {
            Change ch{0, {}, gen.text()};
            const auto kind = gen.random() % 8;
            if (kind < 3 && !notes.empty()) { // an edit or a delete
                ch.row = std::next(notes.begin(), std::ptrdiff_t(gen.random() % notes.size()))->first;
                if (kind == 0)
                    ch.text.reset();
            } else if (kind < 5) { // among the others, also near the lowest row
                const std::uint64_t low = wide ? std::uint64_t(kMin) : 0,
                                    span = wide && gen.random() % 2 ? 64 : std::uint64_t(next) - low;
                ch.row = std::int64_t(low + gen.random() % span);
            } else {
                ch.row = next;
                next = next > kMax - 4 ? kMax : next + 1 + std::int64_t(gen.random() % 3);
            }
            if (notes.count(ch.row))
                ch.was = notes[ch.row];
            if (ch.text)
                notes[ch.row] = *ch.text;
            else
                notes.erase(ch.row);
            return ch;
        };
        // A rollback may let the rows taken back be appended again.
        auto takenBack = [&] {
            if (gen.random() % 2 && !now.empty() && now.rbegin()->first < kMax)
                next = now.rbegin()->first + 1;
        };
        auto word = [&](const Texts& notes) -> std::u32string {
            if (notes.empty() || gen.random() % 6 == 0)
                return U"会議";
            const std::u32string& f = folded(
                std::next(notes.begin(), std::ptrdiff_t(gen.random() % notes.size()))->second);
            return f.empty() ? U"a" : f.substr(gen.random() % f.size(), 1 + gen.random() % 4);
        };
        for (int step = 0; step < 700; ++step) {
            int c = writer >= 0 ? writer : int(gen.random() % 4 == 0);
            QString what;
            auto at = [&] {
                return QStringLiteral("seed %1 step %2, connection %3: %4: %5")
                    .arg(seed)
                    .arg(step)
                    .arg(c)
                    .arg(what, QString::fromUtf8(sqlite3_errmsg(db[size_t(c)].db)))
                    .toUtf8();
            };
            auto exec = [&](const QString& sql) {
                what = sql;
                return db[size_t(c)].exec(sql) == SQLITE_OK;
            };
            const auto r = gen.random() % 100;
            if (r < 30) { // writes, one statement each or a few through the trigger
                Texts notes = now;
                std::vector<Change> changes;
                for (auto n = 1 + gen.random() % 3; n--;)
                    changes.push_back(change(notes));
                bool ok = true;
                if (gen.random() % 3) {
                    what = QStringLiteral("writes");
                    for (const Change& ch : changes)
                        ok = ok && (!ch.was || db[size_t(c)].remove(ch.row, *ch.was))
                             && (!ch.text || db[size_t(c)].insert(ch.row, *ch.text));
                    QVERIFY2(ok, at().constData());
                } else {
                    std::string sql = "INSERT INTO feed VALUES ";
                    std::vector<std::string> texts;
                    for (const Change& ch : changes) {
                        texts.push_back(std::to_string(ch.row));
                        sql += "(?";
                        for (const auto* t : {&ch.was, &ch.text}) {
                            sql += *t ? ", ?" : ", NULL";
                            if (*t)
                                texts.push_back(**t);
                        }
                        sql += "), ";
                    }
                    // The last row passes, breaks a constraint, or makes the index fail.
                    const auto fail = gen.random() % 3;
                    sql += std::array{"(NULL, NULL, NULL)", "('stop', NULL, NULL)", "(NULL, NULL, 'a')"}[fail];
                    what = QString::fromStdString(sql);
                    ok = db[size_t(c)].rows(sql.c_str(), texts).empty();
                    QVERIFY2(ok == !fail, at().constData());
                }
                if (ok)
                    now = notes;
            } else if (r < 36) {
                const bool begin = writer < 0, commit = gen.random() % 3;
                QVERIFY2(exec(QLatin1String(begin ? "BEGIN" : commit ? "COMMIT" : "ROLLBACK")), at().constData());
                writer = begin ? c : -1;
                begun = true;
                marks.clear();
                if (!begin && !commit) {
                    now = committed;
                    takenBack();
                }
            } else if (r < 44) {
                const size_t depth = marks.size(), k = depth ? gen.random() % depth : 0;
                if (depth == 0 || (depth < 4 && gen.random() % 3 == 0)) {
                    QVERIFY2(exec(QStringLiteral("SAVEPOINT s%1").arg(depth)), at().constData());
                    begun = writer >= 0 && begun;
                    writer = c;
                    marks.push_back(now);
                } else if (gen.random() % 2) {
                    QVERIFY2(exec(QStringLiteral("RELEASE s%1").arg(k)), at().constData());
                    marks.resize(k);
                    if (marks.empty() && !begun)
                        writer = -1;
                } else {
                    QVERIFY2(exec(QStringLiteral("ROLLBACK TO s%1").arg(k)), at().constData());
                    now = marks[k];
                    marks.resize(k + 1);
                    takenBack();
                }
            } else if (r < 80) { // a search, with 0 to 2 bounds on the rows
                c = int(gen.random() % 2);
                const Texts& seen = writer < 0 || writer == c ? now : committed;
                std::vector<std::u32string> runs;
                while (runs.empty() || (runs.size() == 1 && gen.random() % 4 == 0))
                    if (const std::u32string w = word(seen); Notes::askable(w))
                        runs.push_back(w);
                const std::string match = Notes::match(runs);
                what = QString::fromStdString(match);
                static const char* const ops[] = {">=", ">", "<=", "<", "="};
                std::string sql = "SELECT rowid FROM x WHERE x MATCH ?";
                std::vector<std::pair<size_t, long double>> bounds;
                std::vector<Number> values;
                for (auto n = gen.random() % 3; n--;) {
                    const std::int64_t some =
                        seen.empty() ? 0 : std::next(seen.begin(), std::ptrdiff_t(gen.random() % seen.size()))->first;
                    static const Number specials[] = {kMin, kMax, 2.5, -0.5, 1e19, -1e19, 9223372036854775807.0};
                    const Number near[] = {some, some < kMax ? some + 1 : kMin, double(some) + 0.5, double(some) - 0.5};
                    values.push_back(gen.random() % 2 ? near[gen.random() % std::size(near)]
                                                      : specials[gen.random() % std::size(specials)]);
                    const auto* real = std::get_if<double>(&values.back());
                    bounds.emplace_back(gen.random() % std::size(ops),
                                        real ? *real : static_cast<long double>(std::get<std::int64_t>(values.back())));
                    sql += std::string(" AND rowid ") + ops[bounds.back().first] + " ?";
                    what += QStringLiteral(", ")
                            + (real ? QString::number(*real, 'g', 17)
                                    : QString::number(std::int64_t(bounds.back().second)));
                }
                what.prepend(QString::fromStdString(sql) + QStringLiteral(" with "));
                std::vector<std::int64_t> expected;
                for (const auto& [row, text] : seen) {
                    bool in = true;
                    for (const auto& [op, v] : bounds) {
                        const long double a = row;
                        in = in && std::array{a >= v, a > v, a <= v, a < v, a == v}[op];
                    }
                    for (const auto& run : runs)
                        in = in && folded(text).find(run) != std::u32string::npos;
                    if (in)
                        expected.push_back(row);
                }
                const auto found = db[size_t(c)].rows(sql.c_str(), {match}, values);
                const bool exact = positions || std::all_of(runs.begin(), runs.end(), [](const auto& run) {
                                       return run.size() <= 2;
                                   });
                QVERIFY2(exact ? found == expected
                               : std::includes(found.begin(), found.end(), expected.begin(), expected.end()),
                         at().constData());
            } else if (r < 90) {
                QVERIFY2(exec(QStringLiteral("INSERT INTO x(x, rank) VALUES('merge', %1)")
                                  .arg(std::array{-1, 1, 2, 8, 100}[gen.random() % 5])),
                         at().constData());
            } else {
                QVERIFY2(exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), at().constData());
                QVERIFY2(writer >= 0 || db[size_t(c)].one("SELECT rows FROM x_state") == std::int64_t(now.size()),
                         at().constData());
            }
            if (writer < 0)
                committed = now;
        }
    }

    // The check finds each damage, also a block that still reads as one;
    // another connection can still drop the table to build it again,
    // unless it is of a later layout, which no statement reads. Writes
    // the index cannot take fail with a message and change nothing.
    void faults_data()
    {
        QTest::addColumn<QString>("damage"); // empty: a bit flipped
        QTest::newRow("a bit flipped where it still reads") << QString();
        QTest::newRow("a block cut short") << QStringLiteral(
            "UPDATE x_blocks SET data = substr(data, 1, length(data) - 1) WHERE (token, first_row) = (SELECT token, "
            "first_row FROM x_blocks ORDER BY length(data) DESC LIMIT 1)");
        QTest::newRow("a row beyond the top") << QStringLiteral("UPDATE x_state SET top = top - 1");
        QTest::newRow("no top") << QStringLiteral("UPDATE x_state SET top = NULL");
        QTest::newRow("an older layout") << QStringLiteral("UPDATE x_state SET layout = 0");
        QTest::newRow("a later layout") << QStringLiteral("UPDATE x_state SET layout = 2");
        QTest::newRow("two state rows") << QStringLiteral("INSERT INTO x_state SELECT * FROM x_state");
        QTest::newRow("no state row") << QStringLiteral("DELETE FROM x_state");
        for (const char* shadow : {"blocks", "kept", "state"})
            QTest::addRow("no %s table", shadow) << QStringLiteral("DROP TABLE x_%1").arg(QLatin1String(shadow));
    }
    void faults()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.db"));
        Db db(true, path);
        Notes gen(5);
        QCOMPARE(db.exec(QStringLiteral("BEGIN")), SQLITE_OK);
        for (int row = 1; row <= 300; ++row)
            db.insert(row, "会議 " + gen.text());
        QCOMPARE(db.exec(QStringLiteral("COMMIT")), SQLITE_OK);
        // A row deleted with no text, beyond the others, and one written
        // below it: kept rows the check takes as they are.
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x, rowid, body) VALUES('delete', 5000, NULL)")), SQLITE_OK);
        db.insert(4000, "会議");
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM x WHERE rowid = 1")), SQLITE_ERROR);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('optimise')")), SQLITE_ERROR);
        QCOMPARE(db.exec(QStringLiteral("SELECT rowid FROM x")), SQLITE_ERROR);
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '会議'").size(), size_t(301));
        // Bounds beyond every row number, as the engine compares them.
        for (const auto& [bound, count] :
             std::vector<std::pair<const char*, size_t>>{{"rowid >= 1e19", 0},
                                                         {"rowid < 1e19", 301},
                                                         {"rowid >= 9223372036854775807.0", 0},
                                                         {"rowid > -1e19", 301},
                                                         {"rowid <= -1e19", 0},
                                                         {"rowid = 2.5", 0},
                                                         {"rowid > 2.5 AND rowid <= 4.0", 2}})
            QCOMPARE(db.rows(("SELECT rowid FROM x WHERE x MATCH '会議' AND " + std::string(bound)).c_str()).size(),
                     count);
        if (!damage.isEmpty()) {
            QCOMPARE(db.exec(damage), SQLITE_OK);
            QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_CORRUPT_VTAB);
            Db other(true, path, false);
            const bool later = damage.endsWith(QLatin1String("layout = 2"));
            if (later)
                QCOMPARE(other.exec(QStringLiteral("SELECT rowid FROM x WHERE x MATCH '会議'")), SQLITE_ERROR);
            QCOMPARE(other.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")),
                     later ? SQLITE_ERROR : SQLITE_CORRUPT_VTAB);
            QCOMPARE(other.exec(QStringLiteral("DROP TABLE x")), later ? SQLITE_ERROR : SQLITE_OK);
            return;
        }
        // A bit changed where the coding still reads: the sum of the
        // entries sees it.
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db.db, "SELECT token, first_row, data FROM x_blocks ORDER BY length(data) DESC LIMIT 1", -1,
                           &st, nullptr);
        QCOMPARE(sqlite3_step(st), SQLITE_ROW);
        const Token token = Token(sqlite3_column_int64(st, 0));
        const std::int64_t first = sqlite3_column_int64(st, 1);
        const std::string data(static_cast<const char*>(sqlite3_column_blob(st, 2)),
                               size_t(sqlite3_column_bytes(st, 2)));
        sqlite3_finalize(st);
        auto write = [&](const std::string& bytes) {
            sqlite3_prepare_v2(db.db, "UPDATE x_blocks SET data = ? WHERE token = ? AND first_row = ?", -1, &st,
                               nullptr);
            sqlite3_bind_blob(st, 1, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 2, std::int64_t(token));
            sqlite3_bind_int64(st, 3, first);
            sqlite3_step(st);
            return sqlite3_finalize(st);
        };
        std::string changed;
        for (size_t bit = data.size() * 8 - 1; bit > 8 && changed.empty(); --bit) {
            changed = data;
            changed[bit / 8] = char(changed[bit / 8] ^ (1 << (7 - bit % 8)));
            if (!blockSound(first, changed, isPair(token)))
                changed.clear();
        }
        QVERIFY(!changed.empty());
        QCOMPARE(write(changed), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_CORRUPT_VTAB);
        QCOMPARE(write(data), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
    }

    // Block writes that fail half-way (a full disk, say) are taken back
    // with their statement and leave nothing behind: a search in the
    // same transaction writes nothing, and later writes keep the check's
    // sum of entries.
    void failedBlockWrites()
    {
        Db db(true);
        Notes gen(7);
        // Full once as many blocks were written as `full` says.
        QCOMPARE(db.exec(QStringLiteral(
                     "CREATE TABLE full(x); CREATE TABLE written(n); INSERT INTO written VALUES(0); CREATE TRIGGER "
                     "counting AFTER INSERT ON x_blocks BEGIN UPDATE written SET n = n + 1; END; CREATE TRIGGER "
                     "filling BEFORE INSERT ON x_blocks WHEN (SELECT n FROM written) >= (SELECT max(x) FROM full) "
                     "BEGIN SELECT RAISE(ABORT, 'full'); END")),
                 SQLITE_OK);
        std::string first;
        for (int row = 1; row <= 200; ++row) {
            const std::string text = "会議 " + gen.text();
            db.insert(row, text);
            if (row == 1)
                first = text;
        }
        db.remove(1, first);
        const auto search = [&] { return db.rows("SELECT rowid FROM x WHERE x MATCH '会議' AND rowid > 190"); };
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO full VALUES(1)")), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("BEGIN")), SQLITE_OK);
        for (int row = 201; row <= 260; ++row)
            db.insert(row, "会議 " + gen.text());
        QCOMPARE(search().size(), size_t(70));
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM full")), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("COMMIT")), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO full VALUES(1)")), SQLITE_OK);
        QVERIFY(db.exec(QStringLiteral("INSERT INTO x(x, rank) VALUES('merge', 64)")) != SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM full")), SQLITE_OK);
        db.insert(1, "会議");
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '会議'").size(), size_t(260));
        QVERIFY(db.mergeAll(64) >= 1);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
        QCOMPARE(search().size(), size_t(70));

        // A write that fails half-way in a statement the engine does not
        // take back: nothing more is read or written until the
        // transaction is rolled back, and then all is as before it.
        QCOMPARE(db.exec(QStringLiteral("BEGIN")), SQLITE_OK);
        for (int row = 300; row < 320; ++row)
            QVERIFY(db.insert(row, "会議 " + gen.text()));
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO full SELECT n + 5 FROM written")), SQLITE_OK);
        QVERIFY(!db.remove(1, "会議"));
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '会議'"), (std::vector<std::int64_t>{-1, -1, -1}));
        QCOMPARE(sqlite3_extended_errcode(db.db), SQLITE_ABORT);
        QVERIFY(db.exec(QStringLiteral("COMMIT")) != SQLITE_OK);
        db.exec(QStringLiteral("ROLLBACK"));
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM full")), SQLITE_OK);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO x(x) VALUES('integrity-check')")), SQLITE_OK);
        QCOMPARE(db.rows("SELECT rowid FROM x WHERE x MATCH '会議'").size(), size_t(260));
        QCOMPARE(db.one("SELECT rows FROM x_state"), 260);
    }
};

QTEST_GUILESS_MAIN(TestPostings)
#include "tst_postings.moc"

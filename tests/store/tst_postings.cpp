#include "store/jetlike.h"
#include "store/postings.h"

#include <QTest>

#include <map>
#include <random>

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

} // namespace

class TestPostings : public QObject {
    Q_OBJECT

private slots:
    // After every round of random edits and deletes, each word drawn finds
    // in the blocks exactly the rows a scan of the folded texts finds (a
    // superset for longer words without positions).
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
                for (const Block& b : blocks)
                    QVERIFY(blockSound(b.firstRow, b.data, withPositions && isPair(token)));
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

    // A block cut short, grown or overwritten is seen as damage.
    void damagedBlocks()
    {
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
        QVERIFY(!blockSound(-3, good.substr(0, good.size() / 2), true));
        QVERIFY(!blockSound(-3, good + '\x01', true));
        QVERIFY(!blockSound(-3, std::string(good.size(), '\xff'), true));
        const Postings back = decodeBlock(-3, good, true);
        QCOMPARE(back.rows, p.rows);
        QCOMPARE(back.positions, p.positions);
    }
};

QTEST_GUILESS_MAIN(TestPostings)
#include "tst_postings.moc"

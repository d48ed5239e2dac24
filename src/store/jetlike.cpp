#include "jetlike.h"

#include <QList>
#include <QString>
#include <memory>
#include <sqlite3.h>
#include <cstdint>
#include <string>
#include <vector>

namespace zumilo::store {

namespace {

// --- folding ----------------------------------------------------------------

char32_t foldCodePoint(char32_t c)
{
    if (c >= 0x30A1 && c <= 0x30F6)
        c -= 0x60; // katakana to hiragana
    return QChar::toCaseFolded(c);
}

// For most characters of Japanese text NFKC is a per-character mapping.
// The table holds the folded form of those characters so that one pass over
// the UTF-8 bytes folds a whole text; 0xFFFF marks a character that may
// take part in composition or expand, which sends the text the slow way.
constexpr char16_t Slow = 0xFFFF;

struct FoldTable {
    char16_t map[0x10000];
    // Half-width kana followed by ﾞ or ﾟ: the folded composed character.
    char16_t voiced[0xFF9E - 0xFF61][2];

    FoldTable()
    {
        std::fill(std::begin(map), std::end(map), Slow);
        for (char32_t c = 0; c < 0x80; ++c)
            map[c] = char16_t(foldCodePoint(c));
        const std::pair<char32_t, char32_t> checked[] = {
            {0x00A0, 0x024F}, // Latin-1 and Latin Extended
            {0x0370, 0x052F}, // Greek, Cyrillic
            {0x2000, 0x2BFF}, // punctuation, symbols, arrows, box drawing
            {0x3000, 0x30FF}, // CJK punctuation, hiragana, katakana
            {0xFF01, 0xFF5E}, // full-width ASCII
            {0xFF61, 0xFF9D}, // half-width katakana; their marks are composed below
            {0xFFE0, 0xFFEE},
        };
        for (const auto& [first, last] : checked) {
            for (char32_t c = first; c <= last; ++c) {
                const QChar qc{char16_t(c)};
                if (qc.isSurrogate() || QChar::combiningClass(c) != 0)
                    continue;
                const QString n = QString(qc).normalized(QString::NormalizationForm_KC);
                if (n.size() != 1 || n.at(0).isSurrogate() || n.at(0).combiningClass() != 0)
                    continue;
                const char32_t folded = foldCodePoint(n.at(0).unicode());
                if (folded < 0x10000 && folded != Slow)
                    map[c] = char16_t(folded);
            }
        }
        for (char16_t base = 0xFF61; base < 0xFF9E; ++base) {
            for (int k = 0; k < 2; ++k) {
                const QChar units[2] = {QChar(base), QChar(char16_t(0xFF9E + k))};
                const QString pair(units, 2);
                const QString n = pair.normalized(QString::NormalizationForm_KC);
                const bool single = n.size() == 1 && !n.at(0).isSurrogate();
                voiced[base - 0xFF61][k] = single ? char16_t(foldCodePoint(n.at(0).unicode())) : Slow;
            }
        }
        // Unified ideographs have no compatibility mappings.
        for (char32_t c = 0x3400; c <= 0x4DBF; ++c)
            map[c] = char16_t(c);
        for (char32_t c = 0x4E00; c <= 0x9FFF; ++c)
            map[c] = char16_t(c);
    }
};

const FoldTable& foldTable()
{
    static const FoldTable table;
    return table;
}

bool fastSupplementary(char32_t c)
{
    return (c >= 0x1F300 && c <= 0x1FAFF)    // pictographs and emoji
           || (c >= 0x20000 && c <= 0x2F7FF) // ideographs, extension B on
           || (c >= 0x30000 && c <= 0x3134F);
}

// The character at `s` (not ASCII), moving `s` past it; false for bytes
// that are no UTF-8.
bool decodeUtf8(const unsigned char*& s, const unsigned char* end, char32_t& c)
{
    const unsigned char b = *s;
    int len;
    if ((b & 0xE0) == 0xC0) {
        c = b & 0x1F;
        len = 2;
    } else if ((b & 0xF0) == 0xE0) {
        c = b & 0x0F;
        len = 3;
    } else if ((b & 0xF8) == 0xF0) {
        c = b & 0x07;
        len = 4;
    } else {
        return false;
    }
    if (end - s < len)
        return false;
    for (int k = 1; k < len; ++k) {
        const unsigned char cb = s[k];
        if ((cb & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (cb & 0x3F);
    }
    s += len;
    return true;
}

} // namespace

size_t foldUtf8(const unsigned char* p, size_t n, std::vector<char32_t>& out)
{
    if (out.size() < n + 1)
        out.resize(n + 1);
    const FoldTable& table = foldTable();
    char32_t* o = out.data();
    const unsigned char* end = p + n;
    const unsigned char* s = p;
    bool slow = false;
    char32_t previous = 0; // the character before folding
    while (s < end) {
        const unsigned char b = *s;
        if (b < 0x80) {
            *o++ = table.map[b];
            previous = b;
            ++s;
            continue;
        }
        char32_t c;
        // Most of a Japanese text: three bytes a character.
        if ((b & 0xF0) == 0xE0 && end - s >= 3 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
            c = (char32_t(b & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | char32_t(s[2] & 0x3F);
            s += 3;
        } else if (!decodeUtf8(s, end, c)) {
            slow = true;
            break;
        }
        if (c == 0xFF9E || c == 0xFF9F) {
            // ｶﾞ is one character, ガ, to NFKC.
            const char16_t m = previous >= 0xFF61 && previous < 0xFF9E ? table.voiced[previous - 0xFF61][c - 0xFF9E]
                                                                       : Slow;
            if (m == Slow) {
                slow = true;
                break;
            }
            o[-1] = m;
            previous = 0;
            continue;
        }
        previous = c;
        if (c < 0x10000) {
            const char16_t m = table.map[c];
            if (m == Slow) {
                slow = true;
                break;
            }
            *o++ = m;
        } else if (fastSupplementary(c)) {
            *o++ = c;
        } else {
            slow = true;
            break;
        }
    }
    if (!slow)
        return size_t(o - out.data());

    const QString normal =
        QString::fromUtf8(reinterpret_cast<const char*>(p), qsizetype(n)).normalized(QString::NormalizationForm_KC);
    if (out.size() < size_t(normal.size()) + 1)
        out.resize(size_t(normal.size()) + 1);
    o = out.data();
    for (qsizetype i = 0; i < normal.size(); ++i) {
        char32_t c = normal.at(i).unicode();
        if (normal.at(i).isHighSurrogate() && i + 1 < normal.size() && normal.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(normal.at(i), normal.at(i + 1));
            ++i;
        }
        *o++ = foldCodePoint(c);
    }
    return size_t(o - out.data());
}

namespace {

std::vector<char32_t> foldText(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    std::vector<char32_t> out;
    out.resize(foldUtf8(reinterpret_cast<const unsigned char*>(utf8.constData()), size_t(utf8.size()), out));
    return out;
}

// --- patterns ---------------------------------------------------------------

struct Element {
    enum Kind { Literal, Any, Digit, Class } kind;
    char32_t ch = 0;    // Literal
    int charClass = -1; // Class
};

struct CharClass {
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;

    bool contains(char32_t c) const
    {
        bool in = false;
        for (const auto& [lo, hi] : ranges)
            if (c >= lo && c <= hi) {
                in = true;
                break;
            }
        return in != negated;
    }
};

// A run of one-character elements between stars.
struct Segment {
    std::vector<Element> elements;
    std::u32string literal; // the run itself when it has no wildcard
    bool allLiteral = true;
    // For a literal run: border[k] is the length of the longest proper
    // prefix of literal[0..k] that is also its suffix, so that a search
    // never steps back in the text (Knuth-Morris-Pratt).
    std::vector<uint32_t> border;

    void prepareSearch()
    {
        if (!allLiteral || literal.size() < 2)
            return;
        border.assign(literal.size(), 0);
        for (size_t i = 1, k = 0; i < literal.size(); ++i) {
            while (k > 0 && literal[i] != literal[k])
                k = border[k - 1];
            if (literal[i] == literal[k])
                ++k;
            border[i] = uint32_t(k);
        }
    }

    // First position >= from where the literal run ends by `limit`; time
    // linear in limit - from whatever the run and the text.
    std::ptrdiff_t findLiteral(const char32_t* text, size_t from, size_t limit) const
    {
        const size_t m = literal.size();
        size_t k = 0; // characters of the run matched before text[i]
        for (size_t i = from; i < limit;) {
            if (k == 0) {
                if (limit - i < m)
                    return -1;
                // Runs of text that cannot start a match go by at memchr speed.
                const char32_t* at = std::char_traits<char32_t>::find(text + i, limit - i, literal[0]);
                if (!at)
                    return -1;
                i = size_t(at - text) + 1;
                k = 1;
            } else if (text[i] == literal[k]) {
                ++i;
                ++k;
            } else {
                k = border[k - 1];
                continue;
            }
            if (k == m)
                return std::ptrdiff_t(i - m);
        }
        return -1;
    }
};

struct Pattern {
    std::vector<Segment> segments; // split at stars
    std::vector<CharClass> classes;
    bool hasStar = false;
    size_t minLength = 0;

    bool elementMatches(const Element& e, char32_t c) const
    {
        switch (e.kind) {
        case Element::Literal:
            return c == e.ch;
        case Element::Any:
            return true;
        case Element::Digit:
            return c >= '0' && c <= '9';
        case Element::Class:
            return classes[size_t(e.charClass)].contains(c);
        }
        return false;
    }

    bool segmentAt(const Segment& s, const char32_t* text) const
    {
        if (s.allLiteral)
            return std::char_traits<char32_t>::compare(text, s.literal.data(), s.literal.size()) == 0;
        for (size_t i = 0; i < s.elements.size(); ++i)
            if (!elementMatches(s.elements[i], text[i]))
                return false;
        return true;
    }

    // First position >= from where `s` fits entirely before `limit`.
    std::ptrdiff_t find(const Segment& s, const char32_t* text, size_t from, size_t limit) const
    {
        const size_t len = s.elements.size();
        if (len == 0)
            return std::ptrdiff_t(from);
        if (limit < len || from > limit - len)
            return -1;
        if (s.allLiteral)
            return s.findLiteral(text, from, limit);
        for (size_t i = from; i + len <= limit; ++i)
            if (segmentAt(s, text + i))
                return std::ptrdiff_t(i);
        return -1;
    }

    bool matches(const char32_t* text, size_t n) const
    {
        if (n < minLength)
            return false;
        if (!hasStar)
            return n == segments[0].elements.size() && segmentAt(segments[0], text);
        const Segment& head = segments.front();
        const Segment& tail = segments.back();
        if (!segmentAt(head, text))
            return false;
        size_t pos = head.elements.size();
        const size_t tailStart = n - tail.elements.size();
        if (!segmentAt(tail, text + tailStart))
            return false;
        // Stars between fixed-length runs: the leftmost fit of each run is
        // never worse than a later one.
        for (size_t k = 1; k + 1 < segments.size(); ++k) {
            const std::ptrdiff_t at = find(segments[k], text, pos, tailStart);
            if (at < 0)
                return false;
            pos = size_t(at) + segments[k].elements.size();
        }
        return pos <= tailStart;
    }
};

char32_t foldSingle(char32_t c)
{
    const std::vector<char32_t> f = foldText(QString::fromUcs4(&c, 1));
    return f.empty() ? c : f.front();
}

std::unique_ptr<Pattern> compile(const QString& pattern)
{
    auto p = std::make_unique<Pattern>();
    p->segments.emplace_back();
    QString run; // literal characters, folded together so that ｶﾞ stays one

    auto flush = [&] {
        if (run.isEmpty())
            return;
        for (char32_t c : foldText(run)) {
            Segment& s = p->segments.back();
            s.elements.push_back({Element::Literal, c, -1});
            s.literal.push_back(c);
        }
        run.clear();
    };
    auto add = [&](Element e) {
        flush();
        Segment& s = p->segments.back();
        s.elements.push_back(e);
        s.allLiteral = false;
    };

    const QList<uint> cps = pattern.toUcs4();
    for (qsizetype i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == '*') {
            flush();
            p->hasStar = true;
            if (!p->segments.back().elements.empty() || p->segments.size() == 1)
                p->segments.emplace_back();
        } else if (c == '?') {
            add({Element::Any});
        } else if (c == '#') {
            add({Element::Digit});
        } else if (c == '[') {
            qsizetype close = -1;
            for (qsizetype k = i + 1; k < cps.size(); ++k)
                if (cps[k] == ']') {
                    close = k;
                    break;
                }
            if (close < 0) {
                run += QLatin1Char('['); // no class: the bracket itself
                continue;
            }
            std::vector<char32_t> body(cps.begin() + i + 1, cps.begin() + close);
            i = close;
            if (body.empty())
                continue; // [] stands for nothing
            if (body.size() == 1) {
                run += QString::fromUcs4(&body[0], 1); // [*] [?] [#] [[]
                continue;
            }
            CharClass cls;
            size_t k = 0;
            if (body[0] == '!') {
                cls.negated = true;
                k = 1;
            }
            for (; k < body.size(); ++k) {
                const char32_t lo = foldSingle(body[k]);
                if (k + 2 < body.size() && body[k + 1] == '-') {
                    cls.ranges.emplace_back(lo, foldSingle(body[k + 2]));
                    k += 2;
                } else {
                    cls.ranges.emplace_back(lo, lo);
                }
            }
            p->classes.push_back(std::move(cls));
            add({Element::Class, 0, int(p->classes.size() - 1)});
        } else {
            run += QString::fromUcs4(&c, 1);
        }
    }
    flush();
    if (p->hasStar && p->segments.size() == 1)
        p->segments.emplace_back();
    for (Segment& s : p->segments) {
        p->minLength += s.elements.size();
        s.prepareSearch();
    }
    return p;
}

thread_local std::vector<char32_t> textBuffer;

void likeFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    try {
        auto* pattern = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
        std::unique_ptr<Pattern> fresh;
        if (!pattern) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
            fresh = compile(QString::fromUtf8(text, sqlite3_value_bytes(argv[0])));
            pattern = fresh.get();
        }
        const auto* value = sqlite3_value_text(argv[1]);
        const size_t bytes = size_t(sqlite3_value_bytes(argv[1]));
        const size_t n = value ? foldUtf8(value, bytes, textBuffer) : 0;
        sqlite3_result_int(ctx, pattern->matches(textBuffer.data(), n) ? 1 : 0);
        // Kept for the next row while the pattern is a constant of the statement.
        if (fresh)
            sqlite3_set_auxdata(ctx, 0, fresh.release(), [](void* p) { delete static_cast<Pattern*>(p); });
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    } catch (...) {
        sqlite3_result_error(ctx, "like failed", -1);
    }
}

void sortKey(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    try {
        const auto* value = sqlite3_value_text(argv[0]);
        thread_local std::u16string units;
        sortKeyUnits(value, value ? size_t(sqlite3_value_bytes(argv[0])) : 0, units);
        // Big-endian, so that the engine's byte order is the units' order.
        std::string key;
        key.reserve(units.size() * 2);
        for (char16_t u : units) {
            key.push_back(char(u >> 8));
            key.push_back(char(u & 0xFF));
        }
        sqlite3_result_blob(ctx, key.data(), int(key.size()), SQLITE_TRANSIENT);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

} // namespace

void sortKeyUnits(const unsigned char* text, size_t bytes, std::u16string& out)
{
    const size_t n = text ? foldUtf8(text, bytes, textBuffer) : 0;
    out.clear();
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const char32_t c = textBuffer[i];
        if (c >= 0x10000) {
            out.push_back(QChar::highSurrogate(c));
            out.push_back(QChar::lowSurrogate(c));
        } else {
            out.push_back(char16_t(c));
        }
    }
}

QString foldForCompare(const QString& text)
{
    // Most Japanese text needs no normalization at all: ASCII, full-width
    // ASCII, kana and kanji fold one unit at a time.
    QString quick(text.size(), Qt::Uninitialized);
    QChar* out = quick.data();
    bool simple = true;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        char16_t f;
        if (c < 0x80)
            f = (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
        else if (c >= 0xFF01 && c <= 0xFF5E) {
            f = char16_t(c - 0xFEE0);
            if (f >= u'A' && f <= u'Z')
                f = char16_t(f + 32);
        } else if (c >= 0x30A1 && c <= 0x30F6)
            f = char16_t(c - 0x60);
        else if ((c >= 0x3041 && c <= 0x3096) || c == 0x30FC || (c >= 0x3001 && c <= 0x3029)
                 || (c >= 0x4E00 && c <= 0x9FFF))
            f = c;
        else if (c == 0x3000)
            f = u' ';
        else {
            simple = false;
            break;
        }
        *out++ = QChar(f);
    }
    if (simple)
        return quick;
    const std::vector<char32_t> f = foldText(text);
    return QString::fromUcs4(f.data(), qsizetype(f.size()));
}

LikeRuns likeRuns(const QString& pattern)
{
    const auto p = compile(pattern);
    LikeRuns r;
    for (const Segment& s : p->segments) {
        std::u32string run;
        for (const Element& e : s.elements) {
            if (e.kind == Element::Literal) {
                run.push_back(e.ch);
            } else if (!run.empty()) {
                r.runs.push_back(std::move(run));
                run.clear();
            }
        }
        if (!run.empty())
            r.runs.push_back(std::move(run));
    }
    // Compiled, *run* is an empty head, the run, and an empty tail.
    r.exact = p->segments.size() == 3 && p->segments[0].elements.empty() && p->segments[2].elements.empty()
              && p->segments[1].allLiteral && r.runs.size() == 1;
    return r;
}

bool jetLikeMatch(const QString& pattern, const QString& text)
{
    const auto p = compile(pattern);
    const std::vector<char32_t> f = foldText(text);
    return p->matches(f.data(), f.size());
}

int registerJetLike(sqlite3* db)
{
    const int rc = sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeFunction,
                                              nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    return sqlite3_create_function_v2(db, store::sortKeyFunction, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                      sortKey, nullptr, nullptr, nullptr);
}

} // namespace zumilo::store

#pragma once

#include <QString>
#include <string>
#include <vector>

struct sqlite3;

namespace zumilo::store {

// Folds text for comparison: NFKC, katakana to hiragana, case folded.
// Voiced marks are kept (が and か stay different).
QString foldForCompare(const QString& text);

// Jet LIKE: * any run, ? one character, # one digit, [abc] [a-z] one of,
// [!abc] none of; [*] [?] [#] [[] match the character itself. Comparison
// is on folded text (see foldForCompare).
bool jetLikeMatch(const QString& pattern, const QString& text);

// The folded characters of UTF-8 text, as like() compares them, into `out`
// (grown to fit). Returns how many there are.
size_t foldUtf8(const unsigned char* text, size_t bytes, std::vector<char32_t>& out);

// The key titles and names sort by: the folded text of UTF-8 `text` as
// UTF-16 units, compared unit by unit (the SQL function sortKeyFunction
// gives the same key as big-endian bytes).
void sortKeyUnits(const unsigned char* text, size_t bytes, std::u16string& out);

// The runs of literal characters of a pattern, folded as like() compares
// them: a text can only match when every run occurs in its folded form.
// `exact` when that is all the pattern asks (a pattern of the form *run*).
struct LikeRuns {
    std::vector<std::u32string> runs;
    bool exact = false;
};
LikeRuns likeRuns(const QString& pattern);

// Registers jetLikeMatch as the connection's like(pattern, value) function,
// so that "x like '*abc*'" in any statement uses Jet's rules, and
// sortKeyFunction() as the key names are ordered by. Returns the engine's
// result code: without these a search would quietly find nothing.
int registerJetLike(sqlite3* db);

// The SQL function whose value orders titles and names the way every list
// of the program does: foldForCompare() as UTF-16 in big-endian bytes, so
// that the engine's byte order is QString::compare()'s order of the folded
// texts. Null stays null.
inline constexpr char sortKeyFunction[] = "zumilo_sortkey";

} // namespace zumilo::store

#pragma once

#include <QString>

struct sqlite3;

namespace zumilo::store {

// Folds text for comparison: NFKC, katakana to hiragana, case folded.
// Voiced marks are kept (が and か stay different).
QString foldForCompare(const QString& text);

// Jet LIKE: * any run, ? one character, # one digit, [abc] [a-z] one of,
// [!abc] none of; [*] [?] [#] [[] match the character itself. Comparison
// is on folded text (see foldForCompare).
bool jetLikeMatch(const QString& pattern, const QString& text);

// Registers jetLikeMatch as the connection's like(pattern, value) function,
// so that "x like '*abc*'" in any statement uses Jet's rules.
void registerJetLike(sqlite3* db);

} // namespace zumilo::store

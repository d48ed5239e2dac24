// The LIKE matcher and its folding: the pattern and the text are the
// input's two parts around the first 0xFF byte (never part of UTF-8).
#include "fuzz.h"

#include "store/jetlike.h"
#include "store/jetsql.h"

#include <QString>
#include <sqlite3.h>

using namespace zumilo::store;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static sqlite3* db = [] {
        sqlite3* h = nullptr;
        sqlite3_open(":memory:", &h);
        registerJetLike(h);
        return h;
    }();
    const QByteArray bytes = fuzzBytes(data, size);
    const qsizetype cut = bytes.indexOf('\xff');
    const QByteArray patternBytes = cut < 0 ? bytes : bytes.left(cut);
    const QByteArray textBytes = cut < 0 ? QByteArray() : bytes.mid(cut + 1);
    const QString pattern = QString::fromUtf8(patternBytes);
    const QString text = QString::fromUtf8(textBytes);

    const bool direct = jetLikeMatch(pattern, text);
    FUZZ_CHECK(jetLikeMatch(QStringLiteral("*"), text));
    // A search word made literal finds itself.
    FUZZ_CHECK(jetLikeMatch(escapeLikeWildcards(text), text));
    foldForCompare(text);

    // In a statement, with the text's own bytes (not always UTF-8): the
    // same answer wherever the bytes are UTF-8, and never a crash.
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT ?2 LIKE ?1", -1, &st, nullptr);
    const QByteArray p = pattern.toUtf8();
    sqlite3_bind_text(st, 1, p.constData(), int(p.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, textBytes.constData(), int(textBytes.size()), SQLITE_TRANSIENT);
    FUZZ_CHECK(sqlite3_step(st) == SQLITE_ROW);
    if (text.toUtf8() == textBytes)
        FUZZ_CHECK(sqlite3_column_int(st, 0) == int(direct));
    sqlite3_finalize(st);
    return 0;
}

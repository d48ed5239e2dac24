// Reading statements of the dialect, alone and as recordsets over a notes
// file: no crash, no hang, and tokens that lie in order inside the text.
#include "fuzz.h"

#include "store/database.h"
#include "store/error.h"
#include "store/jetsql.h"
#include "store/recordset.h"
#include "store/schema.h"
#include "store/sqltokens.h"

#include <QTemporaryDir>
#include <sqlite3.h>

using namespace zumilo::store;

namespace {

Database& notesFile()
{
    static QTemporaryDir dir;
    static std::shared_ptr<Database> db = [] {
        const QString path = dir.filePath(QStringLiteral("notes.zmd"));
        createZumiloDatabase(path, true);
        auto opened = Database::open(path);
        opened->execute(QStringLiteral("insert into T_idea(title, naiyo, bunID, kijituDate, jyuyoCK) "
                                       "values('カレー', 'x', 1, '2026-12-06', -1)"));
        // A statement that runs away is stopped, as is one that builds a huge value.
        sqlite3_progress_handler(
            opened->handle(), 100000, [](void*) { return 1; }, nullptr);
        sqlite3_limit(opened->handle(), SQLITE_LIMIT_LENGTH, 1 << 20);
        return opened;
    }();
    return *db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString sql = QString::fromUtf8(fuzzBytes(data, size));
    qsizetype end = 0;
    for (const auto& t : detail::tokenize(sql)) {
        FUZZ_CHECK(t.begin >= end && t.end > t.begin && t.end <= sql.size());
        end = t.end;
    }
    detail::withoutInto(sql);
    rewriteJetDdl(sql);
    if (const auto parts = parseSelect(sql)) {
        singleTableName(parts->from);
        parseTextTarget(parts->into);
        orderByText(
            parts->orderBy, [](const QString&) { return true; }, QStringLiteral("k"));
        if (parts->into.isEmpty()) {
            try {
                auto rs = notesFile().openRecordset(sql, RecordsetType::Snapshot);
                for (int i = 0; i < rs->fieldCount(); ++i)
                    rs->textAt(0, i);
            } catch (const StoreError&) {
            }
        }
    }
    return 0;
}

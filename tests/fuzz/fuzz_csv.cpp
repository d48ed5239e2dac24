// The CSV writer of SELECT ... INTO [Text;...]: texts and a column name
// taken from the input (fields split at 0x1F) read back unchanged by an
// RFC 4180 reader.
#include "fuzz.h"

#include "store/database.h"
#include "store/error.h"
#include "store/sqltokens.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sqlite3.h>

using namespace zumilo::store;

namespace {

// Records of fields; empty when the text is not RFC 4180 with CRLF ends.
std::vector<std::vector<QByteArray>> readCsv(const QByteArray& s)
{
    std::vector<std::vector<QByteArray>> rows(1);
    QByteArray field;
    qsizetype i = 0;
    while (i < s.size()) {
        if (s[i] == '"') {
            for (++i; i < s.size(); ++i) {
                if (s[i] == '"' && !(i + 1 < s.size() && s[i + 1] == '"'))
                    break;
                field += s[i];
                i += s[i] == '"';
            }
            ++i;
        }
        while (i < s.size() && s[i] != ',' && s[i] != '\r')
            field += s[i++];
        rows.back().push_back(field);
        field.clear();
        if (i < s.size() && s[i] == ',') {
            ++i;
        } else if (s.mid(i, 2) == "\r\n") {
            i += 2;
            if (i < s.size())
                rows.emplace_back();
        } else {
            return {};
        }
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static QTemporaryDir* dir = &folder;
    static std::shared_ptr<Database> db = [] {
        auto d = Database::create(dir->filePath(QStringLiteral("t.zmd")));
        d->execute(QStringLiteral("create table t (a text(250), b longtext, d DateTime, n long)"));
        sqlite3_exec(d->handle(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
        return d;
    }();
    const QList<QByteArray> parts = fuzzBytes(data, size).split('\x1f');
    QVariantList values;
    for (int i = 0; i < 4; ++i)
        values << QString::fromUtf8(parts.value(i));
    const QString name = QString::fromUtf8(parts.value(4, "a"));
    const QString file = dir->filePath(QStringLiteral("out.csv"));
    try {
        db->execute(QStringLiteral("delete from t"));
        db->execute(QStringLiteral("insert into t values(?, ?, ?, ?)"), values);
        db->execute(QStringLiteral("select a as %1, b, d, n into [Text;database=%2].out.csv from t")
                        .arg(detail::quoteIdentifier(name), dir->path()));
    } catch (const StoreError&) {
        QFile::remove(file);
        return 0; // a name the engine does not take
    }
    QFile f(file);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    const QByteArray csv = f.readAll();
    f.close();
    QFile::remove(file);
    FUZZ_CHECK(csv.startsWith("\xEF\xBB\xBF"));
    const auto rows = readCsv(csv.mid(3));
    FUZZ_CHECK(rows.size() == 2 && rows[0].size() == 4 && rows[1].size() == 4);
    FUZZ_CHECK(QString::fromUtf8(rows[0][0]) == name);
    FUZZ_CHECK(QString::fromUtf8(rows[1][0]) == values[0].toString());
    FUZZ_CHECK(QString::fromUtf8(rows[1][1]) == values[1].toString());
    return 0;
}

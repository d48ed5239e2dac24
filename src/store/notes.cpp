#include "notes.h"

#include "columntype.h"
#include "database.h"
#include "recordset.h"
#include "statement.h"

#include <sqlite3.h>
#include <vector>

namespace zumilo::store {

qint64 nextNoteNumber(Database& db)
{
    const QVariant max = db.scalar(QStringLiteral("Select max(ID) as MaxID from T_idea"));
    return max.isNull() ? 1 : max.toLongLong() + 1;
}

std::optional<QString> categoryName(Database& db, qint64 bunID)
{
    if (bunID == 0)
        return std::nullopt;
    const QVariant name = db.scalar(QStringLiteral("SELECT coalesce(bunrui,'') FROM T_bunrui WHERE bunID=?"), {bunID});
    if (name.isNull())
        return std::nullopt;
    return name.toString();
}

std::optional<NoteState> noteState(Database& db, qint64 id)
{
    const auto rs = db.openRecordset(QStringLiteral("select * from T_idea where id = ") + QString::number(id),
                                     RecordsetType::Snapshot);
    if (!rs->hasCurrent())
        return std::nullopt;
    return NoteState{rs->text(QStringLiteral("kousindate")), rs->text(QStringLiteral("kousintime")),
                     rs->text(QStringLiteral("bunid")), rs->text(QStringLiteral("bunrui"))};
}

qint64 addCategory(Database& db, const QString& name, qint64 parent)
{
    qint64 number = 0;
    db.transaction([&] {
        const QVariant max = db.scalar(QStringLiteral("Select max(bunID) as MaxID from T_bunrui"));
        number = max.isNull() ? 1 : max.toLongLong() + 1;
        db.execute(QStringLiteral("INSERT INTO T_bunrui(bunid,bunrui,oyabunid) VALUES(?,?,?)"), {number, name, parent});
    });
    return number;
}

void renameCategory(Database& db, qint64 bunID, const QString& name)
{
    db.transaction([&] {
        db.execute(QStringLiteral("UPDATE T_bunrui SET bunrui=? WHERE bunID=?"), {name, bunID});
        db.execute(QStringLiteral("UPDATE T_idea SET bunrui=? WHERE bunID=?"), {name, bunID});
    });
}

bool categoryInUse(Database& db, qint64 bunID)
{
    return db
        .scalar(QStringLiteral("SELECT EXISTS(SELECT 1 FROM T_bunrui WHERE oyabunID=?) "
                               "OR EXISTS(SELECT 1 FROM T_idea WHERE bunID=?)"),
                {bunID, bunID})
        .toBool();
}

bool deleteCategory(Database& db, qint64 bunID)
{
    bool deleted = false;
    db.transaction([&] {
        if (categoryInUse(db, bunID))
            return;
        db.execute(QStringLiteral("DELETE FROM T_bunrui WHERE bunID=?"), QVariantList{bunID});
        deleted = true;
    });
    return deleted;
}

void moveCategory(Database& db, qint64 bunID, qint64 newParent)
{
    db.execute(QStringLiteral("UPDATE T_bunrui SET oyabunid=? WHERE bunID=?"), {newParent, bunID});
}

void moveNote(Database& db, qint64 noteID, qint64 bunID, const QString& categoryName)
{
    db.execute(QStringLiteral("UPDATE T_idea SET bunID=?, bunrui=? WHERE ID=?"), {bunID, categoryName, noteID});
}

void readNotes(Database& db, const QStringList& columns, const QList<qint64>& ids,
               const std::function<bool(qint64, const QVariantList&)>& row)
{
    // Some hundred notes a statement, in the order asked for: one read lock
    // each, not one a note.
    constexpr qsizetype chunk = 500;
    const QString select = QStringLiteral(
                               "SELECT wanted.k, %1 FROM wanted JOIN T_idea ON T_idea.id = wanted.k ORDER BY wanted.n")
                               .arg(columns.join(QLatin1Char(',')));
    QVariantList values;
    for (qsizetype from = 0; from < ids.size(); from += chunk) {
        const QList<qint64> part = ids.mid(from, chunk);
        QStringList rows;
        for (qsizetype i = 0; i < part.size(); ++i)
            rows << QStringLiteral("(%1,?)").arg(i);
        detail::Statement st(db.handle(),
                             QStringLiteral("WITH wanted(n, k) AS (VALUES %1) ").arg(rows.join(QLatin1Char(',')))
                                 + select);
        std::vector<ColumnType> types;
        for (int i = 1; i < st.columnCount(); ++i)
            types.push_back(ColumnType::fromDeclared(QString::fromUtf8(sqlite3_column_decltype(st.get(), i))));
        for (qsizetype i = 0; i < part.size(); ++i)
            st.bind(int(i) + 1, part.at(i));
        while (st.step()) {
            values.clear();
            for (int i = 1; i < st.columnCount(); ++i)
                values.append(fromStorage(types[size_t(i) - 1], st.column(i)));
            if (!row(st.columnInt(0), values)) {
                st.reset();
                return;
            }
        }
    }
}

} // namespace zumilo::store

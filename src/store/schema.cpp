#include "schema.h"

#include "columntype.h"
#include "database.h"
#include "error.h"
#include "recordset.h"
#include "statement.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <QFileInfo>

namespace zumilo::store {

QString createIdeaTableSql()
{
    return QStringLiteral("CREATE TABLE T_idea(")
           + QStringLiteral("id           counter       constraint pkey primary key,")
           + QStringLiteral("title        text(250),") + QStringLiteral("naiyo        longtext,")
           + QStringLiteral("bunID        long,") + QStringLiteral("bunrui       text(250),")
           + QStringLiteral("sinkiDate    DateTime,") + QStringLiteral("kousinDate   DateTime,")
           + QStringLiteral("kousinTime   text(50),") + QStringLiteral("kanryoCK     yesno,")
           + QStringLiteral("kanryoDate   DateTime,") + QStringLiteral("jyuyoCK      yesno,")
           + QStringLiteral("oyaID        long,") + QStringLiteral("kijituDate   DateTime,")
           + QStringLiteral("kijituTime   text(50),") + QStringLiteral("yusen        text(50),")
           + QStringLiteral("naiyoOLE     LONGBINARY,") + QStringLiteral("fileMEI      text(250)")
           + QStringLiteral(");");
}

QString createCategoryTableSql()
{
    return QStringLiteral("CREATE TABLE T_bunrui(")
           + QStringLiteral("bunID        long       constraint pkey primary key,")
           + QStringLiteral("bunrui       text(250),") + QStringLiteral("oyabunID     long") + QStringLiteral(");");
}

QString createOptionTableSql()
{
    return QStringLiteral("CREATE TABLE T_option(")
           + QStringLiteral("ID           text(50)       constraint pkey primary key,")
           + QStringLiteral("naiyo        text(250),") + QStringLiteral("[memo]       text(250)")
           + QStringLiteral(");");
}

QString seedIdeaSql()
{
    return QStringLiteral("INSERT INTO T_idea(id,naiyo)  VALUES(1,' ')");
}

const std::vector<StarterCategory>& starterCategories()
{
    static const std::vector<StarterCategory> list = {
        {1, "1 目標", 0},
        {2, "2 仕事", 0},
        {3, "3 プライベート", 0},
        {4, "4 アイデア", 0},
        {5, "5 得する情報", 0},
        {6, "6 ﾊﾟｿｺﾝﾃｸﾆｯｸ", 0},
        {9, "1 自分", 3},
        {10, "2 家族", 3},
        {11, "3 自治会", 3},
        {12, "1 現在の懸案", 2},
        {13, "2 処理済(記録用)", 2},
        {14, "1 ＶＢ", 6},
        {15, "2 Access", 6},
        {16, "3 Delphi", 6},
        {17, "9 その他", 6},
    };
    return list;
}

void addViewIndexes(Database& db)
{
    // Partial: the notes of each view alone, covered and by number, the
    // order the views show them in. Plain SQL, which every tool keeps.
    db.execute(QStringLiteral("CREATE INDEX IF NOT EXISTS ix_idea_jyuyo ON T_idea(jyuyoCK) WHERE jyuyoCK = -1"));
    db.execute(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS ix_idea_kijitu ON T_idea(kanryoCK, id, kijituDate) WHERE kijituDate >= 1"));
    // The 最近 view's order, its time part sorted within each day.
    db.execute(QStringLiteral("CREATE INDEX IF NOT EXISTS ix_idea_kousin ON T_idea(kousinDate, kousinTime)"));
}

void createZumiloDatabase(const QString& path, bool withStarterCategories)
{
    auto db = Database::create(path); // throws FileExists etc. before touching anything
    try {
        db->transaction([&] {
            db->execute(createIdeaTableSql());
            db->execute(seedIdeaSql(), FailOnError);
            db->execute(createCategoryTableSql());
            if (withStarterCategories) {
                for (const auto& c : starterCategories()) {
                    db->execute(QStringLiteral("INSERT INTO T_bunrui(bunid,bunrui,oyabunID)  VALUES(")
                                    + QString::number(c.bunID) + QLatin1Char(',') + QStringLiteral("'")
                                    + QString::fromUtf8(c.name) + QStringLiteral("'") + QLatin1Char(',')
                                    + QString::number(c.parent) + QLatin1Char(')'),
                                FailOnError);
                }
            }
            db->execute(createOptionTableSql());
            // Not part of the table layout: they only keep tree and list loading fast.
            // Covers listing a category: its notes by title with the listed
            // columns come from the index alone.
            db->execute(QStringLiteral("CREATE INDEX ix_idea_bunID ON T_idea(bunID, title, kijituDate, "
                                       "kousinDate, kousinTime, sinkiDate)"));
            db->execute(QStringLiteral("CREATE INDEX ix_bunrui_oyabunID ON T_bunrui(oyabunID)"));
            // Notes by title, the order every list starts in.
            db->execute(QStringLiteral("CREATE INDEX ix_idea_title ON T_idea(title)"));
            addViewIndexes(*db);
            db->rebuildSearchIndex();
        });
        db->close();
    } catch (...) {
        db->close();
        QFile::remove(path);
        QFile::remove(path + QStringLiteral("-journal"));
        throw;
    }
}

bool hasZumiloTables(const Database& db)
{
    bool idea = false, bunrui = false, option = false;
    for (const QString& name : db.tableNames()) {
        if (name.startsWith(QLatin1String("MSys")))
            continue;
        if (name == QLatin1String("T_idea"))
            idea = true;
        else if (name == QLatin1String("T_bunrui"))
            bunrui = true;
        else if (name == QLatin1String("T_option"))
            option = true;
    }
    return idea && bunrui && option;
}

namespace {

using Kinds = std::initializer_list<ColumnKind>;
constexpr Kinds Number{ColumnKind::Integer};
constexpr Kinds Words{ColumnKind::Text, ColumnKind::Memo};
constexpr Kinds Day{ColumnKind::Date};
constexpr Kinds Flag{ColumnKind::YesNo, ColumnKind::Integer};

struct Need {
    const char* table;
    const char* column;
    Kinds kinds;
};

// The columns some window reads or writes; the three unused ones of T_idea
// (yusen, naiyoOLE, fileMEI) may be missing.
const Need needs[] = {
    {"T_idea", "id", Number},      {"T_idea", "title", Words},       {"T_idea", "naiyo", Words},
    {"T_idea", "bunID", Number},   {"T_idea", "bunrui", Words},      {"T_idea", "sinkiDate", Day},
    {"T_idea", "kousinDate", Day}, {"T_idea", "kousinTime", Words},  {"T_idea", "kanryoCK", Flag},
    {"T_idea", "kanryoDate", Day}, {"T_idea", "jyuyoCK", Flag},      {"T_idea", "oyaID", Number},
    {"T_idea", "kijituDate", Day}, {"T_idea", "kijituTime", Words},  {"T_bunrui", "bunID", Number},
    {"T_bunrui", "bunrui", Words}, {"T_bunrui", "oyabunID", Number},
};

struct Column {
    QString type;
    bool rowid = false; // the column is the table's rowid
};

// Columns of a table by case-folded name; empty when there is no table.
QHash<QString, Column> columnsOf(const Database& db, const QString& table)
{
    detail::Statement st(db.handle(), QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    st.bindAll({table});
    QHash<QString, Column> columns;
    while (st.step())
        columns.insert(st.column(0).toString().toCaseFolded(), {st.column(1).toString(), false});
    const QString rowid = detail::rowidColumn(db.handle(), table);
    if (!rowid.isEmpty())
        columns[rowid].rowid = true;
    return columns;
}

// The tables of `db` that carry these exact names.
QStringList presentTables(const Database& db)
{
    QStringList found;
    for (const QString& name : db.tableNames()) {
        if (name == QLatin1String("T_idea") || name == QLatin1String("T_bunrui"))
            found << name;
    }
    return found;
}

} // namespace

void checkZumiloColumns(const Database& db)
{
    const QStringList tables = presentTables(db);
    QHash<QString, QHash<QString, Column>> columns;
    for (const QString& t : tables)
        columns.insert(t, columnsOf(db, t));
    for (const Need& need : needs) {
        const QString table = QString::fromLatin1(need.table);
        if (!tables.contains(table))
            continue;
        const QString name = table + QLatin1Char('.') + QString::fromLatin1(need.column);
        const auto it = columns[table].constFind(QString::fromLatin1(need.column).toCaseFolded());
        if (it == columns[table].cend())
            throw StoreError(ErrorKind::MissingColumn, name, name);
        const ColumnKind kind = ColumnType::fromDeclared(it->type).kind;
        if (std::find(need.kinds.begin(), need.kinds.end(), kind) == need.kinds.end())
            throw StoreError(ErrorKind::ColumnType, QStringLiteral("%1 declared %2").arg(name, it->type), name);
    }
}

void checkZumiloValues(const Database& db)
{
    const QStringList tables = presentTables(db);
    auto refuse = [&](const char* table, const char* column, const char* allowed) {
        if (!tables.contains(QLatin1String(table)))
            return;
        detail::Statement st(db.handle(),
                             QStringLiteral("SELECT quote(%2) FROM %1 WHERE typeof(%2) NOT IN (%3) LIMIT 1")
                                 .arg(QLatin1String(table), QLatin1String(column), QLatin1String(allowed)));
        if (st.step()) {
            const QVariant bad = st.column(0);
            const QString name = QStringLiteral("%1.%2").arg(QLatin1String(table), QLatin1String(column));
            throw StoreError(ErrorKind::ColumnValue, QStringLiteral("%1 holds %2").arg(name, bad.toString()), name);
        }
    };
    refuse("T_bunrui", "bunID", "'integer'");
    refuse("T_bunrui", "oyabunID", "'integer','null'");
    // A rowid is a whole number anyway; reading the table to learn so would
    // cost a pass over every note's body.
    if (tables.contains(QLatin1String("T_idea"))
        && !columnsOf(db, QStringLiteral("T_idea")).value(QStringLiteral("id")).rowid)
        refuse("T_idea", "id", "'integer'");
}

} // namespace zumilo::store

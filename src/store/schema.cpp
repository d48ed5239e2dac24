#include "schema.h"

#include "database.h"
#include "error.h"
#include "recordset.h"

#include <QFile>
#include <QFileInfo>

namespace zumilo::store {

QString createIdeaTableSql()
{
    return QStringLiteral("CREATE TABLE T_idea(")
        + QStringLiteral("id           counter       constraint pkey primary key,")
        + QStringLiteral("title        text(250),")
        + QStringLiteral("naiyo        longtext,")
        + QStringLiteral("bunID        long,")
        + QStringLiteral("bunrui       text(250),")
        + QStringLiteral("sinkiDate    DateTime,")
        + QStringLiteral("kousinDate   DateTime,")
        + QStringLiteral("kousinTime   text(50),")
        + QStringLiteral("kanryoCK     yesno,")
        + QStringLiteral("kanryoDate   DateTime,")
        + QStringLiteral("jyuyoCK      yesno,")
        + QStringLiteral("oyaID        long,")
        + QStringLiteral("kijituDate   DateTime,")
        + QStringLiteral("kijituTime   text(50),")
        + QStringLiteral("yusen        text(50),")
        + QStringLiteral("naiyoOLE     LONGBINARY,")
        + QStringLiteral("fileMEI      text(250)")
        + QStringLiteral(");");
}

QString createCategoryTableSql()
{
    return QStringLiteral("CREATE TABLE T_bunrui(")
        + QStringLiteral("bunID        long       constraint pkey primary key,")
        + QStringLiteral("bunrui       text(250),")
        + QStringLiteral("oyabunID     long")
        + QStringLiteral(");");
}

QString createOptionTableSql()
{
    return QStringLiteral("CREATE TABLE T_option(")
        + QStringLiteral("ID           text(50)       constraint pkey primary key,")
        + QStringLiteral("naiyo        text(250),")
        + QStringLiteral("[memo]       text(250)")
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
                                    + QString::number(c.bunID) + QLatin1Char(',')
                                    + QStringLiteral("'") + QString::fromUtf8(c.name) + QStringLiteral("'")
                                    + QLatin1Char(',') + QString::number(c.parent) + QLatin1Char(')'),
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

} // namespace zumilo::store

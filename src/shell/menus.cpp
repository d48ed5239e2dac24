#include "menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace zumilo::shell {

namespace {

// Pieces the three windows' menus have in common.
const QList<MenuEntry> kEditCommands = {
    {"mnuUndo", "元に戻す(&U)", 1},
    {"mnuEdit_1", "", 1},
    {"mnuCut", "切り取り(&T)", 1},
    {"mnuCopy", "コピー(&C)", 1},
    {"mnuPaste", "貼り付け(&P)", 1},
    {"mnuDelete", "削除(&D)", 1},
    {"mnuEdit_2", "", 1},
    {"mnuFindpage", "このページの検索(&F)", 1},
    {"mnuFindNext", "次を検索(&N)", 1},
};
const QList<MenuEntry> kFindAllData = {
    {"mnuFindtitle", "タイトルの検索  全ﾃﾞｰﾀ(&L)", 1},
    {"mnuFindnaiyo", "内容の検索     全ﾃﾞｰﾀ(&Y)", 1},
};
const QList<MenuEntry> kWrapAndStamp = {
    {"mnuEdit_3", "", 1},
    {"mnuOrikae", "右端で折り返す(&W)", 1},
    {"mnuEditDate", "日付と時刻(&A)", 1},
};
const QList<MenuEntry> kMovesAndFont = {
    {"mnuMoveFirst", "先頭のデータ(&F)", 1},
    {"mnuMoveMae", "前のデータ(&B)", 1},
    {"mnuMoveNext", "次のデータ(&N)", 1},
    {"mnuMoveLast", "最後のデータ(&L)", 1},
    {"mnuHyoji_1", "", 1},
    {"mnuFontAdd", "ﾌｫﾝﾄ１ポ拡大(&U)", 1},
    {"mnuFontSub", "ﾌｫﾝﾄ１ﾎﾟ縮小(&D)", 1},
};
const QList<MenuEntry> kToolAndHelp = {
    {"mnuTool", "ﾂｰﾙ(&T)", 0},
    {"mnuToolOpt", "ｵﾌﾟｼｮﾝ(&O)", 1},
    {"mnuHelp", "ﾍﾙﾌﾟ(&H)", 0},
    {"mnuHelp_1", "", 1},
    {"mnuHPpelto", "peltoﾎｰﾑﾍﾟｰｼﾞ(&W)", 1},
    {"mnuHelp_2", "", 1},
    {"mnuHelpAbout", "ﾊﾞｰｼｮﾝ情報(&A)", 1},
};
const MenuEntry kEditMenu{"mnuEdit", "編集(&E)", 0};
const MenuEntry kViewMenu{"mnuHyoji", "表示(&V)", 0};

} // namespace

const QList<MenuEntry>& mainWindowMenus()
{
    static const QList<MenuEntry> entries = QList<MenuEntry>{
        {"mnuFile", "ﾌｧｲﾙ(&F)", 0},
        {"mnuFileDataAdd", "新規ﾃﾞｰﾀの追加(&N)", 1},
        {"mnuFile_1", "", 1},
        {"mnuUpdate", "上書き保存(&S)", 1},
        {"mnuUpdateAs", "コピーして保存(&C)", 1},
        {"mnuFile_2", "", 1},
        {"mnuOpenDB", "DBの変更(&O)", 1},
        {"mnuDBnew", "新規ＤＢの作成(&A)", 1},
        {"mnuDBnew2", "新規ＤＢの作成 分類付き(&B)", 1},
        {"mnuFile_3", "", 1},
        {"mnuFileExp", "ｴｸｽﾎﾟｰﾄ(&E)", 1},
        {"mnuExpCsv", "この分類を CSV形式でｴｸｽﾎﾟｰﾄ(&C)", 2},
        {"mnuExpExl", "この分類を ｴｸｾﾙ起動しｴｸｽﾎﾟｰﾄ(&E)", 2},
        {"mnuFile_6", "", 2},
        {"mnuExpCsv2", "全数をｴｸｽﾎﾟｰﾄ　CSV形式(&Z)", 2},
        {"mnuExpCsvALL", "全数全項目をｴｸｽﾎﾟｰﾄ　CSV形式(&A)", 2},
        {"mnuFile_5", "", 1},
        {"mnuPrint1", "印刷(&P)", 1},
        {"mnuPrintOp", "印刷設定(&U)", 1},
        {"mnuRecentFile(0)", "", 1},
        {"mnuRecentFile(1)", "-", 1},
        {"mnuRecentFile(2)", "-", 1},
        {"mnuRecentFile(3)", "-", 1},
        {"mnuRecentFile(4)", "-", 1},
        {"mnuRecentFile(5)", "-", 1},
        {"mnuFile_4", "", 1},
        {"mnuEnd", "終了(&X)", 1},
        kEditMenu,
    } + kEditCommands + kFindAllData + kWrapAndStamp + QList<MenuEntry>{kViewMenu} + kMovesAndFont
        + QList<MenuEntry>{
            {"mnuTree", "ﾂﾘｰ操作(&R)", 0},
            {"mnuDataAdd", "この分類に「新規ﾃﾞｰﾀ追加」(&N)", 1},
            {"mnuBunTuika", "この下に分類追加(&B)", 1},
            {"mnuTree_1", "", 1},
            {"mnuTreeBunFind", "分類検索(&F)", 1},
            {"mnuTree_3", "", 1},
            {"mnuBunDel", "この分類を「削除」(&D)", 1},
            {"mnuBunRename", "分類名の変更(&R)", 1},
            {"mnuTree_2", "", 1},
            {"mnuTreeRefresh", "ﾂﾘｰ再表示(&F)", 1},
            {"mnuTreeAllOpen", "すべての分類ﾂﾘｰを開く(&O)", 1},
            {"mnuTreeAllClose", "すべての分類ﾂﾘｰを縮小(&C)", 1},
            {"mnuList", "ﾘｽﾄ操作(&L)", 0},
            {"mnuListEdit", "データ更新(&S)", 1},
            {"mnuList_2", "", 1},
            {"mnuListDateAdd", "新規ﾃﾞｰﾀ追加(&N)", 1},
            {"mnuListDateCopy", "コピーして保存(&C)", 1},
            {"mnuList_1", "", 1},
            {"mnuListDel", "削除(&D)", 1},
        }
        + kToolAndHelp;
    return entries;
}

const QList<MenuEntry>& recordWindowMenus()
{
    static const QList<MenuEntry> entries = QList<MenuEntry>{
        {"mnuFile", "ﾌｧｲﾙ(&F)", 0},
        {"mnuAddNew", "新規データの追加(&N)", 1},
        {"mnuFile_2", "", 1},
        {"mnuUpdate", "上書き保存(&S)", 1},
        {"mnuUpdateAs", "コピーして保存(&C)", 1},
        {"mnuFile_1", "", 1},
        {"mnuPrint1", "印刷(&P)", 1},
        {"mnuPrintOp", "印刷設定(&U)", 1},
        {"mnuFile_3", "", 1},
        {"mnuEnd", "終了(&X)", 1},
        kEditMenu,
    } + kEditCommands + kWrapAndStamp + QList<MenuEntry>{kViewMenu} + kMovesAndFont + kToolAndHelp;
    return entries;
}

const QList<MenuEntry>& gridWindowMenus()
{
    static const QList<MenuEntry> entries = QList<MenuEntry>{
        {"mnuFile", "ﾌｧｲﾙ(&F)", 0},
        {"mnuFileDataAdd", "新規ﾃﾞｰﾀの追加(&N)", 1},
        {"mnuUpdate", "上書き保存(&S)", 1},
        {"mnuFile_1", "", 1},
        {"mnuFileExp", "ｴｸｽﾎﾟｰﾄ(&E)", 1},
        {"mnuExpCsv", "CSV形式でｴｸｽﾎﾟｰﾄ(&C)", 2},
        {"mnuExpExl", "ｴｸｾﾙ起動しｴｸｽﾎﾟｰﾄ(&E)", 2},
        {"mnuFile_4", "", 1},
        {"mnuDataDel", "ﾃﾞｰﾀ削除(&D)", 1},
        {"mnuFile_2", "", 1},
        {"mnuPrint1", "印刷(&P)", 1},
        {"mnuPrintOp", "印刷設定(&U)", 1},
        {"mnuFile_3", "", 1},
        {"mnuEnd", "終了(&X)", 1},
        kEditMenu,
    } + kEditCommands + kFindAllData + kWrapAndStamp
        + QList<MenuEntry>{
            kViewMenu,
            {"mnuDouki", "同期  分類ﾂﾘｰにｼﾞｬﾝﾌﾟ(&S)", 1},
            {"mnuHyoji_2", "", 1},
        }
        + kMovesAndFont + kToolAndHelp;
    return entries;
}

namespace {

struct Node {
    const MenuEntry* entry = nullptr;
    QList<Node> children;
};

// Turns the flat, level-indented table into a tree.
QList<Node> toTree(const QList<MenuEntry>& entries, int& i, int level)
{
    QList<Node> nodes;
    while (i < entries.size() && entries[i].level >= level) {
        if (entries[i].level > level) { // malformed: deeper without a parent
            ++i;
            continue;
        }
        Node node{&entries[i], {}};
        ++i;
        if (i < entries.size() && entries[i].level > level)
            node.children = toTree(entries, i, level + 1);
        nodes.append(node);
    }
    return nodes;
}

bool isSeparator(const MenuEntry& e)
{
    return QByteArray(e.caption).isEmpty();
}

class Builder {
public:
    Builder(const MenuHandlers& handlers, const QSet<QString>& placeholders)
        : handlers_(handlers), placeholders_(placeholders)
    {
    }

    // Fills `menu` with the children; returns whether anything real was added.
    bool fill(QMenu* menu, const QList<Node>& children)
    {
        bool any = false;
        QString pendingName;
        bool pendingPlaceholder = false;
        for (const Node& child : children) {
            const QString name = QString::fromUtf8(child.entry->name);
            if (isSeparator(*child.entry)) {
                if (placeholders_.contains(name)) {
                    QAction* sep = menu->addSeparator();
                    sep->setObjectName(name);
                    sep->setVisible(false);
                    actions_.insert(name, sep);
                } else if (any) {
                    pendingName = name;
                    pendingPlaceholder = true;
                }
                continue;
            }
            QAction* added = nullptr;
            if (!child.children.isEmpty()) {
                auto* sub = new QMenu(QString::fromUtf8(child.entry->caption), menu);
                sub->setObjectName(name);
                if (fill(sub, child.children)) {
                    added = sub->menuAction();
                } else {
                    delete sub;
                }
            } else if (handlers_.contains(name) || placeholders_.contains(name)) {
                added = new QAction(QString::fromUtf8(child.entry->caption), menu);
                if (auto h = handlers_.value(name))
                    QObject::connect(added, &QAction::triggered, menu, [h] { h(); });
                if (placeholders_.contains(name))
                    added->setVisible(false);
            }
            if (!added)
                continue;
            added->setObjectName(name);
            if (pendingPlaceholder) {
                QAction* sep = menu->addSeparator();
                sep->setObjectName(pendingName);
                actions_.insert(pendingName, sep);
                pendingPlaceholder = false;
            }
            menu->addAction(added);
            actions_.insert(name, added);
            any = any || (handlers_.contains(name) && !placeholders_.contains(name)) || !child.children.isEmpty();
        }
        return any;
    }

    QHash<QString, QAction*> actions_;

private:
    const MenuHandlers& handlers_;
    const QSet<QString>& placeholders_;
};

} // namespace

QHash<QString, QAction*> buildMenuBar(QMenuBar* bar, const QList<MenuEntry>& entries,
                                      const MenuHandlers& handlers, const QSet<QString>& placeholders)
{
    int i = 0;
    const QList<Node> tree = toTree(entries, i, 0);
    Builder builder(handlers, placeholders);
    for (const Node& top : tree) {
        auto* menu = new QMenu(QString::fromUtf8(top.entry->caption), bar);
        menu->setObjectName(QString::fromUtf8(top.entry->name));
        if (builder.fill(menu, top.children)) {
            bar->addMenu(menu);
            builder.actions_.insert(menu->objectName(), menu->menuAction());
            menu->menuAction()->setObjectName(menu->objectName());
        } else {
            delete menu;
        }
    }
    return builder.actions_;
}

QAction* findAction(QWidget* window, const QString& name)
{
    return window->findChild<QAction*>(name);
}

} // namespace zumilo::shell

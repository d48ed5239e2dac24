#include "commands.h"

#include "twips.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QIconEngine>
#include <QImageReader>
#include <QLineEdit>
#include <QIcon>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

// The pictures live in this static library; nothing would pull them in.
static void initIcons()
{
    Q_INIT_RESOURCE(icons);
}

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

namespace {

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
        {"mnuRestoreBackup", "バックアップから復元(&R)...", 1},
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
    static const QList<MenuEntry> entries =
        QList<MenuEntry>{
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
        }
        + kEditCommands + kWrapAndStamp + QList<MenuEntry>{kViewMenu} + kMovesAndFont + kToolAndHelp;
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

} // namespace

const QList<MenuEntry>& menuTree(WindowKind kind)
{
    switch (kind) {
    case WindowKind::Main:
        return mainWindowMenus();
    case WindowKind::Single:
        return recordWindowMenus();
    case WindowKind::Grid:
        break;
    }
    return gridWindowMenus();
}

namespace {

// The keys that run the same command in every window that has them.
const ToolKey kSaveKey{"上書き保存", "上書き保存", "Save", "mnuUpdate"};
const QList<ToolKey> kMovesAndText = {
    {"", "", "", ""},
    {"MoveFirst", "先頭のデータ", "Arw06up", "mnuMoveFirst"},
    {"MoveMei", "前のデータ", "Arw05up", "mnuMoveMae"},
    {"MoveNext", "次のデータ", "Arw05dn", "mnuMoveNext"},
    {"MoveLast", "最後のデータ", "Arw06dn", "mnuMoveLast"},
    {"", "", "", ""},
    {"orikae", "右端で折り返し", "orikae", "mnuOrikae"},
    {"A+", "ﾌｫﾝﾄ１ポ拡大", "A+", "mnuFontAdd"},
    {"A-", "ﾌｫﾝﾄ１ポ縮小", "A-", "mnuFontSub"},
    {"", "", "", ""},
    {"切り取り", "切り取り", "Cut", "mnuCut"},
    {"Copy", "コピー", "Copy1", "mnuCopy"},
};
const ToolKey kSearchBox{"tbCombo1", "", "", ""};
const ToolKey kFindPage{"Findpage", "このページの検索", "Find", "mnuFindpage"};
const QList<ToolKey> kFindAll = {
    {"Findtitle2", "タイトルの検索 (全ﾃﾞｰﾀ対象)", "Findtitl", "mnuFindtitle"},
    {"Findnaiyo2", "内容の検索 (全ﾃﾞｰﾀ対象)", "Findnaiy", "mnuFindnaiyo"},
};

} // namespace

const QList<ToolKey>& toolKeys(WindowKind kind)
{
    static const QList<ToolKey> main =
        QList<ToolKey>{
            {"開く", "他のＤＢを開く", "Open1", "mnuOpenDB"},
            {"", "", "", ""},
            {"新規作成", "新規データ追加", "New", "mnuDataAdd"},
            kSaveKey,
        }
        + kMovesAndText
        + QList<ToolKey>{{"Paste", "貼り付け", "Paste1", "mnuPaste"}, {"", "", "", ""}, kSearchBox, kFindPage}
        + kFindAll;
    static const QList<ToolKey> single =
        QList<ToolKey>{
            {"開く", "他のＤＢを開く", "Open1", ""},
            {"", "", "", ""},
            {"新規作成", "新規データ追加", "New", "mnuAddNew"},
            kSaveKey,
        }
        + kMovesAndText
        + QList<ToolKey>{{"Paste", "貼り付け", "Paste1", "mnuPaste"}, {"", "", "", ""}, kSearchBox, kFindPage};
    static const QList<ToolKey> grid =
        QList<ToolKey>{
            {"開く", "他のＤＢを開く", "Open1", ""},
            {"同期", "同期　分類ﾂﾘｰにジャンプする", "douki", "mnuDouki"},
            {"", "", "", ""},
            {"新規作成", "新規データ追加", "New", "mnuFileDataAdd"},
            kSaveKey,
        }
        + kMovesAndText
        + QList<ToolKey>{{"貼り付け", "貼り付け", "Paste1", "mnuPaste"}, {"", "", "", ""}, kSearchBox, kFindPage}
        + kFindAll;
    switch (kind) {
    case WindowKind::Main:
        return main;
    case WindowKind::Single:
        return single;
    case WindowKind::Grid:
        break;
    }
    return grid;
}

const QList<ToolKey>& findDropDown(WindowKind kind)
{
    static const QList<ToolKey> main = {
        {"Findpage2", "このページの検索", "", "mnuFindpage"},
        {"Findtitle", "タイトルの検索 (全ﾃﾞｰﾀ対象)", "", "mnuFindtitle"},
        {"Findnaiyo", "内容の検索   (全ﾃﾞｰﾀ対象)", "", "mnuFindnaiyo"},
    };
    static const QList<ToolKey> single = {
        {"Findpage2", "このページの検索", "", ""},
        {"Findtitle", "タイトルの検索 (全ﾃﾞｰﾀ対象)", "", ""},
        {"Findnaiyo", "内容の検索   (全ﾃﾞｰﾀ対象)", "", ""},
    };
    static const QList<ToolKey> grid = {
        {"Findpage2", "このページの検索", "", "mnuFindpage"},
        {"Findtitle", "タイトルの検索 (全ﾃﾞｰﾀ対象)", "", "mnuFindtitle"},
        {"Findnaiyo", "内容の検索  (全ﾃﾞｰﾀ対象)", "", "mnuFindnaiyo"},
    };
    switch (kind) {
    case WindowKind::Main:
        return main;
    case WindowKind::Single:
        return single;
    case WindowKind::Grid:
        break;
    }
    return grid;
}

QKeySequence shortcutFor(WindowKind kind, const QString& command)
{
    // What users of this desktop expect, where it clashes with nothing the
    // boxes and lists do with their keys (Delete deletes a note in the list).
    static const QHash<QString, QKeySequence> shortcuts = {
        {QStringLiteral("mnuUpdate"), QKeySequence(Qt::CTRL | Qt::Key_S)},
        {QStringLiteral("mnuUpdateAs"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {QStringLiteral("mnuFileDataAdd"), QKeySequence(Qt::CTRL | Qt::Key_N)},
        {QStringLiteral("mnuAddNew"), QKeySequence(Qt::CTRL | Qt::Key_N)},
        {QStringLiteral("mnuOpenDB"), QKeySequence(Qt::CTRL | Qt::Key_O)},
        {QStringLiteral("mnuPrint1"), QKeySequence(Qt::CTRL | Qt::Key_P)},
        {QStringLiteral("mnuUndo"), QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {QStringLiteral("mnuCut"), QKeySequence(Qt::CTRL | Qt::Key_X)},
        {QStringLiteral("mnuCopy"), QKeySequence(Qt::CTRL | Qt::Key_C)},
        {QStringLiteral("mnuPaste"), QKeySequence(Qt::CTRL | Qt::Key_V)},
        {QStringLiteral("mnuFindpage"), QKeySequence(Qt::CTRL | Qt::Key_F)},
        {QStringLiteral("mnuFindNext"), QKeySequence(Qt::Key_F3)},
        {QStringLiteral("mnuFindnaiyo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
        {QStringLiteral("mnuEditDate"), QKeySequence(Qt::Key_F5)},
        {QStringLiteral("mnuMoveFirst"), QKeySequence(Qt::ALT | Qt::Key_Home)},
        {QStringLiteral("mnuMoveMae"), QKeySequence(Qt::ALT | Qt::Key_PageUp)},
        {QStringLiteral("mnuMoveNext"), QKeySequence(Qt::ALT | Qt::Key_PageDown)},
        {QStringLiteral("mnuMoveLast"), QKeySequence(Qt::ALT | Qt::Key_End)},
        {QStringLiteral("mnuFontAdd"), QKeySequence(Qt::CTRL | Qt::Key_Plus)},
        {QStringLiteral("mnuFontSub"), QKeySequence(Qt::CTRL | Qt::Key_Minus)},
        {QStringLiteral("mnuToolOpt"), QKeySequence(Qt::CTRL | Qt::Key_Comma)},
    };
    if (command == QLatin1String("mnuEnd")) // closes this window; in the others, the program
        return QKeySequence(Qt::CTRL | (kind == WindowKind::Single ? Qt::Key_W : Qt::Key_Q));
    return shortcuts.value(command);
}

namespace {

// The program's pictures, one file per size, each read when first drawn.
// Qt's own engine reads every size of every picture as it is added, each
// after asking the image plugins whether they read it: some 3 % of the
// start's work.
class PictureEngine : public QIconEngine {
public:
    PictureEngine(const QString& name, const QList<int>& sizes) : name_(name)
    {
        // Only the sizes the resources hold: a picture without any is no
        // picture, and its button shows its text.
        for (int size : sizes) {
            if (QFile::exists(file(size)))
                sizes_ << size;
        }
    }

    QIconEngine* clone() const override { return new PictureEngine(*this); }
    QString key() const override { return QStringLiteral("zumilo-picture"); }
    bool isNull() override { return sizes_.isEmpty(); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int size : sizes_)
            sizes << QSize(size, size);
        return sizes;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min({size.width(), size.height(), fitting(size)});
        return {side, side};
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        const bool greyed = mode != QIcon::Normal && qApp;
        // Greyed forms follow the palette, as those of Qt's own engine do.
        if (const qint64 palette = greyed ? QApplication::palette().cacheKey() : palette_; palette != palette_) {
            shown_.clear();
            palette_ = palette;
        }
        // One pixmap a mode and size asked for, kept like Qt's own icons'.
        const int side = actualSize(size, mode, state).width();
        QPixmap& shown = shown_[std::pair(greyed ? int(mode) : int(QIcon::Normal), side)];
        if (!shown.isNull() || sizes_.isEmpty())
            return shown;
        QPixmap& picture = read_[fitting(size)];
        if (picture.isNull()) {
            // PNG named outright, so no image plugin is asked.
            QImageReader reader(file(fitting(size)), "png");
            reader.setAutoDetectImageFormat(false);
            picture = QPixmap::fromImage(reader.read());
        }
        shown = picture;
        if (shown.width() != side && !shown.isNull())
            shown = shown.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (greyed) {
            QStyleOption option;
            option.palette = QApplication::palette();
            shown = QApplication::style()->generatedIconPixmap(mode, shown, &option);
        }
        return shown;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        // Filling the rectangle, as Qt's own icons do, whatever size of the
        // picture came nearest.
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

private:
    QString file(int size) const { return QStringLiteral(":/icons/%1-%2.png").arg(name_).arg(size); }

    // The smallest size at least as large, else the largest.
    int fitting(const QSize& size) const
    {
        const int wanted = std::max(size.width(), size.height());
        for (int side : sizes_) {
            if (side >= wanted)
                return side;
        }
        return sizes_.isEmpty() ? 0 : sizes_.back();
    }

    QString name_;
    QList<int> sizes_;
    QHash<int, QPixmap> read_;
    QHash<std::pair<int, int>, QPixmap> shown_;
    qint64 palette_ = 0;
};

} // namespace

namespace {

// One of the style's own icons, asked of it when first drawn.
class StandardIconEngine : public QIconEngine {
public:
    StandardIconEngine(QStyle* style, QStyle::StandardPixmap which) : style_(style), which_(which) {}

    QIconEngine* clone() const override { return new StandardIconEngine(*this); }
    QString key() const override { return QStringLiteral("zumilo-standard"); }
    // Every style of Qt's has these; asking would read them.
    bool isNull() override { return false; }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        // Asked in the device's pixels, as engines are.
        return icon().pixmap(size, 1.0, mode, state);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

private:
    const QIcon& icon()
    {
        if (!read_) {
            // The style it was made for is gone when the application's
            // style was replaced since: the one in its place draws it.
            QStyle* style = style_ ? style_.data() : QApplication::style();
            if (style)
                icon_ = style->standardIcon(which_);
            read_ = !icon_.isNull();
        }
        return icon_;
    }

    QPointer<QStyle> style_;
    QStyle::StandardPixmap which_;
    QIcon icon_;
    bool read_ = false;
};

class OverflowIconStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override
    {
        if (which != SP_ToolBarHorizontalExtensionButton && which != SP_ToolBarVerticalExtensionButton)
            return QProxyStyle::standardIcon(which, option, widget);
        return QIcon(new StandardIconEngine(baseStyle(), which));
    }
};

} // namespace

void readOverflowIconsWhenDrawn()
{
    // Over the style the application would have had: the desktop's, or
    // the one the user asked for (-style, QT_STYLE_OVERRIDE).
    QApplication::setStyle(new OverflowIconStyle(QApplication::style()->name()));
}

QIcon bundledIcon(const QString& picture, const QList<int>& sizes)
{
    static const bool loaded = (initIcons(), true);
    Q_UNUSED(loaded);
    return QIcon(new PictureEngine(picture, sizes));
}

QIcon programIcon()
{
    return bundledIcon(QStringLiteral("zumilo"), {16, 24, 32, 48, 64, 128});
}

QIcon toolIcon(const QString& image)
{
    // Theme names where the desktop has one; the program's own pictures
    // everywhere else, and on a bare desktop.
    static const QHash<QString, std::pair<const char*, const char*>> pictures = {
        {QStringLiteral("Open1"), {"document-open", "open"}},
        {QStringLiteral("douki"), {"go-jump", "sync"}},
        {QStringLiteral("New"), {"document-new", "new"}},
        {QStringLiteral("Save"), {"document-save", "save"}},
        {QStringLiteral("Arw06up"), {"go-top", "first"}},
        {QStringLiteral("Arw05up"), {"go-up", "previous"}},
        {QStringLiteral("Arw05dn"), {"go-down", "next"}},
        {QStringLiteral("Arw06dn"), {"go-bottom", "last"}},
        {QStringLiteral("orikae"), {"text-wrap", "wrap"}},
        {QStringLiteral("A+"), {"format-font-size-more", "font-larger"}},
        {QStringLiteral("A-"), {"format-font-size-less", "font-smaller"}},
        {QStringLiteral("Cut"), {"edit-cut", "cut"}},
        {QStringLiteral("Copy1"), {"edit-copy", "copy"}},
        {QStringLiteral("Paste1"), {"edit-paste", "paste"}},
        {QStringLiteral("Find"), {"edit-find", "find"}},
        {QStringLiteral("Findtitl"), {"zumilo-find-title", "find-title"}},
        {QStringLiteral("Findnaiy"), {"zumilo-find-body", "find-body"}},
    };
    const auto it = pictures.constFind(image);
    if (it == pictures.cend())
        return {};
    return QIcon::fromTheme(QLatin1String(it->first), bundledIcon(QLatin1String(it->second), {16, 24}));
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

QAction* commandAction(QWidget* owner, const MenuEntry& entry, WindowKind kind, const MenuHandlers& own,
                       const SharedCommands* shared, QMainWindow* window)
{
    const QString name = QString::fromUtf8(entry.name);
    auto* action = new QAction(QString::fromUtf8(entry.caption), owner);
    action->setObjectName(name);
    action->setShortcut(shortcutFor(kind, name));
    if (auto h = own.value(name)) {
        QObject::connect(action, &QAction::triggered, owner, [h] { h(); });
    } else if (auto run = shared ? shared->find(name) : SharedCommands::Handler()) {
        QObject::connect(action, &QAction::triggered, owner, [run, window] { run(*window); });
    } else {
        action->setEnabled(false); // nothing runs it in this window yet
    }
    // Nothing to undo until the user types.
    if (name == QLatin1String("mnuUndo"))
        action->setEnabled(false);
    // Wrapping is on or off: a check mark in the menu, a pressed tool button.
    if (name == QLatin1String("mnuOrikae"))
        action->setCheckable(true);
    return action;
}

void fillMenu(QMenu* menu, const QList<Node>& children, CommandSet& set, WindowKind kind, const MenuHandlers& own,
              const SharedCommands* shared, const QSet<QString>& placeholders, QMainWindow* window)
{
    for (const Node& child : children) {
        const QString name = QString::fromUtf8(child.entry->name);
        QAction* added = nullptr;
        if (isSeparator(*child.entry)) {
            added = menu->addSeparator();
            added->setObjectName(name);
        } else if (!child.children.isEmpty()) {
            auto* sub = menu->addMenu(QString::fromUtf8(child.entry->caption));
            sub->setObjectName(name);
            fillMenu(sub, child.children, set, kind, own, shared, placeholders, window);
            added = sub->menuAction();
            added->setObjectName(name);
        } else {
            added = commandAction(window, *child.entry, kind, own, shared, window);
            menu->addAction(added);
        }
        if (placeholders.contains(name))
            added->setVisible(false);
        set.actions.insert(name, added);
    }
}

void fillToolBar(CommandSet& set, WindowKind kind)
{
    QToolBar* bar = set.toolBar;
    auto keyAction = [&](const ToolKey& key) {
        QAction* action = set.actions.value(QString::fromUtf8(key.command));
        if (!action) {
            // A key that runs nothing in this window.
            action = new QAction(bar);
            action->setEnabled(false);
        }
        return action;
    };
    for (const ToolKey& key : toolKeys(kind)) {
        const QString name = QString::fromUtf8(key.key);
        if (name.isEmpty()) {
            bar->addSeparator();
            continue;
        }
        if (name == QLatin1String("tbCombo1")) {
            auto* box = new QComboBox(bar);
            box->setObjectName(QStringLiteral("Combo1"));
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            box->setToolTip(QStringLiteral("検索文字を入力し、右ボタンで検索"));
            box->setAccessibleName(QStringLiteral("検索文字"));
            box->lineEdit()->setAccessibleName(box->accessibleName());
            box->setFixedWidth(twipsToPixels(1400));
            bar->addWidget(box)->setObjectName(name);
            set.searchBox = box;
            continue;
        }
        QAction* action = keyAction(key);
        action->setIcon(toolIcon(QString::fromUtf8(key.image)));
        action->setToolTip(QString::fromUtf8(key.toolTip));
        bar->addAction(action);
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
        button->setObjectName(name);
        if (name != QLatin1String("Findpage"))
            continue;
        auto* menu = new QMenu(button);
        menu->setObjectName(QStringLiteral("Findpage_menu"));
        for (const ToolKey& entry : findDropDown(kind)) {
            QAction* item = menu->addAction(QString::fromUtf8(entry.toolTip));
            item->setObjectName(QString::fromUtf8(entry.key));
            QAction* target = set.actions.value(QString::fromUtf8(entry.command));
            if (target && target->isEnabled())
                QObject::connect(item, &QAction::triggered, target, &QAction::trigger);
            else
                item->setEnabled(false);
        }
        button->setMenu(menu);
        button->setPopupMode(QToolButton::MenuButtonPopup);
    }
}

} // namespace

CommandSet buildCommands(QMainWindow* window, WindowKind kind, QWidget* toolBarParent, const MenuHandlers& own,
                         const SharedCommands* shared, const QSet<QString>& placeholders)
{
    const QList<MenuEntry>& entries = menuTree(kind);
    int i = 0;
    const QList<Node> tree = toTree(entries, i, 0);
    CommandSet set;
    QMenuBar* bar = window->menuBar();
    for (const Node& top : tree) {
        auto* menu = bar->addMenu(QString::fromUtf8(top.entry->caption));
        menu->setObjectName(QString::fromUtf8(top.entry->name));
        menu->menuAction()->setObjectName(menu->objectName());
        fillMenu(menu, top.children, set, kind, own, shared, placeholders, window);
        set.actions.insert(menu->objectName(), menu->menuAction());
    }
    set.toolBar = new QToolBar(toolBarParent);
    set.toolBar->setObjectName(QStringLiteral("Toolbar1"));
    set.toolBar->setMovable(false);
    set.toolBar->setFloatable(false);
    set.toolBar->setIconSize(QSize(16, 16));
    set.toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    fillToolBar(set, kind);
    return set;
}

} // namespace zumilo::shell

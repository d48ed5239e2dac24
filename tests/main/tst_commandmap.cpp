// The menus and tool bars of the three windows against the command map:
// names, captions with their access keys, order, separators, tool tips;
// every tool key runs what its menu entry runs, and no two commands of a
// window share a shortcut.

#include "mainwindowapp.h"

#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/commands.h"

#include <QAction>
#include <QMenu>
#include <QMainWindow>
#include <QMenuBar>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QToolBar>
#include <QStyle>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

// "name caption" per entry, a separator as its name alone; submenus in line.
QStringList menuEntries(QMainWindow& w)
{
    QStringList entries;
    std::function<void(QMenu*)> walk = [&](QMenu* menu) {
        for (QAction* a : menu->actions()) {
            entries << (a->isSeparator() ? a->objectName() : a->objectName() + QLatin1Char(' ') + a->text());
            if (a->menu())
                walk(a->menu());
        }
    };
    for (QAction* top : w.menuBar()->actions()) {
        entries << top->objectName() + QLatin1Char(' ') + top->text();
        walk(top->menu());
    }
    return entries;
}

// "key tool tip" per tool button, the search box by its name.
QStringList toolEntries(QMainWindow& w)
{
    QStringList entries;
    auto* bar = w.findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    for (QAction* a : bar->actions()) {
        QWidget* item = bar->widgetForAction(a);
        if (a->isSeparator() || !item)
            continue;
        entries << (qobject_cast<QToolButton*>(item) ? item->objectName() + QLatin1Char(' ') + a->toolTip()
                                                     : a->objectName());
    }
    return entries;
}

QStringList split(const char* lines)
{
    return QString::fromUtf8(lines).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Menus the windows share, in the order they stand.
const char* const kEditHead = R"(mnuEdit 編集(&E)
mnuUndo 元に戻す(&U)
mnuEdit_1
mnuCut 切り取り(&T)
mnuCopy コピー(&C)
mnuPaste 貼り付け(&P)
mnuDelete 削除(&D)
mnuEdit_2
mnuFindpage このページの検索(&F)
mnuFindNext 次を検索(&N)
)";
const char* const kFindAll = R"(mnuFindtitle タイトルの検索  全ﾃﾞｰﾀ(&L)
mnuFindnaiyo 内容の検索     全ﾃﾞｰﾀ(&Y)
)";
const char* const kEditTail = R"(mnuEdit_3
mnuOrikae 右端で折り返す(&W)
mnuEditDate 日付と時刻(&A)
)";
const char* const kMovesAndFonts = R"(mnuMoveFirst 先頭のデータ(&F)
mnuMoveMae 前のデータ(&B)
mnuMoveNext 次のデータ(&N)
mnuMoveLast 最後のデータ(&L)
mnuHyoji_1
mnuFontAdd ﾌｫﾝﾄ１ポ拡大(&U)
mnuFontSub ﾌｫﾝﾄ１ﾎﾟ縮小(&D)
)";
const char* const kToolAndHelp = R"(mnuTool ﾂｰﾙ(&T)
mnuToolOpt ｵﾌﾟｼｮﾝ(&O)
mnuHelp ﾍﾙﾌﾟ(&H)
mnuHelp_1
mnuHPpelto peltoﾎｰﾑﾍﾟｰｼﾞ(&W)
mnuHelp_2
mnuHelpAbout ﾊﾞｰｼｮﾝ情報(&A)
)";

QStringList mainMenus()
{
    return split(R"(mnuFile ﾌｧｲﾙ(&F)
mnuFileDataAdd 新規ﾃﾞｰﾀの追加(&N)
mnuFile_1
mnuUpdate 上書き保存(&S)
mnuUpdateAs コピーして保存(&C)
mnuFile_2
mnuOpenDB DBの変更(&O)
mnuDBnew 新規ＤＢの作成(&A)
mnuDBnew2 新規ＤＢの作成 分類付き(&B)
mnuRestoreBackup バックアップから復元(&R)...
mnuFile_3
mnuFileExp ｴｸｽﾎﾟｰﾄ(&E)
mnuExpCsv この分類を CSV形式でｴｸｽﾎﾟｰﾄ(&C)
mnuExpExl この分類を ｴｸｾﾙ起動しｴｸｽﾎﾟｰﾄ(&E)
mnuFile_6
mnuExpCsv2 全数をｴｸｽﾎﾟｰﾄ　CSV形式(&Z)
mnuExpCsvALL 全数全項目をｴｸｽﾎﾟｰﾄ　CSV形式(&A)
mnuFile_5
mnuPrint1 印刷(&P)
mnuPrintOp 印刷設定(&U)
mnuRecentFile(0)
mnuRecentFile(1) -
mnuRecentFile(2) -
mnuRecentFile(3) -
mnuRecentFile(4) -
mnuRecentFile(5) -
mnuFile_4
mnuEnd 終了(&X)
)") + split(kEditHead)
           + split(kFindAll) + split(kEditTail) + split("mnuHyoji 表示(&V)") + split(kMovesAndFonts)
           + split(R"(mnuTree ﾂﾘｰ操作(&R)
mnuDataAdd この分類に「新規ﾃﾞｰﾀ追加」(&N)
mnuBunTuika この下に分類追加(&B)
mnuTree_1
mnuTreeBunFind 分類検索(&F)
mnuTree_3
mnuBunDel この分類を「削除」(&D)
mnuBunRename 分類名の変更(&R)
mnuTree_2
mnuTreeRefresh ﾂﾘｰ再表示(&F)
mnuTreeAllOpen すべての分類ﾂﾘｰを開く(&O)
mnuTreeAllClose すべての分類ﾂﾘｰを縮小(&C)
mnuList ﾘｽﾄ操作(&L)
mnuListEdit データ更新(&S)
mnuList_2
mnuListDateAdd 新規ﾃﾞｰﾀ追加(&N)
mnuListDateCopy コピーして保存(&C)
mnuList_1
mnuListDel 削除(&D)
)") + split(kToolAndHelp);
}

QStringList singleMenus()
{
    return split(R"(mnuFile ﾌｧｲﾙ(&F)
mnuAddNew 新規データの追加(&N)
mnuFile_2
mnuUpdate 上書き保存(&S)
mnuUpdateAs コピーして保存(&C)
mnuFile_1
mnuPrint1 印刷(&P)
mnuPrintOp 印刷設定(&U)
mnuFile_3
mnuEnd 終了(&X)
)") + split(kEditHead)
           + split(kEditTail) + split("mnuHyoji 表示(&V)") + split(kMovesAndFonts) + split(kToolAndHelp);
}

QStringList gridMenus()
{
    return split(R"(mnuFile ﾌｧｲﾙ(&F)
mnuFileDataAdd 新規ﾃﾞｰﾀの追加(&N)
mnuUpdate 上書き保存(&S)
mnuFile_1
mnuFileExp ｴｸｽﾎﾟｰﾄ(&E)
mnuExpCsv CSV形式でｴｸｽﾎﾟｰﾄ(&C)
mnuExpExl ｴｸｾﾙ起動しｴｸｽﾎﾟｰﾄ(&E)
mnuFile_4
mnuDataDel ﾃﾞｰﾀ削除(&D)
mnuFile_2
mnuPrint1 印刷(&P)
mnuPrintOp 印刷設定(&U)
mnuFile_3
mnuEnd 終了(&X)
)") + split(kEditHead)
           + split(kFindAll) + split(kEditTail) + split(R"(mnuHyoji 表示(&V)
mnuDouki 同期  分類ﾂﾘｰにｼﾞｬﾝﾌﾟ(&S)
mnuHyoji_2
)") + split(kMovesAndFonts)
           + split(kToolAndHelp);
}

// The tool keys, with what each runs in the window ("-": nothing).
const char* const kTools = R"(開く 他のＤＢを開く|mnuOpenDB|-|-
同期 同期　分類ﾂﾘｰにジャンプする|||mnuDouki
新規作成 新規データ追加|mnuDataAdd|mnuAddNew|mnuFileDataAdd
上書き保存 上書き保存|mnuUpdate|mnuUpdate|mnuUpdate
MoveFirst 先頭のデータ|mnuMoveFirst|mnuMoveFirst|mnuMoveFirst
MoveMei 前のデータ|mnuMoveMae|mnuMoveMae|mnuMoveMae
MoveNext 次のデータ|mnuMoveNext|mnuMoveNext|mnuMoveNext
MoveLast 最後のデータ|mnuMoveLast|mnuMoveLast|mnuMoveLast
orikae 右端で折り返し|mnuOrikae|mnuOrikae|mnuOrikae
A+ ﾌｫﾝﾄ１ポ拡大|mnuFontAdd|mnuFontAdd|mnuFontAdd
A- ﾌｫﾝﾄ１ポ縮小|mnuFontSub|mnuFontSub|mnuFontSub
切り取り 切り取り|mnuCut|mnuCut|mnuCut
Copy コピー|mnuCopy|mnuCopy|mnuCopy
Paste 貼り付け|mnuPaste|mnuPaste|
貼り付け 貼り付け|||mnuPaste
tbCombo1|tbCombo1|tbCombo1|tbCombo1
Findpage このページの検索|mnuFindpage|mnuFindpage|mnuFindpage
Findtitle2 タイトルの検索 (全ﾃﾞｰﾀ対象)|mnuFindtitle||mnuFindtitle
Findnaiyo2 内容の検索 (全ﾃﾞｰﾀ対象)|mnuFindnaiyo||mnuFindnaiyo
)";

} // namespace

class TestCommandMap : public QObject {
    Q_OBJECT

private slots:
    void windowsFollowTheMap_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<QStringList>("menus");
        QTest::addColumn<QStringList>("dropDown");
        QTest::newRow("main") << 0 << mainMenus()
                              << QStringList{u"このページの検索"_s, u"タイトルの検索 (全ﾃﾞｰﾀ対象)"_s,
                                             u"内容の検索   (全ﾃﾞｰﾀ対象)"_s};
        QTest::newRow("single-record") << 1 << singleMenus() << QStringList{};
        QTest::newRow("grid") << 2 << gridMenus()
                              << QStringList{u"このページの検索"_s, u"タイトルの検索 (全ﾃﾞｰﾀ対象)"_s,
                                             u"内容の検索  (全ﾃﾞｰﾀ対象)"_s};
    }
    void windowsFollowTheMap()
    {
        QFETCH(int, window);
        QFETCH(QStringList, menus);
        QFETCH(QStringList, dropDown);
        test::MainWindowApp env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.note(1, QStringLiteral("一"), 1);
        app::MainWindow& main = env.load();
        env.choose(QStringLiteral("1_id"));
        QMainWindow* w = &main;
        if (window == 1) {
            QTest::keyClick(env.window->recordList(), Qt::Key_Return);
            w = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->objectName() == QLatin1String("Form2"))
                    w = qobject_cast<QMainWindow*>(top);
            }
        } else if (window == 2) {
            env.state->CurrentTab = QStringLiteral("SaikinTab");
            main.ShowGridWindow();
            w = main.gridWindow();
        }
        QVERIFY(w);
        QCOMPARE(menuEntries(*w), menus);

        QStringList tools;
        QStringList commands;
        for (const QString& line : split(kTools)) {
            const QStringList cells = line.split(QLatin1Char('|'));
            const QString& command = cells.at(window + 1);
            if (command.isEmpty())
                continue; // the key is absent here
            tools << cells.at(0);
            commands << command;
        }
        QCOMPARE(toolEntries(*w), tools);

        // Each key runs its command's own action, as the menu does; a key
        // with nothing to run here is there but does nothing.
        auto* bar = w->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
        for (qsizetype i = 0; i < tools.size(); ++i) {
            const QString key = tools.at(i).section(QLatin1Char(' '), 0, 0);
            if (key == QLatin1String("tbCombo1")) {
                QVERIFY(w->findChild<QWidget*>(QStringLiteral("Combo1"))->isVisibleTo(bar));
                continue;
            }
            auto* button = bar->findChild<QToolButton*>(key);
            QVERIFY2(button, qPrintable(key));
            // Its picture at the bar's size, and greyed when disabled.
            const QImage picture = button->icon().pixmap(bar->iconSize()).toImage();
            QVERIFY2(!picture.isNull() && picture.size() == bar->iconSize(), qPrintable(key));
            QVERIFY2(button->icon().pixmap(bar->iconSize(), QIcon::Disabled).toImage() != picture, qPrintable(key));
            if (commands.at(i) == QLatin1String("-")) {
                QVERIFY2(!button->isEnabled(), qPrintable(key));
            } else {
                QCOMPARE(button->defaultAction(), w->findChild<QAction*>(commands.at(i)));
                QVERIFY2(button->isEnabled() || commands.at(i) == QLatin1String("mnuUndo"), qPrintable(key));
            }
        }
        auto* findPage = bar->findChild<QToolButton*>(QStringLiteral("Findpage"));
        QStringList entries;
        for (QAction* a : findPage->menu()->actions()) {
            entries << a->text();
            if (window == 1)
                QVERIFY(!a->isEnabled()); // nothing in the single-record window
        }
        if (window != 1)
            QCOMPARE(entries, dropDown);

        // Every command is there to run, and its shortcut is its own.
        QHash<QKeySequence, QString> shortcuts;
        for (QAction* a : w->findChildren<QAction*>()) {
            if (a->menu() || a->isSeparator() || a->objectName().startsWith(QLatin1String("mnuRecentFile")))
                continue;
            if (a->objectName().startsWith(QLatin1String("mnu")) && a->objectName() != QLatin1String("mnuUndo"))
                QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
            if (a->shortcut().isEmpty())
                continue;
            QVERIFY2(!shortcuts.contains(a->shortcut()),
                     qPrintable(a->objectName() + QStringLiteral(" and ") + shortcuts.value(a->shortcut())));
            shortcuts.insert(a->shortcut(), a->objectName());
        }
        if (window == 1)
            w->close();
    }

    // A disabled key is greyed once however often the bar is painted; a
    // picture missing from the resources is none, and its key shows its
    // text as a key without a picture does.
    void bundledPictures()
    {
        struct CountingStyle : QProxyStyle {
            using QProxyStyle::QProxyStyle;
            mutable int greyings = 0;
            QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap,
                                        const QStyleOption* option) const override
            {
                ++greyings;
                return QProxyStyle::generatedIconPixmap(mode, pixmap, option);
            }
        };
        const QString styleName = QApplication::style()->name();
        auto* style = new CountingStyle(QStyleFactory::create(styleName));
        QApplication::setStyle(style);
        const auto restore = qScopeGuard([&] { QApplication::setStyle(styleName); });
        QMainWindow w;
        QToolBar* bar = w.addToolBar(u"bar"_s);
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        bar->addAction(shell::bundledIcon(u"open"_s, {16, 24}), u"開く"_s)->setEnabled(false);
        QAction* missing = bar->addAction(shell::bundledIcon(u"no-such-picture"_s, {16, 24}), u"開く"_s);
        QAction* plain = bar->addAction(u"開く"_s);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.grab();
        w.grab();
        QCOMPARE(style->greyings, 1);

        QVERIFY(missing->icon().isNull());
        QVERIFY(missing->icon().availableSizes().isEmpty());
        QCOMPARE(bar->widgetForAction(missing)->sizeHint(), bar->widgetForAction(plain)->sizeHint());
        QCOMPARE(shell::bundledIcon(u"open"_s, {16, 24, 99}).availableSizes(), (QList<QSize>{{16, 16}, {24, 24}}));
    }

    // Bars too narrow for their entries show their overflow buttons with
    // the style's own picture, read only then.
    void theOverflowButtonsShowTheStylesPicture()
    {
        const QString style = QApplication::style()->name();
        // Over the style the user asked for, not the desktop's.
        QApplication::setStyle(QStringLiteral("windows"));
        const QImage picture =
            QApplication::style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16).toImage();
        shell::readOverflowIconsWhenDrawn();
        auto* proxy = qobject_cast<QProxyStyle*>(QApplication::style());
        QVERIFY(proxy);
        QCOMPARE(proxy->baseStyle()->name(), QStringLiteral("windows"));
        QMainWindow window;
        auto* tools = window.addToolBar(QStringLiteral("tools"));
        for (int i = 0; i < 20; ++i) {
            window.menuBar()->addMenu(QStringLiteral("メニュー%1").arg(i));
            tools->addAction(QStringLiteral("キー%1").arg(i));
        }
        window.resize(120, 200);
        window.show();
        for (const char* name : {"qt_menubar_ext_button", "qt_toolbar_ext_button"}) {
            auto* button = window.findChild<QToolButton*>(QLatin1String(name));
            QVERIFY2(button, name);
            QTRY_VERIFY2(button->isVisible(), name);
            QCOMPARE(button->icon().pixmap(16).toImage(), picture);
        }
        QApplication::setStyle(style);
    }
};

QTEST_MAIN(TestCommandMap)
#include "tst_commandmap.moc"

#include "mainpanes.h"

#include "shell/appstate.h"
#include "shell/commands.h"
#include "shell/settingsstore.h"
#include "shell/splitterhandle.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"
#include "shell/twips.h"
#include "shell/windowplacement.h"

#include "records/editorplaces.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "tree/categorypicker.h"
#include "tree/categorytree.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMainWindow>
#include <QResizeEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace zumilo::app {

using namespace zumilo::shell;

namespace {

// Stored positions, in the order they are read and written.
const QList<LayoutKey>& f1Keys()
{
    static const QList<LayoutKey> keys = {
        {"TabStrip1", "Left", 0},        {"TabStrip1", "Top", 400},      {"TabStrip1", "Width", 3250},
        {"TreeView1", "Left", 60},       {"TreeView1", "Top", 795},      {"TreeView1", "Width", 3100},
        {"imgSplitter", "Left", 3250},   {"imgSplitter", "Top", 0},      {"imgSplitter2", "Left", 3360},
        {"imgSplitter2", "Top", 2600},   {"cmdBunOpen", "Left", 5580},   {"cmdBunOpen", "Top", 2720},
        {"cmdCalOpen(0)", "Left", 8715}, {"cmdCalOpen(0)", "Top", 2720}, {"cmdCalOpen(1)", "Left", 10815},
        {"cmdCalOpen(1)", "Top", 2720},  {"ListView1", "Left", 3300},    {"ListView1", "Top", 400},
        {"ListView1", "Height", 2205},   {"Text1(0)", "Left", 4000},     {"Text1(0)", "Top", 3000},
        {"Text1(1)", "Left", 3300},      {"Text1(1)", "Top", 3800},      {"Text1(2)", "Left", 7080},
        {"Text1(2)", "Top", 3800},       {"Text1(3)", "Left", 4000},     {"Text1(3)", "Top", 2700},
        {"Text1(4)", "Left", 7620},      {"Text1(4)", "Top", 2700},      {"Text1(5)", "Left", 9720},
        {"Text1(5)", "Top", 2700},       {"Text1(6)", "Left", 11115},    {"Text1(6)", "Top", 2700},
        {"Check1(0)", "Left", 6120},     {"Check1(0)", "Top", 2730},     {"Check1(1)", "Left", 6960},
        {"Check1(1)", "Top", 2730},      {"Label1(0)", "Left", 3480},    {"Label1(0)", "Top", 2760},
        {"Label1(1)", "Left", 3465},     {"Label1(1)", "Top", 3060},     {"Label1(2)", "Left", 3360},
        {"Label1(2)", "Top", 3480},      {"Label1(4)", "Left", 9360},    {"Label1(4)", "Top", 2750},
    };
    return keys;
}

const QString kCol1 = QStringLiteral("Listview1_col(1)_width");
const QString kCol2 = QStringLiteral("Listview1_col(2)_width");

// The editor's controls that move with the panes' borders.
const QStringList& movingEditorControls()
{
    static const QStringList names = {
        QStringLiteral("Label1(0)"),  QStringLiteral("Label1(1)"),     QStringLiteral("Label1(2)"),
        QStringLiteral("Label1(3)"),  QStringLiteral("Label1(4)"),     QStringLiteral("Check1(0)"),
        QStringLiteral("Check1(1)"),  QStringLiteral("cmdCalOpen(0)"), QStringLiteral("cmdCalOpen(1)"),
        QStringLiteral("cmdBunOpen"),
    };
    return names;
}

QString textName(int i)
{
    return QStringLiteral("Text1(%1)").arg(i);
}

double twipsOf(int pixels)
{
    return pixelsToTwips(pixels);
}

} // namespace

MainPanes::MainPanes(QMainWindow& window, QWidget* canvas, QToolBar* toolBar, StatusPanels* panels, AppState& state,
                     const std::function<store::Database*()>& database)
    : window_(window), canvas_(canvas), st_(state)
{
    tabStrip_ = new TabStrip(canvas_);
    tree_ = new tree::CategoryTree(canvas_);
    list_ = new records::RecordList(canvas_);
    editor_ = std::make_unique<records::RecordEditor>(records::EditorKind::Main, canvas_, panels, st_);
    picker_ = std::make_unique<tree::CategoryPicker>(canvas_, *editor_, database,
                                                     [this] { return st_.DatabaseFileName; });
    splitter_ = new SplitterHandle(Qt::Horizontal, QStringLiteral("imgSplitter"), canvas_);
    splitterBar_ = new SplitterBar(QStringLiteral("picSplitter"), canvas_);
    splitter2_ = new SplitterHandle(Qt::Vertical, QStringLiteral("imgSplitter2"), canvas_);
    splitterBar2_ = new SplitterBar(QStringLiteral("picSplitter2"), canvas_);

    layout_.add(QStringLiteral("Toolbar1"), toolBar, {0, 0, 10000, kToolBarHeight});
    layout_.add(QStringLiteral("TabStrip1"), tabStrip_, {0, 400, 3250, 4000});
    layout_.add(QStringLiteral("TreeView1"), tree_, {60, 795, 3100, 3500});
    layout_.add(QStringLiteral("imgSplitter"), splitter_, {3250, 0, 50, 7000});
    layout_.add(QStringLiteral("picSplitter"), splitterBar_, {3250, 350, 50, 7000});
    layout_.add(QStringLiteral("imgSplitter2"), splitter2_, {3360, 2600, 6000, 90});
    layout_.add(QStringLiteral("picSplitter2"), splitterBar2_, {3360, 2600, 6000, 90});
    layout_.add(QStringLiteral("ListView1"), list_, {3300, 400, 6000, 2205});
    static const QList<records::EditorPlace> places = {
        {"Label1(0)", 3480, 2760, 360, 220},     {"Text1(3)", 4000, 2700, 1575, 270},
        {"cmdBunOpen", 5580, 2720, 300, 250},    {"Check1(0)", 6120, 2730, 660, 220},
        {"Check1(1)", 6960, 2730, 660, 220},     {"Text1(4)", 7620, 2700, 1095, 270},
        {"cmdCalOpen(0)", 8715, 2720, 300, 250}, {"Label1(4)", 9360, 2750, 360, 220},
        {"Text1(5)", 9720, 2700, 1095, 270},     {"cmdCalOpen(1)", 10815, 2720, 300, 250},
        {"Text1(6)", 11115, 2700, 855, 270},     {"Text1(7)", 4000, 2700, 735, 270},
        {"Label1(1)", 3465, 3060, 360, 220},     {"Text1(0)", 4000, 3000, 5000, 750},
        {"Label1(2)", 3360, 3480, 360, 220},     {"Label1(3)", 3480, 2760, 360, 220},
        {"Text1(1)", 3300, 3800, 6000, 2000},    {"Text1(2)", 3300, 3800, 6000, 2000},
    };
    records::placeEditor(layout_, *editor_, places);
    followSplitters();
    layout_.apply();
}

MainPanes::~MainPanes() = default;

void MainPanes::followSplitters()
{
    connect(splitter_, &SplitterHandle::pressed, this, [this] {
        const TwipsGeometry h = layout_[QStringLiteral("imgSplitter")];
        layout_[QStringLiteral("picSplitter")] = {h.left, h.top + 350, h.width, h.height};
        layout_.apply(QStringLiteral("picSplitter"));
        splitterBar_->show();
        splitterBar_->raise();
        SplitterMoving = true;
    });
    connect(splitter_, &SplitterHandle::moved, this, [this](double x, double) {
        if (!SplitterMoving)
            return;
        const double p = layout_[QStringLiteral("imgSplitter")].left + x;
        const double outer = twipsOf(window_.frameGeometry().width());
        layout_[QStringLiteral("picSplitter")].left = p < 1000 ? 1000 : (p <= outer - 1000 ? p : outer - 1000);
        layout_.apply(QStringLiteral("picSplitter"));
    });
    connect(splitter_, &SplitterHandle::released, this, [this] {
        SizeControls(layout_[QStringLiteral("picSplitter")].left);
        splitterBar_->hide();
        SplitterMoving = false;
    });
    connect(splitter2_, &SplitterHandle::pressed, this, [this] {
        layout_[QStringLiteral("picSplitter2")] = layout_[QStringLiteral("imgSplitter2")];
        layout_.apply(QStringLiteral("picSplitter2"));
        splitterBar2_->show();
        splitterBar2_->raise();
        Splitter2Moving = true;
    });
    connect(splitter2_, &SplitterHandle::moved, this, [this](double, double y) {
        if (!Splitter2Moving)
            return;
        const double p = layout_[QStringLiteral("imgSplitter2")].top + y;
        const double outer = twipsOf(window_.frameGeometry().height());
        layout_[QStringLiteral("picSplitter2")].top = p < 1500 ? 1500 : (p <= outer - 2500 ? p : outer - 2500);
        layout_.apply(QStringLiteral("picSplitter2"));
    });
    connect(splitter2_, &SplitterHandle::released, this, [this] {
        SizeControls2(layout_[QStringLiteral("picSplitter2")].top);
        splitterBar2_->hide();
        Splitter2Moving = false;
    });
}

void MainPanes::restore()
{
    SettingsStore& settings = st_.settings();
    layout_.restore(settings, Settings::F1Position, f1Keys());
    layout_[textName(2)].left = layout_[textName(1)].left;
    list_->setColumnWidthTwips(0, settings.readNumber(Settings::F1Position, kCol1, 3000));
    list_->setColumnWidthTwips(1, settings.readNumber(Settings::F1Position, kCol2, 1100));
    fitMinimumSize();
    restoreWindowPlacement(&window_, settings, Settings::F1Position, {500, 600, 10000, 7500});
    Form_Resize();
}

void MainPanes::fitMinimumSize()
{
    // The editor's controls stay whole, and a few lines of the body show.
    shell::fitMinimumSize(&window_, layout_.rightEdge(records::RecordEditor::fixedControlNames()),
                          layout_[textName(1)].top + 900);
}

void MainPanes::save()
{
    SettingsStore& settings = st_.settings();
    saveWindowPlacement(&window_, settings, Settings::F1Position);
    layout_.save(settings, Settings::F1Position, f1Keys());
    settings.writeNumber(Settings::F1Position, kCol1, list_->columnWidthTwips(0));
    settings.writeNumber(Settings::F1Position, kCol2, list_->columnWidthTwips(1));
}

void MainPanes::Form_Resize()
{
    if (window_.isMinimized() || !canvas_)
        return;
    const double S = twipsOf(window_.statusBar()->isVisible() ? window_.statusBar()->height() : 0);
    const double W = twipsOf(canvas_->width());
    const double H = twipsOf(canvas_->height()) + S;
    TwipsLayout& L = layout_;

    L[QStringLiteral("Toolbar1")].width = W;
    if (W > L[textName(0)].left) {
        L[QStringLiteral("ListView1")].width = W - L[QStringLiteral("ListView1")].left;
        L[textName(0)].width = W - L[textName(0)].left;
        L[textName(1)].width = W - L[textName(1)].left;
        L[textName(2)].width = W - L[textName(1)].left;
        L[QStringLiteral("imgSplitter2")].width = W - L[QStringLiteral("imgSplitter2")].left;
    }
    if (L[QStringLiteral("TreeView1")].top + S < H) {
        L[QStringLiteral("TabStrip1")].height = H - 400 - S;
        L[QStringLiteral("TreeView1")].height = L[QStringLiteral("TabStrip1")].height - 500;
    }
    if (L[textName(1)].top + S < H) {
        L[textName(1)].height = H - L[textName(1)].top - S;
        L[textName(2)].height = H - L[textName(2)].top - S;
    }
    L[QStringLiteral("imgSplitter")].height = H - S;
    L.apply();
}

void MainPanes::SizeControls(double x)
{
    const double outer = twipsOf(window_.frameGeometry().width());
    if (x < 1000)
        x = 1000;
    if (x > outer - 1000)
        x = outer - 1000;
    const double W = twipsOf(canvas_->width());
    TwipsLayout& L = layout_;
    // Nor so far that the editor's controls would leave the window.
    x = L.clampMove(L[QStringLiteral("imgSplitter")].left, x, records::RecordEditor::fixedControlNames(), W);
    const double d = x - L[QStringLiteral("imgSplitter")].left;

    L[QStringLiteral("TabStrip1")].width += d;
    L[QStringLiteral("TreeView1")].width += d;
    L[QStringLiteral("imgSplitter")].left += d;
    L[QStringLiteral("ListView1")].left += d;
    L[QStringLiteral("ListView1")].width = W - L[QStringLiteral("ListView1")].left;
    for (int i = 0; i <= 7; ++i)
        L[textName(i)].left += d;
    for (int i = 0; i <= 2; ++i)
        L[textName(i)].width = W - L[textName(i)].left;
    for (const QString& name : movingEditorControls()) {
        if (L.contains(name))
            L[name].left += d;
    }
    L[QStringLiteral("imgSplitter2")].left = x;
    L[QStringLiteral("imgSplitter2")].width = W - x;
    L.apply();
}

void MainPanes::SizeControls2(double y)
{
    const double outer = twipsOf(window_.frameGeometry().height());
    if (y < 1500)
        y = 1500;
    if (y > outer - 1500)
        y = outer - 1500;
    const double S = twipsOf(window_.statusBar()->isVisible() ? window_.statusBar()->height() : 0);
    const double H = twipsOf(canvas_->height()) + S;
    TwipsLayout& L = layout_;
    const double d = y - L[QStringLiteral("imgSplitter2")].top;

    L[QStringLiteral("imgSplitter2")].top += d;
    L[QStringLiteral("ListView1")].height += d;
    for (int i = 0; i <= 7; ++i)
        L[textName(i)].top += d;
    L[textName(1)].height = H - L[textName(1)].top - S;
    L[textName(2)].height = H - L[textName(2)].top - S;
    for (const QString& name : movingEditorControls()) {
        if (L.contains(name))
            L[name].top += d;
    }
    L.apply();
}

} // namespace zumilo::app

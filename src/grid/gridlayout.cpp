#include "gridlayout.h"

#include "datacontrol.h"
#include "gridview.h"

#include "records/editorplaces.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/commands.h"
#include "shell/settingsstore.h"
#include "shell/splitterhandle.h"
#include "shell/tabstrip.h"
#include "shell/twips.h"
#include "shell/windowplacement.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

namespace zumilo::grid {

namespace {

using shell::LayoutKey;

// Stored positions, in the order they are read and written; the grid's row
// height follows them.
const QList<LayoutKey>& f3Keys()
{
    static const QList<LayoutKey> keys = {
        {"TabStrip1", "Left", 0},         {"TabStrip1", "Top", 400},       {"TabStrip1", "Width", 3250},
        {"DBGrid1", "Left", 120},         {"DBGrid1", "Top", 1560},        {"DBGrid1", "Width", 3015},
        {"imgSplitter", "Left", 3250},    {"imgSplitter", "Top", 0},       {"Text2(0)", "Left", 750},
        {"Text2(0)", "Top", 840},         {"Text2(1)", "Left", 750},       {"Text2(1)", "Top", 1155},
        {"Text3(0)", "Left", 120},        {"Text3(0)", "Top", 880},        {"Text3(1)", "Left", 160},
        {"Text3(1)", "Top", 1200},        {"cmdRCFind(0)", "Left", 2200},  {"cmdRCFind(0)", "Top", 800},
        {"cmdRCFind(1)", "Left", 2200},   {"cmdRCFind(1)", "Top", 1200},   {"cmdRCFind(2)", "Left", 2600},
        {"cmdRCFind(2)", "Top", 1200},    {"Text1(0)", "Left", 4000},      {"Text1(0)", "Top", 720},
        {"Text1(1)", "Left", 3300},       {"Text1(1)", "Top", 1500},       {"Text1(2)", "Left", 3300},
        {"Text1(2)", "Top", 1500},        {"Text1(3)", "Left", 4000},      {"Text1(3)", "Top", 400},
        {"Text1(4)", "Left", 7740},       {"Text1(4)", "Top", 400},        {"Text1(5)", "Left", 9840},
        {"Text1(5)", "Top", 400},         {"Text1(6)", "Left", 11235},     {"Text1(6)", "Top", 400},
        {"Check1(0)", "Left", 6240},      {"Check1(0)", "Top", 420},       {"Check1(1)", "Left", 7080},
        {"Check1(1)", "Top", 420},        {"Label1(0)", "Left", 3480},     {"Label1(0)", "Top", 510},
        {"Label1(1)", "Left", 3465},      {"Label1(1)", "Top", 780},       {"Label1(2)", "Left", 3360},
        {"Label1(2)", "Top", 1260},       {"Label1(4)", "Left", 9480},     {"Label1(4)", "Top", 450},
        {"Data1", "Left", 3360},          {"Data1", "Top", 6240},          {"cmdBunOpen", "Left", 5580},
        {"cmdBunOpen", "Top", 420},       {"cmdCalOpen(0)", "Left", 8835}, {"cmdCalOpen(0)", "Top", 420},
        {"cmdCalOpen(1)", "Left", 10935}, {"cmdCalOpen(1)", "Top", 420},
    };
    return keys;
}

const QString kRowHeight = QStringLiteral("DBGrid1_RowHeight");

// The record pane's controls that move with the splitter, besides Text1.
const QStringList& movingPaneControls()
{
    static const QStringList names = {
        QStringLiteral("Label1(0)"),  QStringLiteral("Label1(1)"),     QStringLiteral("Label1(2)"),
        QStringLiteral("Label1(3)"),  QStringLiteral("Label1(4)"),     QStringLiteral("Check1(0)"),
        QStringLiteral("Check1(1)"),  QStringLiteral("cmdCalOpen(0)"), QStringLiteral("cmdCalOpen(1)"),
        QStringLiteral("cmdBunOpen"), QStringLiteral("Data1"),
    };
    return names;
}

QString textName(int i)
{
    return QStringLiteral("Text1(%1)").arg(i);
}

double twipsOf(int pixels)
{
    return shell::pixelsToTwips(pixels);
}

// The narrowest the left pane and the record pane may become.
constexpr double kLeftPaneMinimum = 3250;
constexpr double kPaneMargin = 900;
constexpr double kSearchGridTop = 1560;
constexpr double kPlainGridTop = 800;

} // namespace

GridLayout::GridLayout(QMainWindow& window, QToolBar* toolBar, shell::TabStrip* tabStrip, GridView* grid,
                       const SearchBar& searchBar, records::RecordEditor& editor, DataControl* data)
    : window_(window), canvas_(window.centralWidget()), grid_(grid), searchBar_(searchBar),
      splitter_(new shell::SplitterHandle(Qt::Horizontal, QStringLiteral("imgSplitter"), canvas_)),
      splitterBar_(new shell::SplitterBar(QStringLiteral("picSplitter"), canvas_))
{

    // Design sizes; heights and caption widths grow to what the font needs.
    auto fit = [](QWidget* w, double width, double height) {
        const QSize hint = w->sizeHint();
        return std::pair{std::max(width, twipsOf(hint.width())), std::max(height, twipsOf(hint.height()))};
    };
    const double searchHeight = fit(searchBar_.boxes[0], 0.0, 285.0).second;
    layout_.add(QStringLiteral("Toolbar1"), toolBar, {0, 0, 10000, shell::kToolBarHeight});
    layout_.add(QStringLiteral("TabStrip1"), tabStrip, {0, 400, 3250, 6000});
    layout_.add(QStringLiteral("DBGrid1"), grid_, {120, kSearchGridTop, 3015, 4500});
    layout_.add(QStringLiteral("imgSplitter"), splitter_, {3250, 0, 50, 7000});
    layout_.add(QStringLiteral("picSplitter"), splitterBar_, {3250, 350, 50, 7000});
    layout_.add(QStringLiteral("Text2(0)"), searchBar_.boxes[0], {750, 840, 1400, searchHeight});
    layout_.add(QStringLiteral("Text2(1)"), searchBar_.boxes[1], {750, 1155, 1400, searchHeight});
    for (int i = 0; i < 2; ++i) {
        // The captions must end before their boxes begin; Japanese faces
        // run wider than the ones these places were made for.
        QLabel* label = searchBar_.labels[size_t(i)];
        const double room = 750.0 - (i == 0 ? 120.0 : 160.0);
        QFont font = label->font();
        while (twipsOf(label->sizeHint().width()) > room && font.pointSizeF() > 7.0) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            label->setFont(font);
        }
        const auto [w, h] = fit(label, 600.0, 240.0);
        layout_.add(QStringLiteral("Text3(%1)").arg(i), searchBar_.labels[size_t(i)],
                    {i == 0 ? 120.0 : 160.0, i == 0 ? 880.0 : 1200.0, w, h});
    }
    const double buttonHeight = std::max(330.0, searchHeight);
    layout_.add(QStringLiteral("cmdRCFind(0)"), searchBar_.buttons[0], {2200, 800, 975, buttonHeight});
    layout_.add(QStringLiteral("cmdRCFind(1)"), searchBar_.buttons[1], {2200, 1200, 375, buttonHeight});
    layout_.add(QStringLiteral("cmdRCFind(2)"), searchBar_.buttons[2], {2600, 1200, 575, buttonHeight});

    static const QList<records::EditorPlace> places = {
        {"Label1(0)", 3480, 510, 360, 220},     {"Text1(3)", 4000, 400, 1575, 270},
        {"cmdBunOpen", 5580, 420, 300, 250},    {"Check1(0)", 6240, 420, 660, 220},
        {"Check1(1)", 7080, 420, 660, 220},     {"Text1(4)", 7740, 400, 1095, 270},
        {"cmdCalOpen(0)", 8835, 420, 300, 250}, {"Label1(4)", 9480, 450, 360, 220},
        {"Text1(5)", 9840, 400, 1095, 270},     {"cmdCalOpen(1)", 10935, 420, 300, 250},
        {"Text1(6)", 11235, 400, 855, 270},     {"Text1(7)", 4000, 400, 735, 270},
        {"Label1(1)", 3465, 780, 360, 220},     {"Text1(0)", 4000, 720, 5000, 700},
        {"Label1(2)", 3360, 1260, 360, 220},    {"Label1(3)", 3480, 510, 360, 220},
        {"Text1(1)", 3300, 1500, 6000, 4000},   {"Text1(2)", 3300, 1500, 6000, 4000},
    };
    records::placeEditor(layout_, editor, places);
    const auto [dataWidth, dataHeight] = fit(data, 3600.0, 330.0);
    layout_.add(QStringLiteral("Data1"), data, {3360, 6240, dataWidth, dataHeight});

    QObject::connect(splitter_, &shell::SplitterHandle::pressed, splitter_, [this] {
        const shell::TwipsGeometry h = layout_[QStringLiteral("imgSplitter")];
        layout_[QStringLiteral("picSplitter")] = {h.left, h.top + 350, h.width, h.height};
        layout_.apply(QStringLiteral("picSplitter"));
        splitterBar_->show();
        splitterBar_->raise();
        SplitterMoving = true;
    });
    QObject::connect(splitter_, &shell::SplitterHandle::moved, splitter_, [this](double x, double) {
        if (!SplitterMoving)
            return;
        const double p = layout_[QStringLiteral("imgSplitter")].left + x;
        const double outer = twipsOf(window_.frameGeometry().width());
        layout_[QStringLiteral("picSplitter")].left = std::max(kLeftPaneMinimum, std::min(p, outer - kPaneMargin));
        layout_.apply(QStringLiteral("picSplitter"));
    });
    QObject::connect(splitter_, &shell::SplitterHandle::released, splitter_, [this] {
        moveSplitter(layout_[QStringLiteral("picSplitter")].left);
        splitterBar_->hide();
        SplitterMoving = false;
    });
    layout_.apply();
}

void GridLayout::restore(const shell::SettingsStore& settings)
{
    layout_.restore(settings, shell::Settings::F3Position, f3Keys());
    layout_[textName(2)].left = layout_[textName(1)].left;
    grid_->setRowHeight(shell::twipsToPixels(settings.readNumber(shell::Settings::F3Position, kRowHeight, 210)));
    // The record pane stays whole, and so do the grid and the data control.
    shell::fitMinimumSize(&window_,
                          layout_.rightEdge(records::RecordEditor::fixedControlNames() << QStringLiteral("Data1")),
                          layout_[textName(1)].top + 900 + layout_[QStringLiteral("Data1")].height);
    resize();
}

void GridLayout::save(shell::SettingsStore& settings) const
{
    layout_.save(settings, shell::Settings::F3Position, f3Keys());
    settings.writeNumber(shell::Settings::F3Position, kRowHeight, twipsOf(grid_->rowHeight()));
    settings.sync();
}

double GridLayout::statusHeight() const
{
    const QStatusBar* bar = window_.statusBar();
    return twipsOf(bar->isVisible() ? bar->height() : 0);
}

void GridLayout::resize()
{
    if (window_.isMinimized())
        return;
    const double S = statusHeight();
    const double W = twipsOf(canvas_->width());
    const double H = twipsOf(canvas_->height()) + S;
    shell::TwipsLayout& L = layout_;
    const QString data = QStringLiteral("Data1");

    L[QStringLiteral("Toolbar1")].width = W;
    if (W > L[textName(0)].left) {
        L[textName(0)].width = W - L[textName(0)].left;
        L[textName(1)].width = W - L[textName(1)].left;
        L[textName(2)].width = W - L[textName(1)].left;
    }
    L[QStringLiteral("TabStrip1")].height = H - 400 - S;
    L[QStringLiteral("DBGrid1")].height = H - L[QStringLiteral("DBGrid1")].top - S - 100;
    L[textName(1)].height = H - 1500 - S - L[data].height;
    L[textName(2)].height = L[textName(1)].height;
    L[data].top = H - S - L[data].height;
    L[QStringLiteral("imgSplitter")].height = H - S;
    L.apply();
}

void GridLayout::moveSplitter(double x)
{
    const double outer = twipsOf(window_.frameGeometry().width());
    if (x < kLeftPaneMinimum)
        x = kLeftPaneMinimum;
    if (x > outer - kPaneMargin)
        x = outer - kPaneMargin;
    const double W = twipsOf(canvas_->width());
    shell::TwipsLayout& L = layout_;
    // Nor so far that the record pane's controls would leave the window.
    x = L.clampMove(L[QStringLiteral("imgSplitter")].left, x, records::RecordEditor::fixedControlNames(), W);
    const double d = x - L[QStringLiteral("imgSplitter")].left;

    L[QStringLiteral("TabStrip1")].width += d;
    L[QStringLiteral("DBGrid1")].width += d;
    L[QStringLiteral("imgSplitter")].left += d;
    for (int i = 0; i <= 7; ++i)
        L[textName(i)].left += d;
    L[textName(0)].width = W - L[textName(0)].left;
    L[textName(1)].width = W - L[textName(1)].left;
    L[textName(2)].width = W - L[textName(1)].left;
    for (const QString& name : movingPaneControls()) {
        if (L.contains(name))
            L[name].left += d;
    }
    L.apply();
}

void GridLayout::showSearchBar(bool shown)
{
    const double S = statusHeight();
    const double H = twipsOf(canvas_->height()) + S;
    shell::TwipsGeometry& g = layout_[QStringLiteral("DBGrid1")];
    g.top = shown ? kSearchGridTop : kPlainGridTop;
    g.height = H - g.top - S - 100;
    layout_.apply(QStringLiteral("DBGrid1"));
    searchBar_.setVisible(shown);
    if (!shown)
        grid_->setFocus();
}

} // namespace zumilo::grid

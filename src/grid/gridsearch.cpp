#include "gridsearch.h"

#include "datacontrol.h"
#include "gridview.h"
#include "recordpane.h"

#include "shell/appstate.h"
#include "shell/prompts.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <iterator>

using zumilo::shell::Msg::Information;
using zumilo::store::tryStep;

namespace zumilo::grid {

const QString kFindTab = QStringLiteral("FindTab");

namespace {

const QString kJyuyoTab = QStringLiteral("JyuyoTab");
const QString kKijituTab = QStringLiteral("KijituTab");
const QString kSaikinTab = QStringLiteral("SaikinTab");

using Notes = store::NoteView::Notes;

// A view's notes and its columns, in the order shown.
struct ViewFields {
    const QString& key;
    Notes notes;
    const char* fields;
};

const ViewFields kViews[] = {
    {kFindTab, Notes::All,
     "title,naiyo,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,kanryoCK,kanryodate,sinkidate,"
     "bunID,oyaID,id"},
    {kJyuyoTab, Notes::Important,
     "jyuyoCK,title,naiyo,bunrui,kijitudate,kousindate,kousintime,kanryoCK,kanryodate,"
     "sinkidate,bunID,oyaID,id"},
    {kKijituTab, Notes::Scheduled,
     "kijitudate,title,naiyo,kanryoCK,kanryodate,bunrui,jyuyoCK,kousindate,kousintime,"
     "sinkidate,bunID,oyaID,id"},
    {kSaikinTab, Notes::Recent,
     "kousindate,title,naiyo,bunrui,jyuyoCK,kijitudate,kousintime,kanryoCK,kanryodate,"
     "sinkidate,bunID,oyaID,id"},
    // "全数": every note, with sinkidate before kanryoCK.
    {kFindTab, Notes::All,
     "title,naiyo,bunrui,jyuyoCK,kijitudate,kousindate,kousintime,sinkidate,kanryoCK,kanryodate,"
     "bunID,oyaID,id"},
};

store::NoteView notesView(const ViewFields& view)
{
    store::NoteView v;
    v.notes = view.notes;
    v.fields = QString::fromLatin1(view.fields).split(QLatin1Char(','));
    return v;
}

const QString kNaiyoRefusal = QStringLiteral("sorry  この項目は並べ替え対象外です（ソートできません）");
const QString kRecentRefusal = QStringLiteral("「最近」タブではソートできません");

} // namespace

store::NoteView findTabView()
{
    return notesView(kViews[0]);
}

store::NoteView allNotesView()
{
    return notesView(kViews[4]);
}

store::NoteView searchView(const QString& title, const QString& body)
{
    if (title.isEmpty() && body.isEmpty())
        return findTabView();
    store::NoteView v = allNotesView();
    v.titleWord = title;
    v.bodyWord = body;
    return v;
}

// --- the search bar ---------------------------------------------------------------

SearchBar SearchBar::create(QWidget* canvas)
{
    SearchBar bar;
    static const char* const labelCaptions[2] = {"タイトル", "内容"};
    for (int i = 0; i < 2; ++i) {
        auto* label = new QLabel(QString::fromUtf8(labelCaptions[i]), canvas);
        label->setObjectName(QStringLiteral("Text3(%1)").arg(i));
        bar.labels[size_t(i)] = label;
        auto* box = new QLineEdit(canvas);
        box->setObjectName(QStringLiteral("Text2(%1)").arg(i));
        label->setBuddy(box);
        bar.boxes[size_t(i)] = box;
    }
    static const char* const findCaptions[3] = {"検索(&A)", "×", "全数"};
    static const char* const findTips[3] = {"入力した条件で検索を開始します", "条件クリア",
                                            "登録されている全数を表示します"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(QString::fromUtf8(findCaptions[i]), canvas);
        button->setObjectName(QStringLiteral("cmdRCFind(%1)").arg(i));
        button->setToolTip(QString::fromUtf8(findTips[i]));
        button->setAutoDefault(false);
        if (i == 1) // "×" says nothing when read aloud
            button->setAccessibleName(button->toolTip());
        bar.buttons[size_t(i)] = button;
    }
    return bar;
}

void SearchBar::setVisible(bool visible) const
{
    for (int i = 0; i < 2; ++i) {
        boxes[size_t(i)]->setVisible(visible);
        labels[size_t(i)]->setVisible(visible);
    }
    for (QPushButton* b : buttons)
        b->setVisible(visible);
}

// --- the views --------------------------------------------------------------------

GridSearch::GridSearch(const SearchBar& bar, DataControl& data, GridView& grid, RecordPane& pane,
                       shell::AppState& state, QWidget* window)
    : bar_(bar), data_(data), grid_(grid), pane_(pane), st_(state), window_(window)
{
}

void GridSearch::reset()
{
    for (QLineEdit* box : bar_.boxes)
        box->clear();
    FindTabView = findTabView();
    GridSortField = QStringLiteral("title");
    GridSortOrder.clear();
}

bool GridSearch::refresh()
{
    bool refreshed = false;
    const auto following = pane_.gridFollows();
    if (!data_.database()) {
        // Told when it could not be opened; the next activation tries again.
        data_.dropRows();
        return false;
    }
    const store::StepResult read = tryStep([&] { refreshed = data_.refresh(); });
    if (!read) {
        // The rows shown before are not this search's or view's answer.
        data_.dropRows();
        pane_.tellUnread(*read.error());
    }
    showSortIndicator(-1);
    return refreshed;
}

void GridSearch::showView(const QString& tabKey)
{
    data_.setView(tabView(tabKey));
    refresh();
}

store::NoteView GridSearch::tabView(const QString& key) const
{
    if (key == kFindTab)
        return FindTabView;
    const auto* view = std::find_if(std::begin(kViews), std::end(kViews),
                                    [&](const ViewFields& v) { return v.key == key; });
    return notesView(view != std::end(kViews) ? *view : kViews[3]);
}

void GridSearch::sortBy(int column)
{
    store::Recordset* rs = data_.recordset();
    QString field;
    if (!rs || !tryStep([&] { field = rs->fieldName(column); }))
        return;
    if (field == GridSortField && GridSortOrder.isEmpty())
        GridSortOrder = QStringLiteral("desc");
    else
        GridSortOrder.clear();
    GridSortField = field;
    if (field.left(5) == QLatin1String("naiyo")) {
        st_.prompts().message(window_, kNaiyoRefusal, Information);
        showSortIndicator(-1);
        return;
    }
    bool sorted = true;
    const QString tab = st_.CurrentTab;
    if (tab == kFindTab || tab == kJyuyoTab || tab == kKijituTab) {
        store::NoteView v = tabView(tab);
        v.sortFields = QStringList{field};
        v.descending = !GridSortOrder.isEmpty();
        data_.setView(v);
    } else if (tab == kSaikinTab) {
        st_.prompts().message(window_, kRecentRefusal, Information);
        sorted = false;
    } else {
        sorted = false;
    }
    if (refresh() && sorted)
        showSortIndicator(column);
}

void GridSearch::showSortIndicator(int column)
{
    QHeaderView* header = grid_.horizontalHeader();
    header->setSortIndicatorShown(column >= 0);
    if (column >= 0)
        header->setSortIndicator(column, GridSortOrder.isEmpty() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// --- search --------------------------------------------------------------------------

void GridSearch::searchFor(const QString& term, bool inBodies)
{
    bar_.boxes[0]->setText(inBodies ? QString() : term);
    bar_.boxes[1]->setText(inBodies ? term : QString());
    find(0);
}

QList<qint64> GridSearch::shownNotes() const
{
    QList<qint64> ids;
    store::Recordset* rs = data_.recordset();
    if (!rs)
        return ids;
    const int id = rs->fieldIndex(QStringLiteral("id"));
    for (int row = 0; row < data_.recordCount(); ++row) {
        if (rs->isRowDeleted(row))
            continue;
        ids << (id >= 0 ? rs->valueAt(row, id).toLongLong() : 0); // a failure is the caller's to tell
    }
    return ids;
}

void GridSearch::find(int button)
{
    switch (button) {
    case 0:
        FindTabView = searchView(bar_.boxes[0]->text(), bar_.boxes[1]->text());
        data_.setView(FindTabView);
        refresh();
        grid_.setFocus();
        break;
    case 1:
        // The grid keeps the last result.
        bar_.boxes[0]->clear();
        bar_.boxes[1]->clear();
        break;
    case 2:
        FindTabView = allNotesView();
        data_.setView(FindTabView);
        refresh();
        break;
    default:
        break;
    }
}

} // namespace zumilo::grid

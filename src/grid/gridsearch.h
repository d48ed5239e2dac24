#pragma once

#include "store/views.h"

#include <QList>
#include <QString>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace zumilo::shell {
struct AppState;
}

namespace zumilo::grid {

class DataControl;
class GridView;
class RecordPane;

// The search view's key on the view tabs.
extern const QString kFindTab;

// The search view as the window sets it at load.
store::NoteView findTabView();
// "全数": every note, with sinkidate before kanryoCK.
store::NoteView allNotesView();
// The search view for a title and a body text; either may be empty.
// Both empty gives findTabView().
store::NoteView searchView(const QString& title, const QString& body);

// The search view's bar above the grid: the captions "タイトル" and "内容"
// (Text3(0), Text3(1)), their boxes (Text2(0), Text2(1)) and the buttons
// cmdRCFind(0..2) that search, clear the words and show every note.
struct SearchBar {
    // Creates them on the window's canvas.
    static SearchBar create(QWidget* canvas);
    void setVisible(bool visible) const;

    std::array<QLabel*, 2> labels{};
    std::array<QLineEdit*, 2> boxes{};
    std::array<QPushButton*, 3> buttons{};
};

// What the grid shows: the view of a tab (search, important, scheduled,
// recent) as a store::NoteView, with the search bar's words and the order
// a header click chose, read through the data control.
class GridSearch {
public:
    GridSearch(const SearchBar& bar, DataControl& data, GridView& grid, RecordPane& pane, shell::AppState& state,
               QWidget* window);

    // As the window loads: no words, the search view unsearched, by title.
    void reset();
    // Reads the view's rows afresh. False when the row could not be left
    // or the rows could not be read (then none are shown).
    bool refresh();
    // Shows a tab's view; the search view keeps its words.
    void showView(const QString& tabKey);
    // DBGrid1_HeadClick: sorts the view by a column, or says why not.
    void sortBy(int column);
    // cmdRCFind_Click: 0 searches the words, 1 clears them, 2 shows every note.
    void find(int button);
    // Searches `term` in the titles, or in the bodies.
    void searchFor(const QString& term, bool inBodies);
    // The numbers of the notes the grid lists, less those deleted.
    QList<qint64> shownNotes() const;

    const SearchBar& bar() const { return bar_; }
    const store::NoteView& searchTabView() const { return FindTabView; }
    const QString& sortField() const { return GridSortField; }
    const QString& sortOrder() const { return GridSortOrder; }

private:
    store::NoteView tabView(const QString& key) const;
    void showSortIndicator(int column);

    SearchBar bar_;
    DataControl& data_;
    GridView& grid_;
    RecordPane& pane_;
    shell::AppState& st_;
    QWidget* window_;

    store::NoteView FindTabView; // the search view, with the words last searched
    QString GridSortField;
    QString GridSortOrder;
};

} // namespace zumilo::grid

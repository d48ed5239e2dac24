#pragma once

#include "editednote.h"

#include "tree/categorypicker.h"

#include <QTextOption>

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>
#include <array>

class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;
class QWidget;

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Recordset;
}

namespace zumilo::records {

// The windows that carry the editor differ in a few rules.
enum class EditorKind {
    Main,   // main window: notice texts when empty
    Single, // single-record window: category changes alone do not mark a change
    Grid,   // grid window's record pane
};

// The editor of one note: title, body (two boxes, without and with
// wrapping, only one visible), category name and number, completion date,
// due date and time, the important and done check boxes, the calendar and
// the category button. Its controls are created on a window's canvas and
// placed by that window (positions come from the window's layout); they
// carry their names as objectName: "Text1(0)".."Text1(7)", "Check1(0)",
// "Check1(1)", "Label1(0)".."Label1(4)", "cmdCalOpen(0)", "cmdCalOpen(1)",
// "cmdBunOpen", "MonthView1".
//
// The note is one value (EditedNote): the boxes, check boxes and status
// panels 2 to 6 (number, oyaID, update date and time, creation date) show
// it, and typing changes it. A save works on a snapshot of it and never
// touches the controls while the file is locked.
class RecordEditor : public QObject, public tree::CategoryTarget {
    Q_OBJECT
public:
    RecordEditor(EditorKind kind, QWidget* canvas, shell::StatusPanels* panels, shell::AppState& state);
    ~RecordEditor() override;

    EditorKind kind() const { return kind_; }

    // --- controls -----------------------------------------------------
    QPlainTextEdit* titleBox() const;       // Text1(0)
    QPlainTextEdit* bodyBox() const;        // Text1(1), no wrapping
    QPlainTextEdit* wrappedBodyBox() const; // Text1(2), wraps
    QPlainTextEdit* visibleBodyBox() const;
    QLineEdit* lineBox(int index) const; // Text1(3)..Text1(7)
    QWidget* textBox(int index) const;   // Text1(0)..Text1(7)
    QCheckBox* check(int index) const;   // Check1(0) 重要, Check1(1) 完了
    QLabel* label(int index) const;      // Label1(0)..Label1(4); nullptr where absent
    QToolButton* calendarButton(int index) const;
    QToolButton* categoryButton() const; // cmdBunOpen
    QCalendarWidget* calendar();         // MonthView1
    // --- the category picker's target ----------------------------------
    QAbstractButton* pickerButton() const override;
    int categoryNameWidth() const override;
    // Writes the chosen category into Text1(7) and Text1(3), as the user's change.
    void setCategory(const QString& bunID, const QString& name) override;

    // Every control, for the window's layout code.
    QList<QWidget*> controls() const;
    // The names of the controls that keep their size however large the
    // window is (all but the title and body boxes and the calendar).
    static QStringList fixedControlNames();

    // Text of Text1(i) as the user left it (line breaks as "\n").
    QString text(int index) const;
    // Sets Text1(i); this counts as a change, as typing would.
    void setText(int index, const QString& text);
    bool isChecked(int index) const;

    // --- the note ---------------------------------------------------------
    // Shows the current row of `rs` (Null as empty text, dates yyyy/MM/dd),
    // fills panels 2 to 6, and ends unchanged. Boxes named in `keepTyped`
    // (fields a save just refused) keep what the user typed instead, and
    // the note then stays changed.
    void UpdateFields(const store::Recordset& rs, const QList<FieldFailure>& keepTyped = {});
    // Empties the fields, the check boxes and the six panels; the main
    // window's editor shows its notice texts instead. Ends unchanged.
    void FieldsClear();

    // A copy of the note as it stands, for a save or a draft.
    EditedNote snapshot() const;
    const NoteStamps& stamps() const { return note_.stamps; }
    // Sets the panels' values of the note (a new note's number and dates).
    void setStamps(const NoteStamps& stamps);
    // Shows `fields` as the user's change (a draft brought back).
    void restore(const NoteFields& fields);

    // How often the controls were read or written while this thread held
    // a write transaction; saving never does.
    static int controlsTouchedWhileWriting();

    // A category was renamed: a box showing it takes the new name, without
    // counting as the user's change.
    void categoryRenamed(const QString& bunID, const QString& name);

    bool RecordChanged() const { return note_.changed; }
    void setRecordChanged(bool changed);

    // --- wrapping, fonts, calendar -----------------------------------------
    bool isWrapped() const;
    // Shows the wrapping or the plain body box, copying the text across.
    void setWrapped(bool wrapped);
    void setEditorFont(const QString& family, double pointSize);

    void cmdCalOpen_Click(int index);
    // A date chosen in the calendar goes into the completion (0) or due (1)
    // date box, and the calendar closes.
    void MonthView1_DateDblClick(const QDate& date);
    int calendarTarget() const { return calendarTarget_; }

signals:
    // The user changed the note (RecordChanged became or stays true).
    void changed();
    // The editor holds no unsaved change any more: a note was loaded or
    // saved, or the user dropped the change.
    void cleared();
    // Whether the undo command applies (false after a load or clear).
    void undoAvailable(bool available);
    // A text box was double-clicked: `word` is the selected word widened
    // to the blanks around it (for opening links).
    void wordDoubleClicked(const QString& word);

private:
    void onTextChanged(int index);
    void onCheckClicked(int index);
    void limitTitle(int position, int added);
    void fitPastedLines(QPlainTextEdit* box, int added);
    void setLoading(bool loading);
    void settle(bool changed);
    void showStamps();
    // The body's value follows its box lazily: a long body is not copied
    // at every key.
    void syncBody() const;
    void guardControls() const;

    EditorKind kind_;
    QWidget* canvas_;
    shell::StatusPanels* panels_;
    shell::AppState& state_;

    std::array<QWidget*, 8> boxes_{};
    std::array<QCheckBox*, 2> checks_{};
    std::array<QLabel*, 5> labels_{};
    std::array<QToolButton*, 2> calButtons_{};
    QToolButton* categoryButton_ = nullptr;
    QCalendarWidget* calendar_ = nullptr;

    mutable EditedNote note_;
    mutable bool bodyStale_ = false;
    // Read-only boxes and their tool tips for what UpdateFields() cut.
    void markCuts();
    bool loading_ = false;
    int calendarTarget_ = 0;
};

// The longest title a note can hold; the title box takes no more.
inline constexpr int kTitleLength = 250;
// The largest point size the text boxes take (setEditorFont caps there).
inline constexpr double kLargestFontSize = 200.0;

// The notice texts the main window's editor shows when it has no note.
QString emptyTitleNotice();
QString emptyBodyNotice();

} // namespace zumilo::records

#pragma once

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
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

// A field the store refused while saving; the others were saved.
struct FieldFailure {
    QString label;   // the field as the user knows it: "タイトル", "完了日", "期日"...
    QString message; // why, in Japanese
};

// What a save achieved.
struct SaveOutcome {
    bool stored = false;            // the row was written
    QString error;                  // why it was not (Japanese), when !stored
    QList<FieldFailure> failures;   // fields that kept their stored value
    qint64 id = 0;                  // the row's ID after the save
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
// Status panels 2 to 6 show the note's ID, oyaID, update date, update time
// and creation date; saving reads oyaID and the creation date back from
// them, as the window shows them.
class RecordEditor : public QObject {
    Q_OBJECT
public:
    RecordEditor(EditorKind kind, QWidget* canvas, shell::StatusPanels* panels, shell::AppState& state);
    ~RecordEditor() override;

    EditorKind kind() const { return kind_; }

    // --- controls -----------------------------------------------------
    QPlainTextEdit* titleBox() const;          // Text1(0)
    QPlainTextEdit* bodyBox() const;           // Text1(1), no wrapping
    QPlainTextEdit* wrappedBodyBox() const;    // Text1(2), wraps
    QPlainTextEdit* visibleBodyBox() const;
    QLineEdit* lineBox(int index) const;       // Text1(3)..Text1(7)
    QWidget* textBox(int index) const;         // Text1(0)..Text1(7)
    QCheckBox* check(int index) const;         // Check1(0) 重要, Check1(1) 完了
    QLabel* label(int index) const;            // Label1(0)..Label1(4); nullptr where absent
    QToolButton* calendarButton(int index) const;
    QToolButton* categoryButton() const;       // cmdBunOpen
    QCalendarWidget* calendar() const;         // MonthView1
    // Every control, for the window's layout code.
    QList<QWidget*> controls() const;

    // Text of Text1(i) as the user sees it (line breaks as "\n").
    QString text(int index) const;
    // Sets Text1(i); this counts as a change, as typing would.
    void setText(int index, const QString& text);
    bool isChecked(int index) const;

    // --- the note ---------------------------------------------------------
    // Shows the current row of `rs` (Null as empty text, dates yyyy/MM/dd),
    // fills panels 2 to 6, and ends unchanged.
    void UpdateFields(const store::Recordset& rs);
    // Empties the fields, the check boxes and the six panels; the main
    // window's editor shows its notice texts instead. Ends unchanged.
    void FieldsClear();

    // Writes every field into the row `rs` is editing or adding (the caller
    // has called edit() or addNew()): title, body (the visible box), category
    // name and number, completion date, due date and time, the two flags,
    // oyaID (panel 3, 0 when empty), the update stamps (today, now; shown in
    // panels 4 and 5) and the creation date (panel 6, today when empty; with
    // `newCreationDate` always today). A field the store refuses keeps its
    // stored value and is listed in the outcome; the rest are written.
    // Does not call update().
    QList<FieldFailure> writeFields(store::Recordset& rs, bool newCreationDate = false);

    bool RecordChanged() const { return changed_; }
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
    // Whether the undo command applies (false after a load or clear).
    void undoAvailable(bool available);
    void categoryButtonClicked();
    // A text box was double-clicked on `word` (for opening links).
    void wordDoubleClicked(const QString& word);

private:
    void onTextChanged(int index);
    void onCheckClicked(int index);
    void setLoading(bool loading);

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

    bool changed_ = false;
    bool loading_ = false;
    int calendarTarget_ = 0;
};

// What every window says about saving notes.
QString noRowToSaveMessage();
// A save that stored nothing, with the store's reason; the edits stay.
QString notSavedMessage(const QString& reason);
// The fields a save could not store, one per line; they keep their old
// value, or stay empty in a new row.
QString refusedFieldsMessage(const QList<FieldFailure>& failures, bool newRow = false);

// The notice texts the main window's editor shows when it has no note.
QString emptyTitleNotice();
QString emptyBodyNotice();

} // namespace zumilo::records

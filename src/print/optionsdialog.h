#pragma once

#include <QDialog>
#include <QWidget>
#include <array>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace zumilo::shell {
struct AppState;
}

namespace zumilo::print {

// Two arrow buttons that step the number in a box by one: up always, down
// only while the number is above `floor`. Text that is no number is left
// as it is.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(QLineEdit* buddy, double floor, QWidget* parent);
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    void UpClick();
    void DownClick();

private:
    QLineEdit* buddy_;
    double floor_;
    QToolButton* up_;
    QToolButton* down_;
};

// The options dialog (frmOption): the print page set-up and font on the
// "印刷" tab, the screen font, the date-stamp format and the start view on
// the "画面" tab; the font frame is shared by both tabs. It reads the
// settings when it opens and writes every one of them on OK; Cancel
// writes nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(shell::AppState& state, QWidget* owner);

    // "PrintTab" or "FormTab": whose font the font frame shows.
    QString OptionPage() const { return optionPage_; }

    void TabStrip1_Click(int index);
    void cmdShowFont_Click();
    void cmdPrinter_Click();
    void cmdOK_Click();

private:
    void Form_Load();
    void Text2_Change(int index);
    QGroupBox* frame(const QString& name, const QString& caption);

    shell::AppState& st_;
    QString optionPage_ = QStringLiteral("PrintTab");
    // Text3(0)..Text3(3): the print font's name and size, the screen font's.
    std::array<QString, 4> holders_;

    QTabBar* tabs_ = nullptr;
    std::array<QGroupBox*, 4> frame1_{};
    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    QStackedWidget* paperStack_ = nullptr; // Frame1(0) on the print tab, nothing on the other
    QStackedWidget* sideStack_ = nullptr;  // Frame1(3), Frame1(2) or Frame2, Frame3
    QComboBox* paper_ = nullptr;           // Combo1
    QComboBox* openTab_ = nullptr;         // Combo2
    std::array<QLineEdit*, 7> text2_{};
    QButtonGroup* orientation_ = nullptr; // Option1: id 0 横, 1 たて
    QButtonGroup* dateTime_ = nullptr;    // Option2(0)..(2)
};

// Opens frmOption, modal, owned by `owner`; true when it was closed by OK.
bool showOptions(shell::AppState& state, QWidget* owner);

} // namespace zumilo::print

#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace zumilo::shell {
struct AppState;
}

namespace zumilo::app {

// The about box (frmAbout): the program's name, its version and icon, and
// a button that starts the desktop's system-information program.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(shell::AppState& state, QWidget* parent);

    // "Version 1.0.0": the version the program was built as.
    static QString versionLine();
    // The system-information programs looked for on the PATH, in order.
    static QStringList systemInformationPrograms();
    void StartSysInfo();

private:
    shell::AppState& st_;
};

// Opens the about box, modal, owned by `parent`.
void showAboutBox(shell::AppState& state, QWidget* parent);

// The program's own page, a file installed with it: beside the program
// when it runs from its build folder, else in the shared documents.
QString homePagePath(const QString& programFolder);

} // namespace zumilo::app

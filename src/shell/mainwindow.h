#pragma once

#include "appstate.h"

#include <QHash>
#include <QMainWindow>
#include <memory>

class QAction;

namespace zumilo::store {
class Database;
class Recordset;
} // namespace zumilo::store

namespace zumilo::shell {

class RecentFiles;
class StatusPanels;

// The main window (Form1): lives for the whole run, works on one database
// file at a time, and owns the start-up and shut-down steps of the program.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppState& state, QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- start-up and shut-down ---------------------------------------
    void Form_Load();
    void Form_QueryUnload();
    void Form_Unload();
    void mnuEnd_Click();

    // --- database files -------------------------------------------------
    bool DBCheckOK() const;
    void mnuOpenDB_Click();
    void mnuRecentFile_Click(int index);
    // Opens DatabasePath and switches the window to it; the caller has set
    // the Previous* names and the new ones.
    void OpenDatabaseFile();
    void mnuDBnew_Click();
    void mnuDBnew2_Click();

    RecentFiles& recentFiles() const { return *recent_; }
    StatusPanels& statusPanels() const { return *panels_; }
    store::Database* currentDatabase() const { return CurrentDatabase.get(); }
    QAction* action(const QString& name) const { return actions_.value(name); }
    AppState& state() const { return st_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createDatabaseFile(bool withStarterCategories);
    // The steps every switch to another file shares: recordsets, editor,
    // tree, current category, caption, list.
    void showOpenedDatabase();
    QString firstStartDatabasePath() const;

    AppState& st_;
    QHash<QString, QAction*> actions_;
    std::unique_ptr<RecentFiles> recent_;
    std::unique_ptr<StatusPanels> panels_;

    std::shared_ptr<store::Database> CurrentDatabase;
    std::unique_ptr<store::Recordset> CategoryRecordset;
    std::unique_ptr<store::Recordset> ListRecordset;
    QString ListSQL;
    bool RecordChanged = false;
    bool unloaded_ = false;
};

// "Zumilo  " followed by the database path.
QString mainCaption(const QString& databasePath);

} // namespace zumilo::shell

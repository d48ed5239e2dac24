#pragma once

#include <QString>
#include <array>

class QAction;

namespace zumilo::shell {
class SettingsStore;
}

namespace zumilo::app {

using shell::SettingsStore;

// The five most recently opened databases: settings section "Recent Files"
// (RecentFile1 newest) shown as File menu entries. The entries hold the
// paths exactly; an entry once shown stays shown for the run.
class RecentFiles {
public:
    RecentFiles(SettingsStore& settings, QAction* separator, std::array<QAction*, 5> items);

    // Position 1..5 of the entry showing `path` (exact comparison), or 0.
    int find(const QString& path) const;
    // Moves the entries above `position` (all when 0) down one place and
    // stores `path` as RecentFile1.
    void shift(const QString& path, int position);
    // Fills the menu entries from the settings.
    void load();
    // Puts `path` at the top of the list and refreshes the menu.
    void add(const QString& path);

    // The path an entry (1..5) shows; empty when unused.
    QString path(int index) const;

private:
    SettingsStore& settings_;
    QAction* separator_;
    std::array<QAction*, 5> items_;
};

} // namespace zumilo::app

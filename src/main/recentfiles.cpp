#include "recentfiles.h"

#include "shell/appstate.h"
#include "shell/settingsstore.h"

#include <QAction>

namespace zumilo::app {

using namespace zumilo::shell;

namespace {
QString keyOf(int i)
{
    return QStringLiteral("RecentFile") + QString::number(i);
}
} // namespace

RecentFiles::RecentFiles(SettingsStore& settings, QAction* separator, std::array<QAction*, 5> items)
    : settings_(settings), separator_(separator), items_(items)
{
}

int RecentFiles::find(const QString& path) const
{
    for (int i = 1; i <= 5; ++i) {
        if (this->path(i) == path)
            return i;
    }
    return 0;
}

void RecentFiles::shift(const QString& path, int position)
{
    const int n = position != 0 ? position - 1 : 4;
    for (int i = n; i >= 1; --i) {
        const QString value = settings_.read(Settings::RecentFiles, keyOf(i));
        if (!value.isEmpty())
            settings_.write(Settings::RecentFiles, keyOf(i + 1), value);
    }
    settings_.write(Settings::RecentFiles, keyOf(1), path);
}

void RecentFiles::load()
{
    if (settings_.read(Settings::RecentFiles, keyOf(1)).isEmpty())
        return;
    const auto pairs = settings_.readSection(Settings::RecentFiles);
    int count = 0;
    for (const auto& pair : pairs) {
        if (count >= 5)
            break;
        separator_->setVisible(true);
        QAction* item = items_[count];
        item->setData(pair.second);
        // A path may hold "&", which a menu would take for an access key.
        QString caption = pair.second;
        item->setText(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setVisible(true);
        ++count;
    }
}

void RecentFiles::add(const QString& path)
{
    shift(path, find(path));
    load();
}

QString RecentFiles::path(int index) const
{
    if (index < 1 || index > 5)
        return {};
    return items_[index - 1]->data().toString();
}

} // namespace zumilo::app

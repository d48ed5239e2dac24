#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <memory>

class QSettings;

namespace zumilo::shell {

// Per-user text settings by section and key (INI file, per user, named
// after the executable). Nothing is ever deleted.
class SettingsStore {
public:
    // The user's store for application `appName` (the executable's base
    // name): $XDG_CONFIG_HOME/<appName>/<appName>.ini on Linux.
    explicit SettingsStore(const QString& appName);
    // A store kept in one given file (tests, portable use).
    static std::unique_ptr<SettingsStore> atFile(const QString& iniPath);
    ~SettingsStore();

    QString read(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    void write(const QString& section, const QString& key, const QString& value);
    // All pairs of a section in creation order.
    QList<QPair<QString, QString>> readSection(const QString& section) const;

    // Numbers are kept as the decimal text of a single-precision value.
    // readNumber returns `defaultValue` when the text is not a number.
    double readNumber(const QString& section, const QString& key, double defaultValue) const;
    void writeNumber(const QString& section, const QString& key, double value);

    QString fileName() const;
    // Writes pending changes to disk now; false when the file could not be
    // written.
    bool sync();

private:
    SettingsStore() = default;
    std::unique_ptr<QSettings> settings_;
};

} // namespace zumilo::shell

#include "shell/settingsstore.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zumilo::shell {

namespace {

// Compares digit runs by value, so "RecentFile10" follows "RecentFile9".
bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Without leading zeros the longer run is the larger number.
            QStringView da = QStringView(a).mid(i, ei - i);
            QStringView db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == u'0')
                da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0')
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size();
            if (const int c = da.compare(db); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

QString valueText(const QVariant& v)
{
    // A hand-edited "a, b" comes back from QSettings as a list.
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

QString groupKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore(const QString& appName)
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, appName, appName))
{
}

std::unique_ptr<SettingsStore> SettingsStore::atFile(const QString& iniPath)
{
    std::unique_ptr<SettingsStore> store(new SettingsStore);
    store->settings_ = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    return store;
}

SettingsStore::~SettingsStore()
{
    if (settings_)
        settings_->sync();
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QString k = groupKey(section, key);
    if (!settings_->contains(k))
        return defaultValue;
    return valueText(settings_->value(k));
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    settings_->setValue(groupKey(section, key), value);
}

QList<QPair<QString, QString>> SettingsStore::readSection(const QString& section) const
{
    // QSettings forgets the order keys were written in and hands them back
    // sorted. Keys of one section are numbered in the order they are made
    // ("RecentFile1".."RecentFile5"), so numeric-aware order of the names
    // is their creation order.
    settings_->beginGroup(section);
    QStringList keys = settings_->allKeys();
    std::sort(keys.begin(), keys.end(), naturalLess);
    QList<QPair<QString, QString>> pairs;
    pairs.reserve(keys.size());
    for (const QString& key : std::as_const(keys))
        pairs.append({key, valueText(settings_->value(key))});
    settings_->endGroup();
    return pairs;
}

double SettingsStore::readNumber(const QString& section, const QString& key, double defaultValue) const
{
    const QString k = groupKey(section, key);
    if (!settings_->contains(k))
        return defaultValue;
    bool ok = false;
    const float f = valueText(settings_->value(k)).trimmed().toFloat(&ok);
    return ok ? double(f) : defaultValue;
}

void SettingsStore::writeNumber(const QString& section, const QString& key, double value)
{
    const float f = float(value);
    // Shortest text that reads back as the same float: "600", "10.5",
    // never "600.0" or "6e+02" for the window sizes kept here.
    char buf[64];
    const auto fmt = std::isfinite(f) && std::fabs(f) < 1e15f ? std::chars_format::fixed : std::chars_format::general;
    const auto res = std::to_chars(buf, buf + sizeof buf, f, fmt);
    write(section, key, QString::fromLatin1(buf, res.ptr - buf));
}

QString SettingsStore::fileName() const
{
    return settings_->fileName();
}

bool SettingsStore::sync()
{
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace zumilo::shell

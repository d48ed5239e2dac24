#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace zumilo::shell {

class SettingsStore;

// A control's place in twips.
struct TwipsGeometry {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

// One stored layout value: the control's name, the property ("Left", "Top",
// "Width", "Height") and its default. The settings key is
// "<control>_<property>", e.g. "Text1(0)_Left".
struct LayoutKey {
    const char* control;
    const char* property;
    double defaultValue;
};

// The controls of a window placed by their twips geometry, which is the
// one truth the resize and splitter rules work on; apply() turns it into
// pixels. Stored positions are read and written by key tables.
class TwipsLayout {
public:
    void add(const QString& name, QWidget* widget, const TwipsGeometry& design);
    bool contains(const QString& name) const { return entries_.contains(name); }
    TwipsGeometry& operator[](const QString& name);
    const TwipsGeometry& operator[](const QString& name) const;
    QWidget* widget(const QString& name) const;

    // The right edge of the shown controls among `names`; 0 for none.
    double rightEdge(const QStringList& names) const;
    // Where a border at `from` that carries the controls `names` with it
    // may go on its way to `to`, so that they stay within `width`.
    double clampMove(double from, double to, const QStringList& names, double width) const;

    // Places every control (or one) at its geometry.
    void apply() const;
    void apply(const QString& name) const;

    // Reads each key; a missing key, or one that is not a number, takes the
    // key's default. Applies the result.
    void restore(const SettingsStore& settings, const QString& section, const QList<LayoutKey>& keys);
    // Writes each key from the current geometry, in the table's order.
    void save(SettingsStore& settings, const QString& section, const QList<LayoutKey>& keys) const;

private:
    struct Entry {
        QWidget* widget = nullptr;
        TwipsGeometry geometry;
    };
    double* property(const QString& name, const QString& property);
    QHash<QString, Entry> entries_;
    QList<QString> order_;
};

} // namespace zumilo::shell

#include "twipslayout.h"

#include "settingsstore.h"
#include "twips.h"

#include <QWidget>

namespace zumilo::shell {

void TwipsLayout::add(const QString& name, QWidget* widget, const TwipsGeometry& design)
{
    if (!entries_.contains(name))
        order_.append(name);
    entries_.insert(name, {widget, design});
}

TwipsGeometry& TwipsLayout::operator[](const QString& name)
{
    return entries_[name].geometry;
}

const TwipsGeometry& TwipsLayout::operator[](const QString& name) const
{
    static const TwipsGeometry none;
    const auto it = entries_.constFind(name);
    return it == entries_.cend() ? none : it->geometry;
}

QWidget* TwipsLayout::widget(const QString& name) const
{
    return entries_.value(name).widget;
}

double TwipsLayout::rightEdge(const QStringList& names) const
{
    double right = 0;
    for (const QString& name : names) {
        const auto it = entries_.constFind(name);
        if (it != entries_.cend() && it->widget && !it->widget->isHidden())
            right = std::max(right, it->geometry.left + it->geometry.width);
    }
    return right;
}

double TwipsLayout::clampMove(double from, double to, const QStringList& names, double width) const
{
    if (to <= from)
        return to;
    return std::max(from, std::min(to, from + width - rightEdge(names)));
}

void TwipsLayout::apply(const QString& name) const
{
    const auto it = entries_.constFind(name);
    if (it == entries_.cend() || !it->widget)
        return;
    const TwipsGeometry& g = it->geometry;
    // Edges are rounded, not sizes, so that a control that ends at the
    // window's edge in twips ends there in pixels. Negative sizes from a
    // tiny window become empty, never invalid.
    const int left = twipsToPixels(g.left);
    const int top = twipsToPixels(g.top);
    it->widget->setGeometry(left, top, std::max(0, twipsToPixels(g.left + g.width) - left),
                            std::max(0, twipsToPixels(g.top + g.height) - top));
}

void TwipsLayout::apply() const
{
    for (const QString& name : order_)
        apply(name);
}

double* TwipsLayout::property(const QString& name, const QString& property)
{
    auto it = entries_.find(name);
    if (it == entries_.end())
        return nullptr;
    TwipsGeometry& g = it->geometry;
    if (property == QLatin1String("Left"))
        return &g.left;
    if (property == QLatin1String("Top"))
        return &g.top;
    if (property == QLatin1String("Width"))
        return &g.width;
    if (property == QLatin1String("Height"))
        return &g.height;
    return nullptr;
}

static QString keyName(const LayoutKey& k)
{
    return QString::fromUtf8(k.control) + QLatin1Char('_') + QString::fromUtf8(k.property);
}

void TwipsLayout::restore(const SettingsStore& settings, const QString& section, const QList<LayoutKey>& keys)
{
    for (const LayoutKey& k : keys) {
        double* value = property(QString::fromUtf8(k.control), QString::fromUtf8(k.property));
        if (!value)
            continue;
        *value = settings.readNumber(section, keyName(k), k.defaultValue);
    }
    apply();
}

void TwipsLayout::save(SettingsStore& settings, const QString& section, const QList<LayoutKey>& keys) const
{
    for (const LayoutKey& k : keys) {
        const TwipsGeometry& g = (*this)[QString::fromUtf8(k.control)];
        const QString p = QString::fromUtf8(k.property);
        const double v = p == QLatin1String("Left")    ? g.left
                         : p == QLatin1String("Top")   ? g.top
                         : p == QLatin1String("Width") ? g.width
                                                       : g.height;
        settings.writeNumber(section, keyName(k), v);
    }
}

} // namespace zumilo::shell

#include "windowplacement.h"

#include "settingsstore.h"
#include "twips.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSizeF>
#include <QStatusBar>
#include <QToolBar>
#include <QWidget>

namespace zumilo::shell {

namespace {

QRect keepOnScreen(QRect r)
{
    for (const QScreen* s : QGuiApplication::screens()) {
        if (s->availableGeometry().intersects(r))
            return r;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return r;
    const QRect avail = primary->availableGeometry();
    r.setSize(r.size().boundedTo(avail.size()));
    r.moveTopLeft(avail.topLeft());
    return r;
}

} // namespace

void setWindowTwips(QWidget* window, const TwipsGeometry& t)
{
    QRect r(twipsToPixels(t.left), twipsToPixels(t.top), std::max(1, twipsToPixels(t.width)),
            std::max(1, twipsToPixels(t.height)));
    r = keepOnScreen(r);
    window->move(r.topLeft());
    window->resize(r.size());
}

TwipsGeometry windowTwips(const QWidget* window)
{
    const bool normal = !(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    const QRect g = normal ? QRect(window->pos(), window->size()) : window->normalGeometry();
    return {pixelsToTwips(g.left()), pixelsToTwips(g.top()), pixelsToTwips(g.width()), pixelsToTwips(g.height())};
}

void restoreWindowPlacement(QWidget* window, const SettingsStore& settings, const QString& section,
                            const TwipsGeometry& d)
{
    setWindowTwips(window, {settings.readNumber(section, QStringLiteral("Left"), d.left),
                            settings.readNumber(section, QStringLiteral("Top"), d.top),
                            settings.readNumber(section, QStringLiteral("Width"), d.width),
                            settings.readNumber(section, QStringLiteral("Height"), d.height)});
}

void saveWindowPlacement(const QWidget* window, SettingsStore& settings, const QString& section)
{
    const TwipsGeometry t = windowTwips(window);
    settings.writeNumber(section, QStringLiteral("Top"), t.top);
    settings.writeNumber(section, QStringLiteral("Left"), t.left);
    settings.writeNumber(section, QStringLiteral("Width"), t.width);
    settings.writeNumber(section, QStringLiteral("Height"), t.height);
}

} // namespace zumilo::shell

namespace zumilo::shell {

void fitMinimumSize(QMainWindow* window, double contentRight, double contentBottom, const QSizeF& least)
{
    int around = window->menuBar()->sizeHint().height();
    if (window->statusBar()->isVisibleTo(window))
        around += window->statusBar()->sizeHint().height();
    for (QToolBar* bar : window->findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) {
        if (bar->isVisibleTo(window) && window->toolBarArea(bar) != Qt::NoToolBarArea)
            around += bar->sizeHint().height();
    }
    const int width = std::max({twipsToPixels(contentRight) + 6, window->statusBar()->minimumSizeHint().width(),
                                twipsToPixels(least.width())});
    const int height = std::max(twipsToPixels(contentBottom) + around, twipsToPixels(least.height()));
    window->setMinimumSize(width, height);
}

} // namespace zumilo::shell

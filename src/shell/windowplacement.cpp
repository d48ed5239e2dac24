#include "windowplacement.h"

#include "settingsstore.h"
#include "twips.h"

#include <algorithm>

#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QRegion>
#include <QScreen>
#include <QSizeF>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QWidget>

namespace zumilo::shell {

namespace {

// What the window manager's frame adds to a window: known once it is shown,
// else taken as a title bar and thin borders.
QSize frameExtra(const QWidget* window)
{
    if (window->isVisible()) {
        const QSize extra = window->frameGeometry().size() - window->size();
        if (!extra.isNull())
            return extra;
    }
    const int border = window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, window);
    return {2 * border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window) + 2 * border};
}

// The screen that shows most of `r`; nullptr when none shows any of it.
const QScreen* screenShowing(const QRect& r)
{
    const QScreen* best = nullptr;
    qint64 bestArea = 0;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect common = s->availableGeometry().intersected(r);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = s;
            bestArea = area;
        }
    }
    return best;
}

// The largest size of the window whose frame fits the screen's free area.
QSize room(const QWidget* window, const QScreen* screen)
{
    return (screen->availableGeometry().size() - frameExtra(window)).expandedTo({1, 1});
}

// `r` (a window's frame at its top left, its size inside the frame) moved
// as little as needs be for the frame to lie within `avail`.
QRect within(QRect r, const QRect& avail, const QWidget* window)
{
    const QSize outer = r.size() + frameExtra(window);
    r.moveLeft(std::clamp(r.left(), avail.left(), std::max(avail.left(), avail.right() + 1 - outer.width())));
    r.moveTop(std::clamp(r.top(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - outer.height())));
    return r;
}

// Whether the free areas of the screens of `screen`'s desktop together
// show the whole frame of `r`.
bool desktopShows(const QRect& r, const QScreen* screen, const QWidget* window)
{
    QRegion free;
    for (const QScreen* s : screen->virtualSiblings())
        free += s->availableGeometry();
    return QRegion(QRect(r.topLeft(), r.size() + frameExtra(window))).subtracted(free).isEmpty();
}

// A place no screen shows moves onto the primary screen. A window larger
// than the screen's free area (a small screen, a large display scale)
// shrinks to it, its least size too, and moves wholly onto that screen,
// unless it lies across screens side by side that show it whole.
QRect keepOnScreen(QRect r, QWidget* window)
{
    const QScreen* screen = screenShowing(r);
    const bool lost = !screen;
    if (lost)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return r;
    const QRect avail = screen->availableGeometry();
    const QSize most = room(window, screen);
    const QSize wanted = r.size().expandedTo(window->minimumSize());
    if (!lost && wanted != wanted.boundedTo(most) && desktopShows(QRect(r.topLeft(), wanted), screen, window)) {
        r.setSize(wanted);
        return r;
    }
    window->setMinimumSize(window->minimumSize().boundedTo(most));
    const QSize size = r.size().expandedTo(window->minimumSize()).boundedTo(most);
    if (lost) {
        r.moveTopLeft(avail.topLeft());
    } else if (size != r.size()) {
        r = within(QRect(r.topLeft(), size), avail, window);
    }
    r.setSize(size);
    return r;
}

} // namespace

void setWindowTwips(QWidget* window, const TwipsGeometry& t)
{
    QRect r(twipsToPixels(t.left), twipsToPixels(t.top), std::max(1, twipsToPixels(t.width)),
            std::max(1, twipsToPixels(t.height)));
    r = keepOnScreen(r, window);
    window->move(r.topLeft());
    window->resize(r.size());
}

void moveOntoScreen(QWidget* window, QPoint topLeft)
{
    const QRect r(topLeft, window->size());
    const QScreen* screen = screenShowing(r);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    window->move(screen ? within(r, screen->availableGeometry(), window).topLeft() : topLeft);
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
    // A screen too small for them all shows what it can.
    window->setMinimumSize(QSize(width, height).boundedTo(room(window, window->screen())));
}

} // namespace zumilo::shell

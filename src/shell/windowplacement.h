#pragma once

#include "twipslayout.h"

#include <QPoint>
#include <QSizeF>
#include <QString>

class QMainWindow;
class QWidget;

namespace zumilo::shell {

class SettingsStore;

// A window's place and size in twips is stored under "Top", "Left",
// "Width" and "Height" of a settings section.

// Reads the four keys (each falling back to its default when missing or not
// a number) and places the window. A place that no screen shows any more
// is moved back onto the primary screen; a window larger than its screen's
// free area (a small screen at a large display scale) shrinks to fit it.
void restoreWindowPlacement(QWidget* window, const SettingsStore& settings, const QString& section,
                            const TwipsGeometry& defaults);
// Writes the four keys in the order Top, Left, Width, Height. A maximised
// or minimised window stores its normal place, so it comes back usable.
void saveWindowPlacement(const QWidget* window, SettingsStore& settings, const QString& section);

// The window's current place in twips (its normal place when maximised).
TwipsGeometry windowTwips(const QWidget* window);
// Places a window at a rectangle given in twips, kept on a screen as above.
void setWindowTwips(QWidget* window, const TwipsGeometry& rect);
// Moves a window's frame to `topLeft`, or as near as keeps it whole on the
// screen (a window the program places, such as a dialog beside its owner).
void moveOntoScreen(QWidget* window, QPoint topLeft);

// The least size at which a window still shows its controls whole: its
// central area reaching `contentRight` and `contentBottom` (twips), with
// the menu bar, tool bars and status bar around it, the status bar's
// panels included. Never below `least` (twips), nor above what the
// window's screen has room for.
void fitMinimumSize(QMainWindow* window, double contentRight, double contentBottom, const QSizeF& least = {});

} // namespace zumilo::shell

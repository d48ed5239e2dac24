#pragma once

#include <QString>

class QWidget;

namespace zumilo::shell {

class SettingsStore;

// A window's place and size in twips, as stored under "Top", "Left",
// "Width" and "Height" of a settings section.
struct TwipsRect {
    double top = 0;
    double left = 0;
    double width = 0;
    double height = 0;
};

// Reads the four keys (each falling back to its default when missing or not
// a number) and places the window. A place that no screen shows any more
// is moved back onto the primary screen.
void restoreWindowPlacement(QWidget* window, const SettingsStore& settings, const QString& section,
                            const TwipsRect& defaults);
// Writes the four keys in the order Top, Left, Width, Height. A maximised
// or minimised window stores its normal place, so it comes back usable.
void saveWindowPlacement(const QWidget* window, SettingsStore& settings, const QString& section);

// The window's current place in twips (its normal place when maximised).
TwipsRect windowTwips(const QWidget* window);
// Places a window at a rectangle given in twips.
void setWindowTwips(QWidget* window, const TwipsRect& rect);

} // namespace zumilo::shell

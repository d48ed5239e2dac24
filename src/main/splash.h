#pragma once

#include <QSplashScreen>

namespace zumilo::app {

// The picture shown while the main window loads (frmFirst).
class Splash : public QSplashScreen {
    Q_OBJECT
public:
    Splash();
    explicit Splash(QScreen* screen);
    // Drawn for a screen of that device pixel ratio.
    static QPixmap picture(qreal ratio = 1.0);
};

} // namespace zumilo::app

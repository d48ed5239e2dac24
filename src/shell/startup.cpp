#include "startup.h"

#include "appstate.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "splash.h"

#include <QApplication>

namespace zumilo::shell {

std::unique_ptr<MainWindow> Main(AppState& state)
{
    Splash splash;
    splash.show();
    QApplication::processEvents();

    auto main = std::make_unique<MainWindow>(state);
    main->Form_Load();
    splash.close();

    state.CurrentTab = state.settings().read(Settings::Position, QStringLiteral("OpenTab"), QStringLiteral("BunTab"));
    const QStringList gridViews{QStringLiteral("FindTab"), QStringLiteral("JyuyoTab"), QStringLiteral("KijituTab"),
                                QStringLiteral("SaikinTab")};
    if (gridViews.contains(state.CurrentTab)) {
        main->ShowGridWindow(); // the main window stays loaded, hidden
    } else {
        // "BunTab", and any value the program does not know.
        state.CurrentTab = QStringLiteral("BunTab");
        main->show();
    }
    return main;
}

} // namespace zumilo::shell

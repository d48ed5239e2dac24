#include "startup.h"

#include "shell/appstate.h"
#include "mainwindow.h"
#include "shell/settingsstore.h"
#include "splash.h"
#include "aboutbox.h"

#include "export/exportcommands.h"
#include "print/printcommands.h"
#include "records/commandwindow.h"
#include "shell/commands.h"
#include "shell/desktop.h"
#include "shell/statuspanels.h"
#include "text/textcommands.h"

#include <QApplication>

namespace zumilo::app {

using namespace zumilo::shell;

const SharedCommands& programCommands()
{
    static const SharedCommands commands = [] {
        SharedCommands c;
        text::addTextCommands(c);
        c.add(QStringLiteral("mnuHelpAbout"), [](QMainWindow& window) {
            if (auto* w = records::commandWindow(window))
                showAboutBox(w->state(), &window);
        });
        c.add(QStringLiteral("mnuHPpelto"), [](QMainWindow& window) {
            if (auto* w = records::commandWindow(window))
                w->state().desktop().open(homePagePath(w->state().AppFolder));
        });
        exporting::addExportCommands(c);
        print::addPrintCommands(c);
        return c;
    }();
    return commands;
}

std::unique_ptr<MainWindow> Main(AppState& state)
{
    if (!state.commands)
        state.commands = &programCommands();
    sayWhenWritesWait();
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
    main->offerDrafts();
    return main;
}

} // namespace zumilo::app

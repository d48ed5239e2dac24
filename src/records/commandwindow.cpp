#include "commandwindow.h"

#include "recordeditor.h"

#include "shell/appstate.h"
#include "shell/settingsstore.h"

#include <QAction>

namespace zumilo::records {

void applyScreenFont(CommandWindow& window, double defaultSize)
{
    const shell::SettingsStore& settings = window.state().settings();
    bool ok = false;
    const double size = settings
                            .read(shell::Settings::Position, QStringLiteral("FontSize"), QString::number(defaultSize))
                            .toDouble(&ok);
    window.editor()->setEditorFont(settings.read(shell::Settings::Position, QStringLiteral("FontName"),
                                                 QStringLiteral("ＭＳ Ｐゴシック")),
                                   ok ? size : defaultSize);
}

void ApplyWordWrapSetting(CommandWindow& window)
{
    shell::AppState& st = window.state();
    st.WrapState = st.settings().read(shell::Settings::Position, QStringLiteral("orikae"),
                                      QStringLiteral("tbrUnpressed"));
    const bool wrapped = st.WrapState != QLatin1String("tbrUnpressed");
    window.editor()->setWrapped(wrapped);
    // The menu's check mark and the tool button's pressed state.
    if (QAction* orikae = window.action(QStringLiteral("mnuOrikae")))
        orikae->setChecked(wrapped);
}

} // namespace zumilo::records

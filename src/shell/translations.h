#pragma once

namespace zumilo::shell {

// Qt's own texts (the text boxes' pop-up menus, the file and font dialogs)
// in Japanese, like everything else the program shows. Returns whether the
// translation was found.
bool installJapaneseTranslations();

} // namespace zumilo::shell

#pragma once

#include <QtGlobal>

#include <optional>

namespace zumilo::shell {

// Asks the main window to show a category of its tree and, given `note`,
// that note in its list: the jump from the grid and the category search.
struct JumpRequest {
    qint64 category = 0; // 0: the root
    std::optional<qint64> note;
};

// The note a single-record window opens on; none: a new note of the main
// window's category.
struct OpenRequest {
    std::optional<qint64> note;
};

// What a single-record window hands back as it closes: the note it showed,
// none when it showed no stored note.
struct ReturnRequest {
    std::optional<qint64> note;
};

} // namespace zumilo::shell

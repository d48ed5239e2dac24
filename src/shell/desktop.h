#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace zumilo::shell {

// The shell's "open" action: a document, folder, web or mail address;
// and starting another program.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Returns whether the desktop accepted the target.
    virtual bool open(const QString& target) = 0;
    // Starts a program by its path, without a shell, detached from ours.
    virtual bool start(const QString& program, const QStringList& arguments = {}) = 0;
    // Opens a document of ours with the desktop's program for its kind.
    // False when the desktop could not even be asked; `failed` runs, maybe
    // later, when it answers that it has no such program or could not
    // start it.
    virtual bool openDocument(const QString& path, const std::function<void()>& failed) = 0;
};

// Opens through QDesktopServices (local paths become file URLs) and starts
// programs through QProcess: nothing a target holds is ever read by a shell.
// Documents go to xdg-open where there is one, which says when it finds
// no program (Qt's own open action only says that it was started).
class QtDesktop : public Desktop {
public:
    bool open(const QString& target) override;
    bool start(const QString& program, const QStringList& arguments) override;
    bool openDocument(const QString& path, const std::function<void()>& failed) override;
};

// Where a dialog saving the user's own files (exports) starts: the folder of
// the open database when it can be written to, else the user's documents.
// The program's own folder is no place for them: an installed program
// cannot write there.
QString userFilesFolder(const QString& databasePath);

} // namespace zumilo::shell

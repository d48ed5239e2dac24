#pragma once

#include <QString>
#include <QStringList>

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
};

// Opens through QDesktopServices (local paths become file URLs) and starts
// programs through QProcess: nothing a target holds is ever read by a shell.
class QtDesktop : public Desktop {
public:
    bool open(const QString& target) override;
    bool start(const QString& program, const QStringList& arguments) override;
};

} // namespace zumilo::shell

#pragma once

#include <QString>
#include <QStringList>

namespace zumilo::shell {

// The shell's "open" action: a document, folder, web or mail address.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Returns whether the desktop accepted the target.
    virtual bool open(const QString& target) = 0;
};

// Opens through QDesktopServices; local paths become file URLs.
class QtDesktop : public Desktop {
public:
    bool open(const QString& target) override;
};

// Remembers targets instead of opening them (tests).
class RecordingDesktop : public Desktop {
public:
    bool open(const QString& target) override
    {
        opened.append(target);
        return true;
    }
    QStringList opened;
};

} // namespace zumilo::shell

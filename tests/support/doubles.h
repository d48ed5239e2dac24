#pragma once

#include "shell/clock.h"
#include "shell/desktop.h"

#include <QStringList>

namespace zumilo::test {

// "Now" as the test sets it.
class FixedClock : public shell::Clock {
public:
    explicit FixedClock(QDateTime at) : at_(std::move(at)) {}
    QDateTime now() const override { return at_; }
    void set(const QDateTime& at) { at_ = at; }

private:
    QDateTime at_;
};

// Remembers what the program asked the desktop to open or start.
class RecordingDesktop : public shell::Desktop {
public:
    bool open(const QString& target) override
    {
        opened.append(target);
        return accept;
    }
    bool start(const QString& program, const QStringList& arguments) override
    {
        started.append((QStringList{program} + arguments).join(QLatin1Char(' ')));
        return accept;
    }
    bool openDocument(const QString& path, const std::function<void()>& failed) override
    {
        opened.append(path);
        if (accept && documentFails)
            failed();
        return accept;
    }
    QStringList opened;
    QStringList started;
    bool accept = true;
    // The desktop answers that it has no program for a document.
    bool documentFails = false;
};

} // namespace zumilo::test

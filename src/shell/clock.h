#pragma once

#include <QDate>
#include <QDateTime>

namespace zumilo::shell {

// "Today" and "now" for stamps and date text; tests fix them.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    QDate today() const { return now().date(); }
    // Update time stamp, "hh:mm:ss".
    QString timeStamp() const { return now().time().toString(QStringLiteral("hh:mm:ss")); }
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace zumilo::shell

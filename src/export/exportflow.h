#pragma once

#include <QString>
#include <memory>

class QMainWindow;

namespace zumilo::shell {
class Progress;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::records {
class CommandWindow;
}

namespace zumilo::store {
class StoreError;
}

namespace zumilo::exporting {

// What every export says when it stops at the user's word.
inline const QString kExportCancelled = QStringLiteral("エクスポートを中止します");

// Exports of more notes than this show a progress box.
inline constexpr qint64 kProgressFromNotes = 3000;

// Panel 1 says what runs, and " " once it is over, however it ends.
class StatusText {
public:
    StatusText(shell::StatusPanels& panels, const QString& text);
    ~StatusText();
    StatusText(const StatusText&) = delete;
    StatusText& operator=(const StatusText&) = delete;

private:
    shell::StatusPanels& panels_;
};

// The hourglass, for as long as the object lives.
class BusyPointer {
public:
    BusyPointer();
    ~BusyPointer();
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// A progress box for an export of `notes` notes when there are many;
// nullptr when there are few.
std::unique_ptr<shell::Progress> exportProgress(QMainWindow& window, records::CommandWindow& w, qint64 notes);

// Why an export into `folder` failed, in the user's words.
QString failureReason(const store::StoreError& e, const QString& folder);

// Tells the user why the export did not happen.
void reportExportFailure(QMainWindow& window, records::CommandWindow& w, const QString& reason);

} // namespace zumilo::exporting

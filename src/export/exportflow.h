#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>

class QMainWindow;

namespace zumilo::shell {
struct AppState;
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

// The file the user chose to write.
struct ExportTarget {
    QString path;
    QString folder;
    QString fileName;
    bool replaces = false; // a file is there and the user said to replace it
};

// Asks where to write a file of `extension` ("csv"), starting where the
// user's own files go; a name without ".extension" anywhere gets it added,
// and a file already there is replaced only when the user says so.
// nullopt when the user cancels.
std::optional<ExportTarget> chooseExportTarget(QMainWindow& window, shell::AppState& st, const QString& extension);

// A name beside the file to replace, taken by no file, to write into first.
QString sideName(const QString& folder);

// Puts `from` in the place of `to` in one step, so that the old file is
// there until the new one is whole; a read-only file is replaced as well.
bool replaceFile(const QString& from, const QString& to);

// Why writing the file `path` failed, in the user's words: which file (or
// folder), and the cause.
QString failureReason(const store::StoreError& e, const QString& path);

// The notes the window shows, or nullopt after telling the user they
// could not be read.
std::optional<QList<qint64>> readShownNotes(QMainWindow& window, records::CommandWindow& w);

// Tells the user why the export did not happen.
void reportExportFailure(QMainWindow& window, records::CommandWindow& w, const QString& reason);

// Tells the user the file `fileName` is written.
void reportExportDone(QMainWindow& window, records::CommandWindow& w, const QString& fileName);

} // namespace zumilo::exporting

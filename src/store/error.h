#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace zumilo::store {

// What went wrong, coarse enough for the windows to pick a message.
enum class ErrorKind {
    FileNotFound, // the file does not exist
    NotADatabase, // empty file, random bytes, a text file...
    CannotOpen,   // permissions, a folder, an unusable path
    FileExists,   // creating over an existing file
    Busy,         // another program holds a lock for too long
    ReadOnly,     // the file or folder cannot be written
    DiskFull,
    NoCurrentRecord, // field access or edit without a current row
    RowDeleted,      // the row was deleted meanwhile (another window)
    TypeMismatch,    // a value that does not convert to the column's type
    InvalidDate,     // text that cannot be read as a date
    TooLong,         // text longer than the column's text(n)
    NotUpdatable,    // snapshot, aggregate or joined recordsets
    UnknownField,
    Constraint,     // duplicate key and the like
    Syntax,         // a statement the engine cannot parse
    Io,             // other file-system failures (export targets)
    Damaged,        // a database whose pages no longer fit together
    FileDeleted,    // deleted or moved away while open
    FileReplaced,   // another file put in its place while open
    MissingColumn,  // a table of the file lacks a column the program reads
    ColumnType,     // a column declared with a type the program cannot use
    ColumnValue,    // a number column holding text or fractions
    InUse,          // a file the program still has open
    UnusableBackup, // a backup that is damaged, empty or no notes file
    Cancelled,      // stopped by the user (a long export)
    Other,
};

// Every failure of the store is a StoreError. message() is Japanese and
// fit to be shown; detail() carries the engine's own words for diagnosis.
// field() names the field or column at fault (MissingColumn and the like
// name "table.column"); for the kinds about a whole file (Damaged,
// FileDeleted, FileReplaced, InUse) it holds the file's path, whose name
// message() then mentions.
class StoreError : public std::exception {
public:
    StoreError(ErrorKind kind, QString detail, QString field = {});

    ErrorKind kind() const noexcept { return kind_; }
    const QString& detail() const noexcept { return detail_; }
    const QString& field() const noexcept { return field_; }
    QString message() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    ErrorKind kind_;
    QString detail_;
    QString field_;
    std::string what_;
};

// The Japanese sentence for a kind of failure (used by message()).
// `subject` is the file or column the sentence names, for the kinds about
// a whole file or a column of the file.
QString japaneseMessage(ErrorKind kind, const QString& subject = {});

// What a window says of a failure on the file at `path`: the cause, after
// the file's name unless the cause names it already.
QString failureCause(const StoreError& e, const QString& path);

// The outcome of a step run by tryStep: the store's failure, if any. Every
// caller acts on it, or says with ignoreFailure why passing over it is
// sound at that place.
class [[nodiscard]] StepResult {
public:
    StepResult() = default;
    explicit StepResult(StoreError e) : error_(std::move(e)) {}

    explicit operator bool() const noexcept { return ok(); }
    [[nodiscard]] bool ok() const noexcept { return !error_; }
    [[nodiscard]] bool failed() const noexcept { return error_.has_value(); }
    [[nodiscard]] const std::optional<StoreError>& error() const noexcept { return error_; }

    // Sound only where nothing the user sees depends on the step (closing a
    // connection that is given up anyway, a recordset about to go). `why`
    // says so at the call.
    void ignoreFailure(const char* why) const noexcept { static_cast<void>(why); }

private:
    std::optional<StoreError> error_;
};

// Runs one step whose store failure must not end the handler that runs it
// ("errors ignored statement by statement"). Only the store's own errors
// are caught: a programming error or running out of memory is not something
// to go on after.
template <class F>
[[nodiscard]] StepResult tryStep(F&& step)
{
    try {
        std::forward<F>(step)();
        return {};
    } catch (const StoreError& e) {
        return StepResult(e);
    }
}

} // namespace zumilo::store

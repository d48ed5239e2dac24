#include "drafts.h"

#include "recordeditor.h"
#include "recordwindow.h"

#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/draftjournal.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "store/error.h"
#include "store/notes.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QScopeGuard>
#include <QWidget>

#include <map>
#include <tuple>
#include <optional>

namespace zumilo::records {

DraftKeeper::DraftKeeper(RecordEditor& editor, shell::AppState& state, QWidget* window, const QString& kind,
                         std::function<DraftNote()> note)
    : editor_(editor), state_(state), note_(std::move(note))
{
    if (!state_.drafts())
        return;
    slot_ = kind == QLatin1String("single") ? state_.drafts()->newSlot(kind) : kind;
    pause_.setSingleShot(true);
    pause_.setInterval(kDraftPauseMs);
    connect(&pause_, &QTimer::timeout, this, &DraftKeeper::writeNow);
    connect(&editor_, &RecordEditor::changed, this, [this] {
        pending_ = true;
        pause_.start();
    });
    connect(&editor_, &RecordEditor::cleared, this, &DraftKeeper::onCleared);
    if (window)
        window->installEventFilter(this);
}

bool DraftKeeper::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate && pending_)
        writeNow();
    return false;
}

void DraftKeeper::writeNow()
{
    pause_.stop();
    shell::DraftJournal* journal = state_.drafts();
    if (!journal || !editor_.RecordChanged())
        return;
    const DraftNote note = note_ ? note_() : DraftNote{};
    const EditedNote edited = editor_.snapshot();
    shell::Draft draft;
    draft.slot = slot_;
    draft.databasePath = note.databasePath;
    draft.noteId = note.id;
    if (note.id != 0) {
        draft.stampDate = edited.stamps.updatedDate;
        draft.stampTime = edited.stamps.updatedTime;
    }
    draft.savedAt = state_.clock().now();
    for (int i : {0, 1, 3, 4, 5, 6, 7})
        draft.texts[size_t(i)] = edited.fields.text(i);
    draft.checks = {edited.fields.important, edited.fields.done};
    journal->write(draft);
    pending_ = false;
    written_ = true;
}

void DraftKeeper::onCleared()
{
    pause_.stop();
    pending_ = false;
    if (written_ && state_.drafts())
        state_.drafts()->remove(slot_);
    written_ = false;
}

// --- restoring ----------------------------------------------------------------------

namespace {

const QString kTitle = QStringLiteral("保存されていない編集");

// Where a draft goes back to, and what the user is told about it.
struct Plan {
    shell::Draft draft;
    QString databasePath;                 // the file the window opens
    std::optional<store::NoteState> note; // the note to edit; none: a new note
    QString notice;
};

QString preview(const QString& text, int length)
{
    QString line = text.simplified();
    return line.size() > length ? line.left(length) + QStringLiteral("…") : line;
}

QString describe(const Plan& plan)
{
    const shell::Draft& d = plan.draft;
    QStringList lines;
    lines << QStringLiteral("ファイル: ") + QFileInfo(d.databasePath).fileName() + QStringLiteral("（") + d.databasePath
                 + QStringLiteral("）");
    lines << (d.noteId != 0 ? QStringLiteral("番号: %1").arg(d.noteId) : QStringLiteral("番号: （新しいデータ）"))
                 + QStringLiteral("　タイトル: ") + preview(d.texts[0], 40);
    lines << QStringLiteral("時刻: ") + d.savedAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    lines << QStringLiteral("内容: ") + preview(d.texts[1], 80);
    if (!plan.notice.isEmpty())
        lines << plan.notice;
    return lines.join(QLatin1Char('\n'));
}

// Decides where each draft goes: the note it was made on, unless that note
// changed or went meanwhile, or its file cannot be opened.
QList<Plan> plan(shell::AppState& state, const QList<shell::Draft>& drafts)
{
    std::map<QString, std::shared_ptr<store::Database>> files;
    std::map<QString, QString> failures;
    QList<Plan> plans;
    for (const shell::Draft& d : drafts) {
        Plan p{d, d.databasePath, std::nullopt, {}};
        if (!files.count(d.databasePath) && !failures.count(d.databasePath)) {
            try {
                files[d.databasePath] = store::Database::open(d.databasePath);
            } catch (const store::StoreError& e) {
                failures[d.databasePath] = e.message();
            }
        }
        if (failures.count(d.databasePath)) {
            p.databasePath = state.DatabasePath;
            p.notice = QStringLiteral(
                           "このファイルを開けません（%1）。今開いているデータベースに新しいデータとして戻します。")
                           .arg(failures[d.databasePath]);
        } else if (d.noteId != 0) {
            std::optional<store::NoteState> now;
            const store::StepResult read = store::tryStep(
                [&] { now = store::noteState(*files[d.databasePath], d.noteId); });
            if (!read)
                p.notice = QStringLiteral("このデータを読み込めませんでした（%1）。新しいデータとして戻します。")
                               .arg(store::failureCause(*read.error(), d.databasePath));
            else if (!now)
                p.notice = QStringLiteral("このデータは、その後削除されています。新しいデータとして戻します。");
            else if (now->updatedDate != d.stampDate || now->updatedTime != d.stampTime || now->bunID.isEmpty())
                p.notice = QStringLiteral("このデータは、その後変更されています。新しいデータとして戻します。");
            else
                p.note = now;
        }
        plans << p;
    }
    return plans;
}

RecordWindow* reopen(shell::AppState& state, const Plan& p)
{
    // The window reads where and what to open from the shared values; they
    // are the main window's again once it is open.
    const auto restore = qScopeGuard(
        [&state, saved = std::make_tuple(state.DatabasePath, state.CurrentBunID, state.CurrentBunName)] {
            std::tie(state.DatabasePath, state.CurrentBunID, state.CurrentBunName) = saved;
        });
    const shell::Draft& d = p.draft;
    state.DatabasePath = p.databasePath;
    shell::OpenRequest request;
    if (p.note) {
        state.CurrentBunID = p.note->bunID;
        state.CurrentBunName = p.note->categoryName;
        request.note = d.noteId;
    } else {
        bool number = false;
        const qint64 bunID = d.texts[7].toLongLong(&number);
        state.CurrentBunID = QString::number(number ? bunID : 0); // goes into the window's statement
        state.CurrentBunName = number ? d.texts[3] : QString();
    }
    RecordWindow* window = RecordWindow::open(state, request);
    NoteFields fields;
    for (int i : {0, 1, 3, 4, 5, 6, 7})
        fields.text(i) = d.texts[size_t(i)];
    fields.important = d.checks[0];
    fields.done = d.checks[1];
    window->showRestoredDraft(fields);
    if (window->draftKeeper())
        window->draftKeeper()->writeNow();
    return window;
}

} // namespace

QList<RecordWindow*> restoreDrafts(shell::AppState& state, QWidget* parent)
{
    shell::DraftJournal* journal = state.drafts();
    if (!journal)
        return {};
    const shell::DraftJournal::LeftBehind left = journal->leftBehind();
    const auto release = qScopeGuard([journal] { journal->release(); });
    if (!left.damaged.isEmpty()) {
        state.prompts().message(
            parent,
            QStringLiteral("保存されていない編集の控えのうち、次のファイルは壊れているため読み込めませんでした。\n\n")
                + left.damaged.join(QLatin1Char('\n')) + QStringLiteral("\n\nこの控えは使わずに続けます。"),
            shell::Msg::Exclamation, kTitle);
    }
    if (left.drafts.isEmpty())
        return {};
    const QList<Plan> plans = plan(state, left.drafts);
    QStringList items;
    for (const Plan& p : plans)
        items << describe(p);
    const auto answers = state.prompts().chooseEach(
        parent,
        QStringLiteral("前回は Zumilo が正しく終了しませんでした。保存されていない編集が %1 件残っています。\n"
                       "それぞれ、編集画面に戻すか破棄するかを選んでください。"
                       "戻した内容はまだ保存されていません。保存すると登録されます。")
            .arg(plans.size()),
        items, QStringLiteral("編集画面に戻す（未保存）"), QStringLiteral("破棄する"), kTitle);
    if (!answers)
        return {}; // asked again at the next start
    QList<RecordWindow*> windows;
    for (qsizetype i = 0; i < plans.size(); ++i) {
        if (answers->value(i))
            windows << reopen(state, plans[i]);
        journal->drop(plans[i].draft);
    }
    return windows;
}

} // namespace zumilo::records

#include "notesave.h"

#include "shell/clock.h"
#include "shell/prompts.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "store/notes.h"
#include "store/recordset.h"

namespace zumilo::records {

using shell::Msg::DefaultButton2;
using shell::Msg::Exclamation;
using shell::Msg::Yes;
using shell::Msg::YesNo;

namespace {

const QString kSaveTitle = QStringLiteral("保存確認");

std::unique_ptr<store::Recordset> noteRow(store::Database& db, qint64 id)
{
    return db.openView(store::oneNote(id), store::RecordsetType::Dynaset);
}

} // namespace

SaveOutcome saveNote(store::Database& db, const EditedNote& note, const shell::Clock& clock, SaveMode mode, qint64 id)
{
    const QString today = clock.today().toString(QStringLiteral("yyyy/MM/dd"));
    const QString now = clock.timeStamp();
    SaveOutcome outcome;
    try {
        db.transaction([&] {
            std::unique_ptr<store::Recordset> row;
            if (mode == SaveMode::Update) {
                row = noteRow(db, id);
                if (!row->hasCurrent())
                    throw store::StoreError(store::ErrorKind::RowDeleted, QStringLiteral("id %1").arg(id));
                row->edit();
                outcome.failures = writeFields(*row, note, today, now);
            } else {
                id = std::max(id, store::nextNoteNumber(db));
                row = noteRow(db, id);
                row->addNew();
                outcome.failures = writeFields(*row, note, today, now, mode == SaveMode::Copy);
                row->setValue(QStringLiteral("ID"), id);
            }
            // The copy of the category's name follows the category, renamed
            // or not since the note was loaded.
            const QVariant bunID = row->value(QStringLiteral("bunid"));
            if (!bunID.isNull()) {
                if (const auto name = store::categoryName(db, bunID.toLongLong()))
                    row->setText(QStringLiteral("bunrui"), *name);
            }
            row->update();
        });
        outcome.stored = true;
    } catch (const store::StoreError& e) {
        outcome = SaveOutcome{};
        outcome.error = store::failureCause(e, db.path());
        outcome.errorKind = e.kind();
    }
    outcome.id = id;
    outcome.newRow = mode != SaveMode::Update;
    return outcome;
}

bool reportSave(shell::Prompts& prompts, QWidget* parent, shell::StatusPanels& panels, const SaveOutcome& outcome,
                bool offerCopy)
{
    if (!outcome.stored) {
        QString text = notSavedMessage(outcome.error);
        if (offerCopy && outcome.noteGone())
            text += QStringLiteral("「コピーして保存」で新しいデータとして保存できます。");
        prompts.message(parent, text, Exclamation, QStringLiteral("保存エラー"));
        return false;
    }
    if (outcome.complete()) {
        panels.setText(1, QStringLiteral("登録完了"));
        return true;
    }
    panels.setText(1, QStringLiteral("一部の項目は保存されていません"));
    prompts.message(parent, refusedFieldsMessage(outcome.failures, outcome.newRow), Exclamation, kSaveTitle);
    return false;
}

bool askToSave(shell::Prompts& prompts, QWidget* parent)
{
    return prompts.message(parent, QStringLiteral("このデータは変更されています。保存しますか？"), YesNo, kSaveTitle)
           == Yes;
}

bool closeWithoutSaving(shell::Prompts& prompts, QWidget* parent, bool endsProgram)
{
    const QString text = endsProgram ? QStringLiteral("変更した内容を保存できませんでした。保存せずに終了しますか？")
                                     : QStringLiteral("変更した内容を保存できませんでした。保存せずに閉じますか？");
    return prompts.message(parent, text, YesNo + Exclamation + DefaultButton2, kSaveTitle) == Yes;
}

QString noRowToSaveMessage()
{
    return QStringLiteral("新規データの登録は、「新規データ追加」アイコンをクリックしてから行ってください");
}

QString notSavedMessage(const QString& reason)
{
    return QStringLiteral("このデータを保存できませんでした。\n\n") + reason
           + QStringLiteral("\n\n入力した内容は画面に残っています。");
}

QString refusedFieldsMessage(const QList<FieldFailure>& failures, bool newRow)
{
    QStringList lines;
    for (const FieldFailure& f : failures)
        lines << QStringLiteral("「") + f.label + QStringLiteral("」 ") + f.message;
    return (newRow ? QStringLiteral("次の項目は保存できなかったため、空のままです。\n\n")
                   : QStringLiteral("次の項目は保存できなかったため、前の内容のままです。\n\n"))
           + lines.join(QLatin1Char('\n')) + QStringLiteral("\n\n入力した内容は画面に残っています。");
}

} // namespace zumilo::records

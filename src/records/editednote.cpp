#include "editednote.h"

#include "store/error.h"
#include "store/recordset.h"

#include <functional>

namespace zumilo::records {

QString& NoteFields::text(int box)
{
    switch (box) {
    case 0:
        return title;
    case 3:
        return categoryName;
    case 4:
        return doneDate;
    case 5:
        return dueDate;
    case 6:
        return dueTime;
    case 7:
        return bunID;
    default:
        return body;
    }
}

namespace {

// The boxes work with "\n"; stored text uses CR LF.
QString toStored(const QString& shown)
{
    QString text = shown;
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

} // namespace

QList<FieldFailure> writeFields(store::Recordset& rs, const EditedNote& note, const QString& today, const QString& now,
                                bool newCreationDate)
{
    QList<FieldFailure> failures;
    auto step = [&failures](const char* label, int box, const std::function<void()>& work) {
        try {
            work();
        } catch (const store::StoreError& e) {
            failures.append({QString::fromUtf8(label), e.message(), box});
        }
    };
    auto textStep = [&](const char* label, int box, const char* column, const QString& value) {
        step(label, box, [&] { rs.setText(QString::fromLatin1(column), value); });
    };
    const NoteFields& f = note.fields;

    // A title shown in part stays as stored; a copy, which the whole title
    // would not fit, takes the part shown rather than none.
    if (!note.titleCut || newCreationDate)
        textStep("タイトル", 0, "Title", toStored(f.title));
    textStep("内容", 1, "naiyo", note.bodyCut ? note.stored.body : toStored(f.body));
    textStep("分類", 3, "bunrui", f.categoryName);
    textStep("完了日", 4, "kanryodate", f.doneDate);
    textStep("期日", 5, "kijitudate", f.dueDate);
    textStep("期日の時刻", 6, "kijitutime", f.dueTime);
    step("分類番号", 7, [&] {
        const QString number = f.bunID.trimmed();
        if (number.isEmpty()) {
            rs.setText(QStringLiteral("bunid"), QString());
            return;
        }
        bool ok = false;
        const int id = number.toInt(&ok);
        if (!ok)
            throw store::StoreError(store::ErrorKind::TypeMismatch, QStringLiteral("not a category number: ") + number,
                                    QStringLiteral("bunid"));
        rs.setValue(QStringLiteral("bunid"), id);
    });
    step("重要", -1, [&] { rs.setValue(QStringLiteral("jyuyoCK"), f.important); });
    step("完了", -1, [&] { rs.setValue(QStringLiteral("kanryoCK"), f.done); });

    step("oyaID", -1, [&] {
        if (note.stamps.oyaID.isEmpty())
            rs.setValue(QStringLiteral("oyaid"), 0);
        else
            rs.setText(QStringLiteral("oyaid"), note.stamps.oyaID);
    });

    const QString created = note.stamps.created.isEmpty() || newCreationDate ? today : note.stamps.created;
    textStep("更新日", -1, "kousindate", today);
    textStep("更新時刻", -1, "kousintime", now);
    textStep("初回作成日", -1, "sinkidate", created);
    return failures;
}

} // namespace zumilo::records

// Builds the help database from its readable source text.
//
//   # comment
//   [category ID PARENT] NAME
//   [note CATEGORY]{重要}{期日 yyyy/mm/dd}{完了 yyyy/mm/dd} TITLE
//   body lines up to the next line that starts with "[" ("\[" for a literal one)

#include "store/database.h"
#include "store/error.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>

using namespace zumilo::store;

namespace {

struct Note {
    int category = 0;
    QString title;
    QStringList body;
    bool important = false;
    QString due;
    QString done;
    int line = 0;
};

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "mkhelp: %s\n", qPrintable(message));
    std::exit(1);
}

QString isoDate(const QString& text, int line)
{
    const QDate d = QDate::fromString(text.trimmed(), QStringLiteral("yyyy/M/d"));
    if (!d.isValid())
        fail(QStringLiteral("line %1: not a date: %2").arg(line).arg(text));
    return d.toString(Qt::ISODate);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        fail(QStringLiteral("usage: zumilo_mkhelp SOURCE.txt OUTPUT.zmd"));
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        fail(QStringLiteral("cannot read %1").arg(source));
    QTextStream stream(&in);
    stream.setEncoding(QStringConverter::Utf8);

    static const QRegularExpression categoryRe(QStringLiteral(R"(^\[category\s+(\d+)\s+(\d+)\]\s*(.+)$)"));
    static const QRegularExpression noteRe(QStringLiteral(R"(^\[note\s+(\d+)\]((?:\{[^}]*\})*)\s*(.*)$)"));
    static const QRegularExpression flagRe(QStringLiteral(R"(\{([^}]*)\})"));

    struct Category {
        int id, parent;
        QString name;
    };
    QList<Category> categories;
    QHash<int, QString> categoryNames;
    QList<Note> notes;
    Note* current = nullptr;

    int lineNo = 0;
    while (!stream.atEnd()) {
        const QString line = stream.readLine();
        ++lineNo;
        if (line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (auto m = categoryRe.match(line); m.hasMatch()) {
                categories.append({m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).trimmed()});
                categoryNames.insert(categories.last().id, categories.last().name);
                current = nullptr;
            } else if (auto n = noteRe.match(line); n.hasMatch()) {
                Note note;
                note.category = n.captured(1).toInt();
                note.title = n.captured(3).trimmed();
                note.line = lineNo;
                auto flags = flagRe.globalMatch(n.captured(2));
                while (flags.hasNext()) {
                    const QString flag = flags.next().captured(1).trimmed();
                    if (flag == QStringLiteral("重要"))
                        note.important = true;
                    else if (flag.startsWith(QStringLiteral("期日")))
                        note.due = isoDate(flag.mid(2), lineNo);
                    else if (flag.startsWith(QStringLiteral("完了")))
                        note.done = isoDate(flag.mid(2), lineNo);
                    else
                        fail(QStringLiteral("line %1: unknown flag {%2}").arg(lineNo).arg(flag));
                }
                notes.append(note);
                current = &notes.last();
            } else {
                fail(QStringLiteral("line %1: unknown header: %2").arg(lineNo).arg(line));
            }
            continue;
        }
        if (!current) {
            if (!line.trimmed().isEmpty())
                fail(QStringLiteral("line %1: text outside a note").arg(lineNo));
            continue;
        }
        current->body.append(line.startsWith(QStringLiteral("\\[")) ? line.mid(1) : line);
    }

    for (const Note& n : notes) {
        if (n.category != 0 && !categoryNames.contains(n.category))
            fail(QStringLiteral("line %1: unknown category %2").arg(n.line).arg(n.category));
    }

    QFile::remove(target);
    try {
        createZumiloDatabase(target, false);
        auto db = Database::open(target);
        db->transaction([&] {
            for (const Category& c : categories)
                db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID,bunrui,oyabunID) VALUES(?,?,?)"),
                            {c.id, c.name, c.parent});
            // The stamps are fixed so that the file is the same at every build.
            const QString stamp = QStringLiteral("2026-12-01");
            int id = 2; // 1 is the seed note every new file holds
            for (Note& n : notes) {
                while (!n.body.isEmpty() && n.body.last().trimmed().isEmpty())
                    n.body.removeLast();
                db->execute(QStringLiteral(
                                "INSERT INTO T_idea(id,title,naiyo,bunID,bunrui,sinkiDate,kousinDate,kousinTime,"
                                "kanryoCK,kanryoDate,jyuyoCK,oyaID,kijituDate) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                            {id++, n.title, n.body.join(QStringLiteral("\r\n")), n.category,
                             categoryNames.value(n.category), stamp, stamp, QStringLiteral("09:00:00"),
                             n.done.isEmpty() ? 0 : -1, n.done.isEmpty() ? QVariant() : QVariant(n.done),
                             n.important ? -1 : 0, 0, n.due.isEmpty() ? QVariant() : QVariant(n.due)});
            }
        });
        db->close();
    } catch (const StoreError& e) {
        QFile::remove(target);
        fail(e.message() + QStringLiteral(" / ") + e.detail());
    }
    return 0;
}

// The exported files as a real spreadsheet program reads them: LibreOffice
// turns the CSV file of all notes and all columns, and a workbook of the
// same columns, into flat OpenDocument sheets, whose cells must be the
// notes.

#include "mainwindowapp.h"

#include "export/sheetexport.h"
#include "main/mainwindow.h"
#include "store/database.h"

#include <QAction>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

using Rows = QList<QStringList>;

const QStringList kColumns = {u"id"_s,         u"title"_s,      u"naiyo"_s,      u"bunID"_s,      u"bunrui"_s,
                              u"jyuyoCK"_s,    u"kijituDate"_s, u"kousinDate"_s, u"kousinTime"_s, u"kanryoCK"_s,
                              u"kanryoDate"_s, u"sinkiDate"_s,  u"oyaID"_s};

// The text of a <text:p>, its spaces and breaks as written.
QString paragraph(QXmlStreamReader& xml)
{
    QString text;
    while (xml.readNext() != QXmlStreamReader::EndElement || xml.name() != u"p") {
        if (xml.isCharacters())
            text += xml.text();
        else if (xml.isStartElement() && xml.name() == u"s")
            text += QString(qMax(1, xml.attributes().value(QLatin1String("text:c")).toInt()), u' ');
        else if (xml.isStartElement() && xml.name() == u"line-break")
            text += u'\n';
        else if (xml.isStartElement() && xml.name() == u"tab")
            text += u'\t';
    }
    return text;
}

// The first sheet of a flat OpenDocument file, each cell as "type:value"
// ("float:3", "date:2027-01-05", "string:text" with its paragraphs on
// lines of their own), an empty cell as ""; empty ends of rows and empty
// rows at the end left off.
Rows readSheet(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    Rows rows;
    QStringList row;
    QString cell;
    int repeat = 1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"table")
            break;
        if (xml.isStartElement() && (xml.name() == u"table-cell" || xml.name() == u"covered-table-cell")) {
            const QXmlStreamAttributes a = xml.attributes();
            const QString type = a.value(QLatin1String("office:value-type")).toString();
            repeat = qMax(1, a.value(QLatin1String("table:number-columns-repeated")).toInt());
            cell = type.isEmpty() ? QString()
                   : type == u"date"
                       ? QStringLiteral("date:") + a.value(QLatin1String("office:date-value")).left(10).toString()
                   : type == u"string" ? QStringLiteral("string:")
                                       : type + u':' + a.value(QLatin1String("office:value")).toString();
        } else if (xml.isStartElement() && xml.name() == u"p" && cell.startsWith(u"string:")) {
            cell += (cell.size() > 7 ? QStringLiteral("\n") : QString()) + paragraph(xml);
        } else if (xml.isEndElement() && (xml.name() == u"table-cell" || xml.name() == u"covered-table-cell")) {
            for (int i = 0; i < repeat && i < 64; ++i)
                row << cell;
        } else if (xml.isEndElement() && xml.name() == u"table-row") {
            while (!row.isEmpty() && row.constLast().isEmpty())
                row.removeLast();
            rows << row;
            row.clear();
        }
    }
    while (!rows.isEmpty() && rows.constLast().isEmpty())
        rows.removeLast();
    return rows;
}

// Converts `files` into flat OpenDocument sheets in `out`, with a profile
// of its own; `filter` is LibreOffice's import filter with its options.
bool convert(const QStringList& files, const QString& out, const QString& profile, const QString& filter = {})
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        return false;
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                          QStringLiteral("--convert-to"),
                          QStringLiteral("fods"),
                          QStringLiteral("--outdir"),
                          out};
    if (!filter.isEmpty())
        arguments << QStringLiteral("--infilter=") + filter;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(soffice, arguments + files);
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class RealLibreOffice : public QObject {
    Q_OBJECT

private slots:
    void spreadsheetReadsTheNotesBack()
    {
        test::MainWindowApp env;
        env.category(1, QStringLiteral("仕事"), 0);
        // Japanese text, quotes and commas, line breaks inside a note, blanks
        // at the start, digits that must stay text, dates, a time, numbers.
        const QString body = QStringLiteral("1行目 \"引用\", カンマ\r\n  字下げ\r\n\r\n最後");
        env.note(1, QStringLiteral("会議「第1回」"), 1,
                 {{u"naiyo"_s, body},
                  {u"bunrui"_s, QStringLiteral("仕事")},
                  {u"kijituDate"_s, u"2027-01-05"_s},
                  {u"kousinDate"_s, u"2026-12-01"_s},
                  {u"kousinTime"_s, u"09:30:00"_s},
                  {u"sinkiDate"_s, u"2026-11-30"_s}});
        env.note(2, QStringLiteral("0123"), 1,
                 {{u"naiyo"_s, QStringLiteral(" 先頭に空白")},
                  {u"bunrui"_s, QStringLiteral("仕事")},
                  {u"kanryoDate"_s, u"2026-12-06"_s},
                  {u"oyaID"_s, 7}});
        env.db->execute(QStringLiteral("update T_idea set jyuyoCK = -1 where id = 1"));
        env.db->execute(QStringLiteral("update T_idea set kanryoCK = -1 where id = 2"));
        env.note(30000, QStringLiteral("ﾊﾝｶｸ ＡＢＣ ｱｲｳ"), 1, {{u"bunrui"_s, QStringLiteral("仕事")}});
        const Rows notes = {
            {u"float:1"_s, u"string:会議「第1回」"_s, u"string:1行目 \"引用\", カンマ\n  字下げ\n\n最後"_s,
             u"float:1"_s, u"string:仕事"_s, u"float:-1"_s, u"date:2027-01-05"_s, u"date:2026-12-01"_s,
             u"string:09:30:00"_s, u"float:0"_s, u""_s, u"date:2026-11-30"_s},
            {u"float:2"_s, u"string:0123"_s, u"string: 先頭に空白"_s, u"float:1"_s, u"string:仕事"_s, u"float:0"_s,
             u""_s, u""_s, u""_s, u"float:-1"_s, u"date:2026-12-06"_s, u""_s, u"float:7"_s},
            {u"float:30000"_s, u"string:ﾊﾝｶｸ ＡＢＣ ｱｲｳ"_s, u""_s, u"float:1"_s, u"string:仕事"_s, u"float:0"_s, u""_s,
             u""_s, u""_s, u"float:0"_s},
        };
        QTemporaryDir work;
        const QString csv = work.filePath(QStringLiteral("notes.csv"));
        const QString book = work.filePath(QStringLiteral("book.xlsx"));

        // The CSV file through the File menu's command, the workbook by the
        // code that writes the spreadsheet export's.
        env.load();
        env.prompts.expectSaveFile(csv).expectMessage(QString());
        env.window->findChild<QAction*>(QStringLiteral("mnuExpCsvALL"))->trigger();
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QList<exporting::SheetColumn> columns;
        for (const QString& c : kColumns)
            columns.append({c, c});
        exporting::writeNoteSheet(*env.db, columns, {1, 2, 30000}, book);

        // Comma, double quotes, UTF-8, from line 1, Japanese; quoted fields
        // are text, and dates are found.
        const QString out = work.filePath(QStringLiteral("out"));
        QVERIFY2(convert({csv}, out, work.filePath(QStringLiteral("profile")),
                         QStringLiteral("Text - txt - csv (StarCalc):44,34,76,1,,1041,true,true")),
                 "LibreOffice (libreoffice-calc-nogui) did not convert the CSV file");
        QVERIFY2(convert({book}, out, work.filePath(QStringLiteral("profile"))),
                 "LibreOffice (libreoffice-calc-nogui) did not convert the workbook");

        QStringList header;
        for (const QString& c : kColumns)
            header << QStringLiteral("string:") + c;
        for (const char* name : {"notes", "book"}) {
            const Rows read = readSheet(QDir(out).filePath(QString::fromLatin1(name) + QStringLiteral(".fods")));
            QVERIFY2(!read.isEmpty(), name);
            QCOMPARE(read.value(0), header);
            for (qsizetype i = 0; i < notes.size(); ++i)
                QCOMPARE(read.value(i + 1), notes[i]);
            QCOMPARE(read.size(), notes.size() + 1);
        }
    }
};

QTEST_MAIN(RealLibreOffice)
#include "real_libreoffice.moc"

#include "store/columntype.h"
#include "store/datetext.h"
#include "store/error.h"

#include <QTest>

using namespace zumilo::store;
using namespace Qt::StringLiterals;

namespace {

const QDate Today(2026, 12, 6);

} // namespace

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void parseDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored"); // empty: rejected
        QTest::newRow("slashes") << "2026/12/6"
                                 << "2026-12-06";
        QTest::newRow("short") << "2026/1/5"
                               << "2026-01-05";
        QTest::newRow("hyphens") << "2026-12-06"
                                 << "2026-12-06";
        QTest::newRow("dots") << "2026.12.6"
                              << "2026-12-06";
        QTest::newRow("two-digit year") << "26/1/5"
                                        << "2026-01-05";
        QTest::newRow("two-digit last century") << "99/1/5"
                                                << "1999-01-05";
        QTest::newRow("kanji") << "2026年12月6日"
                               << "2026-12-06";
        QTest::newRow("no year") << "12/6"
                                 << "2026-12-06";
        QTest::newRow("no year kanji") << "3月1日"
                                       << "2026-03-01";
        QTest::newRow("full-width") << "１２／６"
                                    << "2026-12-06";
        QTest::newRow("full-width year") << "２０２６／１２／０６"
                                         << "2026-12-06";
        QTest::newRow("reiwa") << "令和8年12月6日"
                               << "2026-12-06";
        QTest::newRow("reiwa letter") << "R8.12.6"
                                      << "2026-12-06";
        QTest::newRow("reiwa first year") << "令和元年5月1日"
                                          << "2019-05-01";
        QTest::newRow("heisei last day") << "平成31年4月30日"
                                         << "2019-04-30";
        QTest::newRow("heisei letter") << "H31/4/30"
                                       << "2019-04-30";
        QTest::newRow("showa last day") << "昭和64年1月7日"
                                        << "1989-01-07";
        QTest::newRow("taisho") << "T15/12/24"
                                << "1926-12-24";
        QTest::newRow("time") << "2026-12-06 09:05"
                              << "2026-12-06 09:05:00";
        QTest::newRow("time seconds") << "2026/12/06 09:05:30"
                                      << "2026-12-06 09:05:30";
        QTest::newRow("blanks around") << "  2026/12/6  "
                                       << "2026-12-06";
        QTest::newRow("no such day") << "2026/2/30"
                                     << "";
        QTest::newRow("leap day") << "2028/2/29"
                                  << "2028-02-29";
        QTest::newRow("not leap") << "2026/2/29"
                                  << "";
        QTest::newRow("month 13") << "2026/13/1"
                                  << "";
        QTest::newRow("before reiwa") << "令和元年4月30日"
                                      << "";
        QTest::newRow("after showa") << "昭和64年1月8日"
                                     << "";
        QTest::newRow("bad time") << "2026/12/6 25:00"
                                  << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blank") << "   "
                               << "";
        QTest::newRow("words") << "あした"
                               << "";
        QTest::newRow("number") << "20261206"
                                << "";
        QTest::newRow("trailing junk") << "2026/12/6x"
                                       << "";
    }
    void parseDates()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        const auto d = parseDateText(text, Today);
        QCOMPARE(d ? toStorageText(*d) : QString(), stored);
    }

    void storageRoundTrip()
    {
        const DateValue withTime{QDate(2026, 1, 2), QTime(3, 4, 5)};
        QCOMPARE(fromStorageText(toStorageText(withTime)), withTime);
        QCOMPARE(toDisplayText(withTime), QStringLiteral("2026/01/02 03:04:05"));
        QCOMPARE(toDisplayText({QDate(987, 6, 5), std::nullopt}), QStringLiteral("0987/06/05"));
        QVERIFY(!fromStorageText(QStringLiteral("2026/01/02")));
        QVERIFY(!fromStorageText(QStringLiteral("2026-02-30")));
    }

    // What each kind of column accepts, and what it refuses.
    void toStorage_data()
    {
        QTest::addColumn<QString>("declared");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("error"); // -1: none
        const int ok = -1;
        const int mismatch = int(ErrorKind::TypeMismatch);
        QTest::newRow("int") << "long" << QVariant(12) << QVariant(qint64(12)) << ok;
        QTest::newRow("int from text") << "long" << QVariant(u" 12 "_s) << QVariant(qint64(12)) << ok;
        QTest::newRow("int from whole double") << "long" << QVariant(3.0) << QVariant(qint64(3)) << ok;
        QTest::newRow("int from fraction") << "long" << QVariant(3.5) << QVariant() << mismatch;
        QTest::newRow("int from word") << "long" << QVariant(u"twelve"_s) << QVariant() << mismatch;
        QTest::newRow("int cleared") << "long" << QVariant(u""_s) << QVariant() << ok;
        QTest::newRow("null") << "long" << QVariant() << QVariant() << ok;
        QTest::newRow("real from text") << "double" << QVariant(u"1.5"_s) << QVariant(1.5) << ok;
        QTest::newRow("date") << "DateTime" << QVariant(QDate(2026, 12, 6)) << QVariant(u"2026-12-06"_s) << ok;
        QTest::newRow("date time") << "DateTime" << QVariant(QDateTime(QDate(2026, 12, 6), QTime(9, 5)))
                                   << QVariant(u"2026-12-06 09:05:00"_s) << ok;
        QTest::newRow("date from text") << "DateTime" << QVariant(u"12/24"_s) << QVariant(u"2026-12-24"_s) << ok;
        QTest::newRow("date from era") << "DateTime" << QVariant(u"R8.1.2"_s) << QVariant(u"2026-01-02"_s) << ok;
        QTest::newRow("date invalid") << "DateTime" << QVariant(u"2026/2/30"_s) << QVariant()
                                      << int(ErrorKind::InvalidDate);
        QTest::newRow("date from number") << "DateTime" << QVariant(5) << QVariant() << mismatch;
        QTest::newRow("yes") << "yesno" << QVariant(true) << QVariant(qint64(-1)) << ok;
        QTest::newRow("yes from 1") << "yesno" << QVariant(1) << QVariant(qint64(-1)) << ok;
        QTest::newRow("yes from -1 text") << "yesno" << QVariant(u"-1"_s) << QVariant(qint64(-1)) << ok;
        QTest::newRow("yes from True") << "yesno" << QVariant(u"True"_s) << QVariant(qint64(-1)) << ok;
        QTest::newRow("no from No") << "yesno" << QVariant(u"No"_s) << QVariant(qint64(0)) << ok;
        QTest::newRow("yes from word") << "yesno" << QVariant(u"maybe"_s) << QVariant() << mismatch;
        QTest::newRow("text fits") << "text(3)" << QVariant(u"abc"_s) << QVariant(u"abc"_s) << ok;
        QTest::newRow("text too long") << "text(3)" << QVariant(u"abcd"_s) << QVariant() << int(ErrorKind::TooLong);
        QTest::newRow("text counts characters") << "text(2)" << QVariant(u"🍣🍣"_s) << QVariant(u"🍣🍣"_s) << ok;
        QTest::newRow("text keeps empty") << "text(3)" << QVariant(u""_s) << QVariant(u""_s) << ok;
        QTest::newRow("text from number") << "text(9)" << QVariant(42) << QVariant(u"42"_s) << ok;
        QTest::newRow("memo no limit") << "longtext" << QVariant(QString(100000, QLatin1Char('x')))
                                       << QVariant(QString(100000, QLatin1Char('x'))) << ok;
        QTest::newRow("binary") << "LONGBINARY" << QVariant(QByteArray("\x01\x02", 2))
                                << QVariant(QByteArray("\x01\x02", 2)) << ok;
        QTest::newRow("binary from text") << "LONGBINARY" << QVariant(u"x"_s) << QVariant() << mismatch;
    }
    void toStorage()
    {
        QFETCH(QString, declared);
        QFETCH(QVariant, value);
        QFETCH(QVariant, stored);
        QFETCH(int, error);
        try {
            const QVariant v = zumilo::store::toStorage(ColumnType::fromDeclared(declared), value, QStringLiteral("f"),
                                                        Today);
            QCOMPARE(error, -1);
            QCOMPARE(v, stored);
        } catch (const StoreError& e) {
            QCOMPARE(int(e.kind()), error);
            QCOMPARE(e.field(), QStringLiteral("f"));
            QVERIFY(e.message().contains(QStringLiteral("「f」")));
        }
    }

    void fromStorage_data()
    {
        QTest::addColumn<QString>("declared");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("null") << "DateTime" << QVariant() << QVariant() << "";
        QTest::newRow("date") << "DateTime" << QVariant(u"2026-12-06"_s) << QVariant(QDate(2026, 12, 6))
                              << "2026/12/06";
        QTest::newRow("date time") << "DateTime" << QVariant(u"2026-12-06 09:05:00"_s)
                                   << QVariant(QDateTime(QDate(2026, 12, 6), QTime(9, 5))) << "2026/12/06 09:05:00";
        QTest::newRow("unreadable date") << "DateTime" << QVariant(u"soon"_s) << QVariant(u"soon"_s) << "soon";
        QTest::newRow("yes") << "yesno" << QVariant(qint64(-1)) << QVariant(true) << "-1";
        QTest::newRow("real") << "double" << QVariant(0.1) << QVariant(0.1) << "0.1";
    }
    void fromStorage()
    {
        QFETCH(QString, declared);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, value);
        const QVariant v = zumilo::store::fromStorage(ColumnType::fromDeclared(declared), stored);
        QCOMPARE(v, value);
        QCOMPARE(v.typeId(), value.typeId());
        QTEST(displayText(v), "text");
    }
};

QTEST_APPLESS_MAIN(TestValues)
#include "tst_values.moc"

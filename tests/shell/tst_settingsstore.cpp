#include "shell/settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using zumilo::shell::SettingsStore;

class TestSettingsStore : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString ini() const { return dir_.filePath(QStringLiteral("zumilo.ini")); }

private slots:
    void init() { QFile::remove(ini()); }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("blank in section") << u"Recent Files"_s << u"RecentFile1"_s << u"/home/u/メモ 帳.zmd"_s;
        QTest::newRow("parentheses") << u"Position"_s << u"Text1(0)_Left"_s << u"600"_s;
        QTest::newRow("full-width value") << u"F1Position"_s << u"FontName"_s << u"ＭＳ Ｐゴシック"_s;
        QTest::newRow("japanese key") << u"設定 (一般)"_s << u"表示 フォント"_s << u"游ゴシック"_s;
        QTest::newRow("empty value") << u"DB_name"_s << u"DB_name"_s << u""_s;
        QTest::newRow("comma") << u"PrintOption"_s << u"Header"_s << u"a, b,c"_s;
        QTest::newRow("ini syntax") << u"PrintOption"_s << u"Footer"_s << u"x=1; #y [z]"_s;
        QTest::newRow("padding") << u"PrintOption"_s << u"Pad"_s << u"  both  "_s;
        QTest::newRow("at sign") << u"PrintOption"_s << u"At"_s << u"@Variant(x)"_s;
        QTest::newRow("general section") << u"General"_s << u"Key"_s << u"v"_s;
    }
    void roundTrip()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        SettingsStore::atFile(ini())->write(section, key, value);
        const auto again = SettingsStore::atFile(ini());
        QCOMPARE(again->read(section, key, QStringLiteral("missing")), value);
        QCOMPARE(again->readSection(section), (QList<QPair<QString, QString>>{{key, value}}));
    }

    void numbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 600.0 << u"600"_s;
        QTest::newRow("twips") << 3250.0 << u"3250"_s;
        QTest::newRow("half") << 10.5 << u"10.5"_s;
        QTest::newRow("negative") << -15.0 << u"-15"_s;
        QTest::newRow("single precision") << 0.1 << u"0.1"_s;
        QTest::newRow("rounded to single") << 1234.56789 << u"1234.5679"_s;
    }
    void numbers()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        SettingsStore::atFile(ini())->writeNumber(QStringLiteral("Position"), QStringLiteral("n"), value);
        const auto again = SettingsStore::atFile(ini());
        QCOMPARE(again->read(QStringLiteral("Position"), QStringLiteral("n")), text);
        QCOMPARE(again->readNumber(QStringLiteral("Position"), QStringLiteral("n"), -1), double(float(value)));
    }

    void readNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("decimal") << u"10.5"_s << 10.5;
        QTest::newRow("blanks around") << u" 600 "_s << 600.0;
        QTest::newRow("words") << u"abc"_s << 42.0;
        QTest::newRow("trailing junk") << u"12px"_s << 42.0;
    }
    void readNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const auto store = SettingsStore::atFile(ini());
        store->write(QStringLiteral("Position"), QStringLiteral("n"), text);
        QCOMPARE(store->readNumber(QStringLiteral("Position"), QStringLiteral("n"), 42), expected);
        QCOMPARE(store->readNumber(QStringLiteral("Position"), QStringLiteral("none"), 42), 42.0);
    }

    void sectionInCreationOrder()
    {
        {
            const auto store = SettingsStore::atFile(ini());
            for (int i : {1, 2, 3, 4, 5, 10, 11})
                store->write(QStringLiteral("Recent Files"), QStringLiteral("RecentFile%1").arg(i),
                             QStringLiteral("f%1").arg(i));
            store->write(QStringLiteral("Recent"), QStringLiteral("RecentFile0"), QStringLiteral("other"));
        }
        QStringList keys;
        for (const auto& [key, value] : SettingsStore::atFile(ini())->readSection(QStringLiteral("Recent Files"))) {
            QCOMPARE(value, QStringLiteral("f") + key.mid(10));
            keys.append(key);
        }
        QCOMPARE(keys, (QStringList{u"RecentFile1"_s, u"RecentFile2"_s, u"RecentFile3"_s, u"RecentFile4"_s,
                                    u"RecentFile5"_s, u"RecentFile10"_s, u"RecentFile11"_s}));
    }

    void userStoreIsNamedAfterTheProgram()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
        const QString expected = dir_.filePath(QStringLiteral("zumilo/zumilo.ini"));
        {
            SettingsStore store(QStringLiteral("zumilo"));
            QCOMPARE(store.fileName(), expected);
            store.write(QStringLiteral("DB_name"), QStringLiteral("DB_name"), QStringLiteral("a.zmd"));
        }
        QCOMPARE(SettingsStore::atFile(expected)->read(QStringLiteral("DB_name"), QStringLiteral("DB_name")), u"a.zmd");
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"

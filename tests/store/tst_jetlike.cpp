#include "storefixture.h"

#include "store/database.h"
#include "store/jetlike.h"
#include "store/jetsql.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace zumilo::store;
using namespace Qt::StringLiterals;

class TestJetLike : public QObject {
    Q_OBJECT

private slots:
    void match_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        QTest::newRow("contains") << "*bc*"
                                  << "abcd" << true;
        QTest::newRow("contains not") << "*bd*"
                                      << "abcd" << false;
        QTest::newRow("whole") << "abc"
                               << "abc" << true;
        QTest::newRow("whole is not part") << "abc"
                                           << "abcd" << false;
        QTest::newRow("prefix") << "ab*"
                                << "abcd" << true;
        QTest::newRow("suffix") << "*cd"
                                << "abcd" << true;
        QTest::newRow("suffix not") << "*cd"
                                    << "abcde" << false;
        QTest::newRow("star alone") << "*"
                                    << "" << true;
        QTest::newRow("empty pattern") << ""
                                       << "a" << false;
        QTest::newRow("stars around one") << "a*b*c"
                                          << "aXbYbZc" << true;
        QTest::newRow("overlapping ends") << "ab*ba"
                                          << "aba" << false;
        QTest::newRow("question") << "a?c"
                                  << "abc" << true;
        QTest::newRow("question needs one") << "a?c"
                                            << "ac" << false;
        QTest::newRow("question is one kanji") << "?字"
                                               << "漢字" << true;
        QTest::newRow("hash") << "No.##"
                              << "No.42" << true;
        QTest::newRow("hash not letter") << "No.##"
                                         << "No.4x" << false;
        QTest::newRow("hash full-width digit") << "#"
                                               << "７" << true;
        QTest::newRow("class") << "[abc]x"
                               << "bx" << true;
        QTest::newRow("class not") << "[abc]x"
                                   << "dx" << false;
        QTest::newRow("range") << "[a-f]1"
                               << "E1" << true;
        QTest::newRow("negated") << "[!abc]x"
                                 << "dx" << true;
        QTest::newRow("negated not") << "[!abc]x"
                                     << "ax" << false;
        QTest::newRow("literal star") << "a[*]b"
                                      << "a*b" << true;
        QTest::newRow("literal star is no wildcard") << "a[*]b"
                                                     << "axb" << false;
        QTest::newRow("literal question") << "[?]"
                                          << "?" << true;
        QTest::newRow("literal hash") << "[#]1"
                                      << "#1" << true;
        QTest::newRow("literal bracket") << "[[]x]"
                                         << "[x]" << true;
        QTest::newRow("escaped search word") << u"*"_s + escapeLikeWildcards(u"5*[2]"_s) + u"*"_s << "=5*[2]=" << true;
        QTest::newRow("escaped star is literal") << u"*"_s + escapeLikeWildcards(u"a*c"_s) + u"*"_s << "abc" << false;
        QTest::newRow("case") << "*ABC*"
                              << "xabcx" << true;
        QTest::newRow("full-width letters") << "ＡＢＣ"
                                            << "abc" << true;
        QTest::newRow("full-width in text") << "abc"
                                            << "ａｂｃ" << true;
        QTest::newRow("katakana hiragana") << "カタカナ"
                                           << "かたかな" << true;
        QTest::newRow("hiragana katakana") << "*かな*"
                                           << "カタカナ" << true;
        QTest::newRow("half-width voiced") << "ｶﾞｷﾞ"
                                           << "がぎ" << true;
        QTest::newRow("half-width in text") << "*ガギ*"
                                            << "xｶﾞｷﾞx" << true;
        QTest::newRow("voiced differs") << "が"
                                        << "か" << false;
        QTest::newRow("combining voiced mark") << "が" << QString::fromUtf8("\xe3\x81\x8b\xe3\x82\x99") << true;
        QTest::newRow("ideographic space") << "a b"
                                           << "a\u3000b" << true;
        QTest::newRow("circled digit") << "#"
                                       << "①" << true;
        QTest::newRow("accent kept") << "cafe"
                                     << "café" << false;
        QTest::newRow("emoji") << "*🍣*"
                               << "今日は🍣" << true;
        QTest::newRow("emoji is one character") << "?"
                                                << "🍣" << true;
        QTest::newRow("kanji") << "*会議*"
                               << "明日の会議資料" << true;
        QTest::newRow("periodic word") << u"*"_s + u"ab"_s.repeated(50) + u"c*"_s << u"ab"_s.repeated(200) + u"c"_s
                                       << true;
        QTest::newRow("word longer than any run")
            << u"*"_s + u"a"_s.repeated(300) + u"b*"_s << u"a"_s.repeated(1000) << false;
    }
    void match()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        QCOMPARE(jetLikeMatch(pattern, text), matches);
    }

    // Against a regular expression on folded text: over a small alphabet,
    // stars and question marks give runs that overlap themselves.
    void agreesWithRegularExpression()
    {
        std::mt19937 rng(test::randomSeed());
        const QString letters = QStringLiteral("aaAbあア");
        auto pick = [&](const QString& from) { return from.at(qsizetype(rng() % from.size())); };
        auto reference = [](const QString& pattern, const QString& text) {
            QString rx;
            for (QChar c : pattern)
                rx += c == u'*'   ? QStringLiteral(".*")
                      : c == u'?' ? QStringLiteral(".")
                                  : QRegularExpression::escape(foldForCompare(c));
            const QRegularExpression re(QStringLiteral("\\A(?:") + rx + QStringLiteral(")\\z"),
                                        QRegularExpression::DotMatchesEverythingOption);
            return re.match(foldForCompare(text)).hasMatch();
        };
        auto run = [&](int longest) {
            QString r;
            for (int n = int(rng() % longest); n > 0; --n)
                r += pick(letters);
            return r;
        };
        for (int i = 0; i < 3000; ++i) {
            // Runs between wildcards, often with stars on both ends.
            QString pattern = rng() % 4 ? QStringLiteral("*") : QString();
            for (int n = 1 + int(rng() % 3); n > 0; --n)
                pattern += run(6) + pick(QStringLiteral("**?"));
            const QString text = run(40);
            if (jetLikeMatch(pattern, text) != reference(pattern, text))
                QFAIL(qPrintable(QStringLiteral("%1 against %2").arg(pattern, text)));
        }
    }

    void fold_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::newRow("ascii") << "AbC"
                               << "abc";
        QTest::newRow("full-width") << "ＡＢＣ１２３！"
                                    << "abc123!";
        QTest::newRow("katakana") << "ヴァイオリン"
                                  << "ゔぁいおりん";
        QTest::newRow("half-width") << "ﾊﾟｿｺﾝ"
                                    << "ぱそこん";
        QTest::newRow("long vowel kept") << "ケーキ"
                                         << "けーき";
        QTest::newRow("squared") << "㍿"
                                 << "株式会社";
    }
    void fold()
    {
        QFETCH(QString, text);
        QTEST(foldForCompare(text), "folded");
    }

    // Folding takes shortcuts for common characters; every character of the
    // BMP, alone and before a voiced mark, must fold as NFKC would.
    void foldAgreesWithNormalization()
    {
        auto reference = [](const QString& text) {
            QList<uint> cps = text.normalized(QString::NormalizationForm_KC).toUcs4();
            for (uint& c : cps) {
                if (c >= 0x30A1 && c <= 0x30F6)
                    c -= 0x60;
                c = QChar::toCaseFolded(char32_t(c));
            }
            return QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size());
        };
        int failures = 0;
        for (char32_t c = 1; c < 0x10000 && failures < 10; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            const QString one = QString::fromUcs4(&c, 1);
            for (const QString& s : {QStringLiteral("x") + one + QStringLiteral("y"), one + QChar(0xFF9E),
                                     one + QChar(0xFF9F), one + QChar(0x3099)}) {
                if (foldForCompare(s) != reference(s)) {
                    qWarning("U+%04X folds wrongly in %s", uint(c), qPrintable(s));
                    ++failures;
                }
            }
        }
        QCOMPARE(failures, 0);
    }

    // The operator in statements uses the same rules, row after row.
    void inStatements()
    {
        QTemporaryDir dir;
        auto db = Database::create(dir.filePath(QStringLiteral("t.zmd")));
        db->execute(QStringLiteral("create table t (id counter constraint pkey primary key, body longtext, n long)"));
        const QStringList bodies = {QStringLiteral("カレーの作り方"),
                                    QStringLiteral("かれーライス"),
                                    QStringLiteral("It's 5* good"),
                                    QStringLiteral("ｶﾚｰ"),
                                    QString(),
                                    QStringLiteral("nul") + QChar(0) + QStringLiteral("here")};
        for (const QString& b : bodies)
            db->execute(QStringLiteral("insert into t(body, n) values(?, 12)"),
                        {b.isNull() ? QVariant() : QVariant(b)});
        auto count = [&](const QString& where, const QString& word = {}) {
            const QVariantList pattern{QLatin1Char('*') + escapeLikeWildcards(word) + QLatin1Char('*')};
            return db
                ->scalar(QStringLiteral("select count(*) from t where ") + where,
                         word.isNull() ? QVariantList() : pattern)
                .toInt();
        };
        QCOMPARE(count(QStringLiteral("body like '*カレー*'")), 3);
        QCOMPARE(count(QStringLiteral("body like ?"), QStringLiteral("it's 5*")), 1);
        QCOMPARE(count(QStringLiteral("body like ?"), QStringLiteral("*")), 1);
        QCOMPARE(count(QStringLiteral("body not like '*カレー*'")), 2); // Null is neither
        QCOMPARE(count(QStringLiteral("n like '1#'")), 6);
        // A NUL in a search word is one more character to match.
        QCOMPARE(count(QStringLiteral("body like ?"), QStringLiteral("l") + QChar(0) + QStringLiteral("h")), 1);
        QCOMPARE(count(QStringLiteral("body like ?"), QStringLiteral("l") + QChar(0)), 1);
        QCOMPARE(count(QStringLiteral("body like ?"), QString(QChar(0)) + QStringLiteral("'")), 0);
        QVERIFY(db->scalar(QStringLiteral("select null like 'a'")).isNull());
        QVERIFY(db->scalar(QStringLiteral("select 'a' like null")).isNull());
    }
};

QTEST_APPLESS_MAIN(TestJetLike)
#include "tst_jetlike.moc"

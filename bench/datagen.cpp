#include "datagen.h"

#include "store/database.h"
#include "store/error.h"
#include "store/schema.h"

#include <QDate>
#include <QFile>
#include <QTime>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace zumilo::bench {
namespace {

using Pool = std::vector<std::string_view>;

// Words a note of daily life and office work is made of. Nothing here
// contains 会議: that word is added on purpose to a known share of notes so
// that searches for it return a realistic, stable fraction.
const Pool kKanji = {
    "予定",       "資料", "確認",     "連絡",   "報告",   "企画",     "予算",   "見積",   "請求書", "納品",
    "打ち合わせ", "出張", "旅行",     "買い物", "料理",   "献立",     "健康",   "運動",   "散歩",   "読書",
    "映画",       "音楽", "家族",     "子供",   "学校",   "宿題",     "病院",   "薬",     "天気",   "庭",
    "野菜",       "電車", "駅",       "本屋",   "図書館", "銀行",     "税金",   "保険",   "年賀状", "誕生日",
    "記念日",     "趣味", "写真",     "手紙",   "住所",   "電話番号", "自治会", "町内会", "回覧板", "掃除",
    "洗濯",       "車検", "引っ越し", "部屋",   "仕事",   "作業",     "手順",   "課題",   "問題",   "原因",
    "対策",       "結果", "目標",     "計画",   "準備",   "締め切り", "来週",   "今月",   "明日",   "午前",
    "午後",       "先生", "先輩",     "部長",   "担当者", "取引先",   "お客様", "議事録", "懸案",   "記録",
};
const Pool kKatakana = {
    "データ",   "メモ",       "ファイル",     "フォルダ",     "パソコン",     "プリンタ",
    "ソフト",   "メール",     "ホームページ", "プロジェクト", "スケジュール", "ミーティング",
    "レシピ",   "カレンダー", "バックアップ", "パスワード",   "アイデア",     "リスト",
    "チェック", "サンプル",   "テスト",       "バージョン",   "インストール", "ネットワーク",
    "サーバー", "コーヒー",   "ケーキ",       "スーパー",     "ホテル",       "チケット",
};
const Pool kHalfKatakana = {
    "ﾃﾞｰﾀ", "ﾒﾓ", "ｱｲﾃﾞｱ", "ﾌｧｲﾙ", "ﾊﾟｿｺﾝ", "ﾌﾟﾘﾝﾀ", "ｿﾌﾄ", "ﾒｰﾙ", "ﾃｸﾆｯｸ", "ｺﾋﾟｰ", "ｷｬﾝｾﾙ",
};
const Pool kFullWidth = {
    "ＶＢ", "Ａｃｃｅｓｓ", "ＰＤＦ", "ＯＫ", "ＮＧ", "ＵＳＢ", "１２３", "２０２４年", "３月", "Ａ４", "ＣＤ",
};
const Pool kAscii = {
    "Excel", "Word", "PDF", "CSV",  "Windows", "Linux", "SQL", "v2.1", "10:30",
    "3F",    "A4",   "OK",  "No.5", "2024",    "15%",   "ID",  "USB",  "Wi-Fi",
};
const Pool kUrls = {
    "https://www.example.com/docs/index.html", "http://example.jp/news/123", "www.example.org", "someone@example.com",
    "https://example.net/a?id=42&p=3",
};
const Pool kParticles = {"は", "が", "を", "に", "で", "と", "の", "から", "まで", "へ", "も", "より"};
const Pool kEndings = {
    "する。",       "した。",           "です。",   "でした。",         "ます。",   "ました。", "しておく。",
    "を忘れない。", "について考える。", "が必要。", "を確認すること。", "はまだ。", "は済み。", "をお願いする。",
};
const Pool kMeetingSentences = {
    "会議の資料を準備する。",   "定例会議は午後から。",     "会議室を予約しておく。",
    "次の会議で報告すること。", "会議の議事録をまとめた。",
};
const Pool kCategoryWords = {
    "会議メモ",     "旅行計画",       "家計簿",     "読書記録",       "料理レシピ", "買い物リスト", "仕事",
    "プライベート", "健康管理",       "子育て",     "自治会",         "趣味",       "映画",         "音楽",
    "写真",         "パソコン",       "ﾊﾟｿｺﾝﾃｸﾆｯｸ", "得する情報",     "アイデア",   "目標",         "日記",
    "住所録",       "年賀状",         "車",         "庭仕事",         "投資",       "保険",         "税金",
    "学校行事",     "資格試験",       "英語学習",   "プログラミング", "ＶＢ",       "Access",       "Delphi",
    "顧客対応",     "議事録",         "企画書",     "見積",           "請求",       "出張報告",     "社内連絡",
    "現在の懸案",   "処理済(記録用)", "その他",     "2024年度",       "2025年度",   "春の予定",     "夏休み",
    "年末年始",
};

// Latest date in the data; fixed rather than today so that output never
// depends on when the generator runs.
const QDate kLastDay(2026, 11, 30);
constexpr int kSpanDays = 5 * 365;

class TextMaker {
public:
    explicit TextMaker(std::mt19937& rng) : rng_(rng) {}

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    QString pick(const Pool& pool)
    {
        const auto w = pool[std::size_t(uniform(0, int(pool.size()) - 1))];
        return QString::fromUtf8(w.data(), qsizetype(w.size()));
    }

    QString noun()
    {
        const int r = uniform(0, 99);
        if (r < 55)
            return pick(kKanji);
        if (r < 78)
            return pick(kKatakana);
        if (r < 86)
            return pick(kHalfKatakana);
        if (r < 92)
            return pick(kFullWidth);
        return pick(kAscii);
    }

    QString sentence()
    {
        QString s;
        if (chance(0.05)) {
            s += pick(kUrls);
            s += QStringLiteral(" を参照。");
            return s;
        }
        const int clauses = uniform(1, 4);
        for (int i = 0; i < clauses; ++i) {
            if (chance(0.12))
                s += QStringLiteral("「") + noun() + QStringLiteral("」");
            else
                s += noun();
            s += pick(kParticles);
            if (i + 1 < clauses && chance(0.3))
                s += QStringLiteral("、");
        }
        s += noun();
        s += pick(kEndings);
        return s;
    }

    // 100..1500 characters, mean about 500.
    QString body(bool mentionMeeting)
    {
        const double drawn = 100.0 + std::gamma_distribution<double>(2.0, 200.0)(rng_);
        const int target = std::clamp(int(drawn), 100, 1500);
        const int meetingAt = mentionMeeting ? uniform(0, target - 40) : -1;
        bool meetingDone = !mentionMeeting;
        QString text;
        text.reserve(target + 80);
        while (text.size() < target) {
            if (!meetingDone && text.size() >= meetingAt) {
                text += pick(kMeetingSentences);
                meetingDone = true;
            } else {
                text += sentence();
            }
            if (chance(0.35))
                text += QStringLiteral("\r\n");
            if (chance(0.05))
                text += QStringLiteral("\r\n");
        }
        text.truncate(target);
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        // The share of notes that mention it must not depend on where the cut fell.
        if (mentionMeeting && !text.contains(QStringLiteral("会議"))) {
            const QString s = pick(kMeetingSentences);
            text = s + text.left(target - s.size());
            if (text.endsWith(QLatin1Char('\r')))
                text.chop(1);
        }
        return text;
    }

    QString title()
    {
        const int target = uniform(5, 40);
        QString t;
        while (t.size() < target) {
            t += noun();
            if (t.size() < target)
                t += pick(kParticles);
        }
        t.truncate(target);
        return t;
    }

private:
    std::mt19937& rng_;
};

struct Category {
    int id;
    int parent;
    int level;
    QString name;
};

std::vector<Category> makeCategories(int count, TextMaker& text)
{
    const int top = std::max(1, int(std::lround(count * 0.1)));
    const int second = std::min(count - top, int(std::lround(count * 0.3)));
    std::vector<Category> list;
    list.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const int level = i < top ? 1 : (i < top + second ? 2 : 3);
        int parent = 0;
        if (level == 2)
            parent = text.uniform(1, top);
        else if (level == 3)
            parent = text.uniform(top + 1, top + second);
        list.push_back({i + 1, parent, level, {}});
    }
    // Names number the siblings 1, 2, 3 ... as a user keeps a tree in order.
    std::vector<int> siblings(std::size_t(count) + 1, 0);
    for (Category& c : list) {
        const int n = ++siblings[std::size_t(c.parent)];
        c.name = QString::number(n) + QLatin1Char(' ') + text.pick(kCategoryWords);
    }
    return list;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            store::throwSqliteError(db, sqlite3_errcode(db), QString::fromUtf8(sql));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int i, int v) { sqlite3_bind_int(stmt_, i, v); }
    void bind(int i, const QByteArray& v)
    {
        sqlite3_bind_text(stmt_, i, v.constData(), int(v.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, const QString& v) { bind(i, v.toUtf8()); }
    void bindNull(int i) { sqlite3_bind_null(stmt_, i); }
    void run()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc != SQLITE_DONE)
            store::throwSqliteError(db_, rc, QStringLiteral("insert"));
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

QString iso(const QDate& d)
{
    return d.toString(Qt::ISODate);
}

void fill(store::Database& db, const DatasetInfo& info, const std::vector<Category>& categories,
          const std::vector<int>& owner, std::mt19937& rng)
{
    TextMaker text(rng);
    sqlite3* h = db.handle();

    Statement addCategory(h, "INSERT INTO T_bunrui(bunID,bunrui,oyabunID) VALUES(?,?,?)");
    for (const Category& c : categories) {
        addCategory.bind(1, c.id);
        addCategory.bind(2, c.name);
        addCategory.bind(3, c.parent);
        addCategory.run();
    }

    Statement addNote(h, "INSERT INTO T_idea(id,title,naiyo,bunID,bunrui,sinkiDate,kousinDate,kousinTime,"
                         "kanryoCK,kanryoDate,jyuyoCK,oyaID,kijituDate) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)");
    const QDate firstDay = kLastDay.addDays(-kSpanDays);
    for (int i = 0; i < info.notes; ++i) {
        const Category& c = categories[std::size_t(owner[std::size_t(i)] - 1)];
        const QDate created = firstDay.addDays(text.uniform(0, kSpanDays));
        const int leftDays = int(created.daysTo(kLastDay));
        const QDate updated = text.chance(0.4) ? created : created.addDays(text.uniform(0, leftDays));
        const QTime at(text.uniform(0, 23), text.uniform(0, 59), text.uniform(0, 59));
        const bool done = text.chance(0.30);
        const bool important = text.chance(0.10);
        const bool due = text.chance(0.15);

        addNote.bind(1, i + 2); // 1 is the seed note of every new file
        addNote.bind(2, text.title());
        addNote.bind(3, text.body(text.chance(0.15)));
        addNote.bind(4, c.id);
        addNote.bind(5, c.name);
        addNote.bind(6, iso(created));
        addNote.bind(7, iso(updated));
        addNote.bind(8, at.toString(QStringLiteral("hh:mm:ss")));
        addNote.bind(9, done ? -1 : 0);
        if (done)
            addNote.bind(10, iso(created.addDays(text.uniform(0, int(created.daysTo(updated))))));
        else
            addNote.bindNull(10);
        addNote.bind(11, important ? -1 : 0);
        addNote.bind(12, 0);
        if (due)
            addNote.bind(13, iso(created.addDays(text.uniform(0, 180))));
        else
            addNote.bindNull(13);
        addNote.run();
    }
}

} // namespace

DatasetInfo generateDatabase(const QString& path, int notes, int categories, std::uint32_t seed)
{
    if (notes < 0 || categories < 1)
        throw std::runtime_error("need at least one category and no negative note count");

    std::mt19937 rng(seed);
    TextMaker text(rng);
    const std::vector<Category> tree = makeCategories(categories, text);

    DatasetInfo info;
    info.notes = notes;
    info.categories = categories;
    // The big category is a leaf, where a user's busiest notes usually sit.
    const int firstLeaf = int(
        std::find_if(tree.begin(), tree.end(), [&](const Category& c) { return c.level == tree.back().level; })
        - tree.begin());
    info.bigCategoryId = tree[std::size_t(text.uniform(firstLeaf, categories - 1))].id;
    info.bigCategoryNotes = categories > 1 ? notes / 10 : notes;

    // The others share the rest Zipf-like over a shuffled order, so a few
    // categories are large and most hold a handful or nothing.
    std::vector<int> others;
    for (const Category& c : tree)
        if (c.id != info.bigCategoryId)
            others.push_back(c.id);
    std::shuffle(others.begin(), others.end(), rng);
    std::vector<double> weights;
    for (std::size_t r = 0; r < others.size(); ++r)
        weights.push_back(1.0 / std::pow(double(r + 1), 0.8));
    std::vector<int> owner(std::size_t(notes), info.bigCategoryId);
    if (!others.empty()) {
        std::discrete_distribution<std::size_t> share(weights.begin(), weights.end());
        for (int i = info.bigCategoryNotes; i < notes; ++i)
            owner[std::size_t(i)] = others[share(rng)];
    }
    std::shuffle(owner.begin(), owner.end(), rng);

    store::createZumiloDatabase(path, false);
    try {
        auto db = store::Database::open(path);
        db->transaction([&] { fill(*db, info, tree, owner, rng); });
        db->close();
    } catch (...) {
        QFile::remove(path);
        throw;
    }
    return info;
}

DatasetInfo inspectDatabase(const QString& path)
{
    auto db = store::Database::open(path);
    sqlite3* h = db->handle();
    auto number = [&](const char* sql, int column = 0) {
        Statement s(h, sql);
        return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), column) : 0;
    };
    DatasetInfo info;
    info.notes = number("SELECT count(*) FROM T_idea WHERE id > 1");
    info.categories = number("SELECT count(*) FROM T_bunrui");
    const char* biggest = "SELECT bunID, count(*) AS n FROM T_idea WHERE bunID IS NOT NULL "
                          "GROUP BY bunID ORDER BY n DESC, bunID LIMIT 1";
    info.bigCategoryId = number(biggest, 0);
    info.bigCategoryNotes = number(biggest, 1);
    db->close();
    return info;
}

QString generateLongNote(qsizetype utf8Bytes, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    TextMaker text(rng);
    QString note;
    qsizetype bytes = 0;
    while (bytes < utf8Bytes) {
        QString line;
        const int sentences = text.uniform(5, 120);
        for (int i = 0; i < sentences; ++i)
            line += text.sentence();
        if (text.chance(0.1))
            line += QStringLiteral("\n");
        line += QStringLiteral("\n");
        bytes += line.toUtf8().size();
        note += line;
    }
    return note;
}

} // namespace zumilo::bench

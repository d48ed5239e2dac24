#include "jetsql.h"

#include "sqltokens.h"

#include <QRegularExpression>

namespace zumilo::store {

namespace detail {

namespace {

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() >= 0x80;
}

bool isWordChar(QChar c)
{
    return isWordStart(c) || c.isDigit() || c == QLatin1Char('$');
}

} // namespace

std::vector<Token> tokenize(const QString& sql, qsizetype from, qsizetype to)
{
    std::vector<Token> tokens;
    const qsizetype n = to < 0 ? sql.size() : std::min(to, sql.size());
    qsizetype i = from;
    int depth = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            while (i < n && sql.at(i) != QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 || close >= n ? n : close + 2;
            continue;
        }
        const qsizetype begin = i;
        TokenType type = TokenType::Punct;
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            type = c == QLatin1Char('\'') ? TokenType::String : TokenType::Quoted;
            ++i;
            while (i < n) {
                if (sql.at(i) == c) {
                    if (i + 1 < n && sql.at(i + 1) == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (c == QLatin1Char('[')) {
            // As the engine reads it: the first ] closes.
            type = TokenType::Bracketed;
            const qsizetype close = sql.indexOf(QLatin1Char(']'), i + 1);
            i = close < 0 || close >= n ? n : close + 1;
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && sql.at(i + 1).isDigit())) {
            type = TokenType::Number;
            while (i < n
                   && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('.')
                       || ((sql.at(i) == QLatin1Char('+') || sql.at(i) == QLatin1Char('-'))
                           && (sql.at(i - 1) == QLatin1Char('e') || sql.at(i - 1) == QLatin1Char('E')))))
                ++i;
        } else if (isWordStart(c)) {
            type = TokenType::Word;
            while (i < n && isWordChar(sql.at(i)))
                ++i;
        } else {
            ++i;
            if (c == QLatin1Char(')') && depth > 0)
                --depth;
        }
        tokens.push_back({type, begin, i, depth});
        if (type == TokenType::Punct && c == QLatin1Char('('))
            ++depth;
    }
    return tokens;
}

QString identifierName(const QString& sql, const Token& t)
{
    const QString text = tokenText(sql, t).toString();
    switch (t.type) {
    case TokenType::Bracketed:
        return text.mid(1, text.endsWith(QLatin1Char(']')) ? text.size() - 2 : -1);
    case TokenType::Quoted: {
        QString inner = text.mid(1, text.size() >= 2 && text.endsWith(QLatin1Char('"')) ? text.size() - 2 : -1);
        return inner.replace(QLatin1String("\"\""), QLatin1String("\""));
    }
    default:
        return text;
    }
}

QString quoteIdentifier(const QString& name)
{
    if (name.contains(QLatin1Char(']'))) {
        QString q = name;
        return QLatin1Char('"') + q.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    }
    return QLatin1Char('[') + name + QLatin1Char(']');
}

QString withoutTerminator(const QString& sql)
{
    qsizetype end = sql.size();
    while (end > 0 && (sql.at(end - 1).isSpace() || sql.at(end - 1) == QLatin1Char(';')))
        --end;
    return sql.left(end);
}

namespace {

struct Span {
    qsizetype begin = -1; // text of the clause, after its keyword
    qsizetype end = -1;
    qsizetype keyword = -1; // where the keyword starts
};

struct SelectLayout {
    SelectParts parts;
    Span into;
    qsizetype fromKeyword = -1;
};

bool isAggregateName(QStringView name)
{
    static const char* const names[] = {"count",      "sum",   "avg",  "min",   "max",    "total", "group_concat",
                                        "string_agg", "first", "last", "stdev", "stdevp", "var",   "varp"};
    for (const char* n : names)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool listHasAggregate(const QString& sql, const std::vector<Token>& tokens, size_t first, size_t last)
{
    // Parentheses that open a subquery hide what is inside them.
    std::vector<bool> subquery;
    for (size_t i = first; i < last; ++i) {
        const Token& t = tokens[i];
        if (isPunct(sql, t, '(')) {
            const bool sub = (i + 1 < last && isWord(sql, tokens[i + 1], QLatin1String("select")))
                             || (!subquery.empty() && subquery.back());
            subquery.push_back(sub);
            continue;
        }
        if (isPunct(sql, t, ')')) {
            if (!subquery.empty())
                subquery.pop_back();
            continue;
        }
        if (!subquery.empty() && subquery.back())
            continue;
        if (t.type == TokenType::Word && i + 1 < last && isPunct(sql, tokens[i + 1], '(')
            && isAggregateName(tokenText(sql, t)))
            return true;
    }
    return false;
}

// A [...] at `i`, with ]] standing for ]: its text, and `i` moved past it;
// nullopt (and `i` left) when there is none or it is not closed.
std::optional<QString> readBracketed(const QString& s, qsizetype& i)
{
    if (i >= s.size() || s.at(i) != QLatin1Char('['))
        return std::nullopt;
    QString inner;
    for (qsizetype j = i + 1; j < s.size(); ++j) {
        if (s.at(j) != QLatin1Char(']')) {
            inner += s.at(j);
        } else if (j + 1 < s.size() && s.at(j + 1) == QLatin1Char(']')) {
            inner += QLatin1Char(']');
            ++j;
        } else {
            i = j + 1;
            return inner;
        }
    }
    return std::nullopt;
}

qsizetype skipBlanks(const QString& s, qsizetype i)
{
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    return i;
}

// Where the INTO target ends: at the FROM that follows it. The target is
// read as raw text, since a file name is no token of the dialect; the
// folder's brackets, and the file name's when it has them, may hold
// anything.
qsizetype intoEnd(const QString& sql, qsizetype start)
{
    qsizetype i = skipBlanks(sql, start);
    if (readBracketed(sql, i)) {
        qsizetype j = skipBlanks(sql, i);
        if (j < sql.size() && sql.at(j) == QLatin1Char('.')) {
            j = skipBlanks(sql, j + 1);
            if (readBracketed(sql, j))
                i = j;
        }
    }
    static const QRegularExpression from(QStringLiteral("\\bfrom\\b"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = from.match(sql, i);
    return m.hasMatch() ? m.capturedStart() : sql.size();
}

std::optional<SelectLayout> layoutSelect(const QString& s)
{
    std::vector<Token> tokens = tokenize(s);
    if (tokens.empty() || !isWord(s, tokens[0], QLatin1String("select")))
        return std::nullopt;

    SelectLayout layout;
    SelectParts& parts = layout.parts;
    size_t i = 1;
    if (i < tokens.size()) {
        if (isWord(s, tokens[i], QLatin1String("distinct")) || isWord(s, tokens[i], QLatin1String("distinctrow"))) {
            parts.distinct = true;
            ++i;
        } else if (isWord(s, tokens[i], QLatin1String("all"))) {
            ++i;
        }
    }

    enum Clause { List, Into, From, Where, GroupBy, Having, OrderBy };
    Clause current = List;
    qsizetype clauseBegin = i < tokens.size() ? tokens[i].begin : s.size();
    size_t listFirst = i;
    size_t listLast = tokens.size();
    qsizetype compoundAt = -1;

    auto finish = [&](qsizetype end) {
        const QString text = s.mid(clauseBegin, end - clauseBegin).trimmed();
        switch (current) {
        case List:
            parts.selectList = text;
            break;
        case Into:
            parts.into = text;
            break;
        case From:
            parts.from = text;
            break;
        case Where:
            parts.where = text;
            break;
        case GroupBy:
            parts.groupBy = text;
            break;
        case Having:
            parts.having = text;
            break;
        case OrderBy:
            parts.orderBy = text;
            break;
        }
    };

    while (i < tokens.size()) {
        const Token& t = tokens[i];
        if (t.depth != 0 || t.type != TokenType::Word) {
            ++i;
            continue;
        }
        auto next = [&](QLatin1String w) { return i + 1 < tokens.size() && isWord(s, tokens[i + 1], w); };
        Clause clause;
        size_t skip = 1;
        if (current == List && isWord(s, t, QLatin1String("into"))) {
            clause = Into;
        } else if (current < From && isWord(s, t, QLatin1String("from"))) {
            clause = From;
        } else if (current < Where && isWord(s, t, QLatin1String("where"))) {
            clause = Where;
        } else if (current < GroupBy && isWord(s, t, QLatin1String("group")) && next(QLatin1String("by"))) {
            clause = GroupBy;
            skip = 2;
        } else if (current < Having && isWord(s, t, QLatin1String("having"))) {
            clause = Having;
        } else if (current < OrderBy && isWord(s, t, QLatin1String("order")) && next(QLatin1String("by"))) {
            clause = OrderBy;
            skip = 2;
        } else if (isWord(s, t, QLatin1String("union")) || isWord(s, t, QLatin1String("intersect"))
                   || isWord(s, t, QLatin1String("except"))) {
            parts.compound = true;
            compoundAt = t.begin;
            break;
        } else {
            ++i;
            continue;
        }
        if (current == List)
            listLast = i;
        finish(t.begin);
        if (clause == From)
            layout.fromKeyword = t.begin;
        current = clause;
        clauseBegin = tokens[i + skip - 1].end;
        if (clause == Into) {
            layout.into.keyword = t.begin;
            layout.into.begin = clauseBegin;
            const qsizetype end = intoEnd(s, clauseBegin);
            layout.into.end = end;
            parts.into = s.mid(clauseBegin, end - clauseBegin).trimmed();
            // Carry on after the target, which may hold anything.
            std::vector<Token> rest = tokenize(s, end);
            tokens.erase(tokens.begin() + qsizetype(i) + 1, tokens.end());
            tokens.insert(tokens.end(), rest.begin(), rest.end());
            ++i;
            if (i < tokens.size() && isWord(s, tokens[i], QLatin1String("from"))) {
                layout.fromKeyword = tokens[i].begin;
                current = From;
                clauseBegin = tokens[i].end;
                ++i;
            } else {
                current = Into;
                clauseBegin = end;
            }
            continue;
        }
        i += skip;
    }
    if (current != Into || layout.into.keyword < 0)
        finish(compoundAt >= 0 ? compoundAt : s.size());
    parts.hasAggregate = listHasAggregate(s, tokens, listFirst, std::min(listLast, tokens.size()));
    return layout;
}

} // namespace

QString withoutInto(const QString& sql)
{
    const QString s = withoutTerminator(sql);
    const auto layout = layoutSelect(s);
    if (!layout || layout->into.keyword < 0)
        return s;
    return s.left(layout->into.keyword) + s.mid(layout->into.end);
}

} // namespace detail

using namespace detail;

QString escapeLikeWildcards(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('#') || c == QLatin1Char('[')) {
            out += QLatin1Char('[');
            out += c;
            out += QLatin1Char(']');
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<SelectParts> parseSelect(const QString& sql)
{
    const auto layout = layoutSelect(withoutTerminator(sql));
    if (!layout)
        return std::nullopt;
    return layout->parts;
}

QString singleTableName(const QString& fromClause)
{
    const std::vector<Token> tokens = tokenize(fromClause);
    if (tokens.empty())
        return {};
    const Token& name = tokens[0];
    if (name.type != TokenType::Word && name.type != TokenType::Bracketed && name.type != TokenType::Quoted)
        return {};
    if (isWord(fromClause, name, QLatin1String("select")))
        return {};
    size_t i = 1;
    if (i < tokens.size() && isWord(fromClause, tokens[i], QLatin1String("as")))
        ++i;
    if (i < tokens.size()) {
        static const char* const joins[] = {"join",    "left", "right", "inner", "outer",   "cross",
                                            "natural", "full", "on",    "using", "indexed", "not"};
        const Token& alias = tokens[i];
        if (alias.type == TokenType::Word) {
            for (const char* j : joins)
                if (isWord(fromClause, alias, QLatin1String(j)))
                    return {};
        } else if (alias.type != TokenType::Bracketed && alias.type != TokenType::Quoted) {
            return {};
        }
        ++i;
    }
    if (i != tokens.size())
        return {};
    return identifierName(fromClause, name);
}

std::optional<TextTarget> parseTextTarget(const QString& intoClause)
{
    const QString s = intoClause.trimmed();
    qsizetype i = 0;
    const std::optional<QString> inner = readBracketed(s, i);
    if (!inner)
        return std::nullopt;
    // The folder is the value of "database=" and runs to the bracket's end:
    // a ';' or '=' in a folder's name is part of it. Nothing is trimmed
    // from it, since blanks may end a folder's name.
    static const QRegularExpression head(QStringLiteral("^\\s*text\\s*;(?:[^;]*;)*?\\s*database\\s*="),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(*inner);
    if (!m.hasMatch())
        return std::nullopt;
    TextTarget target;
    target.folder = inner->mid(m.capturedEnd());

    i = skipBlanks(s, i);
    if (i >= s.size() || s.at(i) != QLatin1Char('.'))
        return std::nullopt;
    i = skipBlanks(s, i + 1);
    if (const std::optional<QString> bracketed = readBracketed(s, i)) {
        if (skipBlanks(s, i) != s.size())
            return std::nullopt;
        target.fileName = *bracketed;
    } else {
        target.fileName = s.mid(i).trimmed();
    }
    if (target.folder.isEmpty() || target.fileName.isEmpty())
        return std::nullopt;
    return target;
}

QString textTarget(const QString& folder, const QString& fileName)
{
    auto escaped = [](QString text) { return text.replace(QLatin1Char(']'), QLatin1String("]]")); };
    return QStringLiteral("[Text;database=") + escaped(folder) + QStringLiteral("].[") + escaped(fileName)
           + QLatin1Char(']');
}

QString orderByText(const QString& orderBy, const std::function<bool(const QString&)>& isText,
                    const QString& keyFunction)
{
    const std::vector<Token> tokens = tokenize(orderBy);
    QString out;
    qsizetype copied = 0;
    size_t start = 0;
    while (start < tokens.size()) {
        size_t end = start;
        while (end < tokens.size() && !(isPunct(orderBy, tokens[end], ',') && tokens[end].depth == 0))
            ++end;
        // One name, perhaps followed by ASC or DESC: nothing else is touched.
        const Token& first = tokens[start];
        const bool named = first.type == TokenType::Word || first.type == TokenType::Bracketed
                           || first.type == TokenType::Quoted;
        const bool plain = end == start + 1
                           || (end == start + 2
                               && (isWord(orderBy, tokens[start + 1], QLatin1String("asc"))
                                   || isWord(orderBy, tokens[start + 1], QLatin1String("desc"))));
        if (named && plain && isText(identifierName(orderBy, first))) {
            out += QStringView(orderBy).mid(copied, first.begin - copied);
            out += keyFunction + QLatin1Char('(') + tokenText(orderBy, first).toString() + QLatin1Char(')');
            copied = first.end;
        }
        start = end + 1;
    }
    out += QStringView(orderBy).mid(copied);
    return out;
}

QString rewriteJetDdl(const QString& sql)
{
    const std::vector<Token> tokens = tokenize(sql);
    if (tokens.size() < 3)
        return sql;

    // Positions of the column types to rewrite: [type token, end of its arguments).
    std::vector<std::pair<qsizetype, qsizetype>> edits;
    auto consider = [&](size_t typeIndex) {
        if (typeIndex >= tokens.size())
            return;
        const Token& type = tokens[typeIndex];
        if (!isWord(sql, type, QLatin1String("counter")) && !isWord(sql, type, QLatin1String("autoincrement")))
            return;
        qsizetype end = type.end;
        // counter(seed, step): SQLite numbers from max+1 on its own.
        if (typeIndex + 1 < tokens.size() && isPunct(sql, tokens[typeIndex + 1], '(')) {
            const int depth = tokens[typeIndex + 1].depth;
            for (size_t k = typeIndex + 2; k < tokens.size(); ++k) {
                if (isPunct(sql, tokens[k], ')') && tokens[k].depth == depth) {
                    end = tokens[k].end;
                    break;
                }
            }
        }
        edits.emplace_back(type.begin, end);
    };

    size_t i = 0;
    if (isWord(sql, tokens[0], QLatin1String("create"))) {
        i = 1;
        while (i < tokens.size()
               && (isWord(sql, tokens[i], QLatin1String("temp")) || isWord(sql, tokens[i], QLatin1String("temporary"))))
            ++i;
        if (i >= tokens.size() || !isWord(sql, tokens[i], QLatin1String("table")))
            return sql;
        while (i < tokens.size() && !isPunct(sql, tokens[i], '('))
            ++i;
        bool defStart = true;
        for (++i; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            if (t.depth == 0)
                break;
            if (t.depth == 1 && isPunct(sql, t, ',')) {
                defStart = true;
                continue;
            }
            if (defStart) {
                defStart = false;
                static const char* const tableConstraints[] = {"constraint", "primary", "unique", "check", "foreign"};
                bool constraint = false;
                for (const char* c : tableConstraints)
                    constraint = constraint || isWord(sql, t, QLatin1String(c));
                if (!constraint)
                    consider(i + 1);
            }
        }
    } else if (isWord(sql, tokens[0], QLatin1String("alter"))) {
        for (i = 1; i < tokens.size(); ++i) {
            if (isWord(sql, tokens[i], QLatin1String("add"))) {
                size_t name = i + 1;
                if (name < tokens.size() && isWord(sql, tokens[name], QLatin1String("column")))
                    ++name;
                consider(name + 1);
                break;
            }
        }
    } else {
        return sql;
    }

    QString out = sql;
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        out.replace(it->first, it->second - it->first, QStringLiteral("INTEGER"));
    return out;
}

} // namespace zumilo::store

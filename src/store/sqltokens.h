#pragma once

#include <QString>
#include <vector>

namespace zumilo::store::detail {

// Just enough lexing of the dialect to find clauses and names; the engine
// does the real parsing.
enum class TokenType {
    Word, // keyword or bare name
    Number,
    String,    // '...' with '' inside
    Quoted,    // "..." identifier
    Bracketed, // [...] identifier, ]] inside
    Punct,     // any other single character
};

struct Token {
    TokenType type;
    qsizetype begin; // offsets into the statement
    qsizetype end;
    int depth; // parentheses around the token ('(' and ')' count as outside)
};

std::vector<Token> tokenize(const QString& sql, qsizetype from = 0, qsizetype to = -1);

inline QStringView tokenText(const QString& sql, const Token& t)
{
    return QStringView(sql).mid(t.begin, t.end - t.begin);
}

inline bool isWord(const QString& sql, const Token& t, QLatin1String word)
{
    return t.type == TokenType::Word && tokenText(sql, t).compare(word, Qt::CaseInsensitive) == 0;
}

inline bool isPunct(const QString& sql, const Token& t, char c)
{
    return t.type == TokenType::Punct && sql.at(t.begin) == QLatin1Char(c);
}

// The name a token stands for: brackets or quotes removed, escapes undone.
QString identifierName(const QString& sql, const Token& t);

// [name] with any ] doubled, for putting a name into a statement.
QString quoteIdentifier(const QString& name);

// The statement without trailing blanks and semicolons.
QString withoutTerminator(const QString& sql);

// The statement with its INTO clause taken out (SELECT ... INTO x FROM ...
// becomes SELECT ... FROM ...); the statement itself when it has none.
QString withoutInto(const QString& sql);

} // namespace zumilo::store::detail

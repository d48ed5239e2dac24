#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace zumilo::store {

// --- Search words as patterns ---------------------------------------------

// The user's text with Jet wildcard characters made literal: a*b -> a[*]b.
QString escapeLikeWildcards(const QString& text);

// --- Reading the dialect --------------------------------------------------

// The top-level clauses of a SELECT statement. Text of each clause without
// its keyword; empty when absent. Quotes, brackets and parentheses are
// respected when looking for keywords.
struct SelectParts {
    QString selectList; // after SELECT (and DISTINCT)
    bool distinct = false;
    QString into; // after INTO, up to FROM
    QString from;
    QString where;
    QString groupBy;
    QString having;
    QString orderBy;
    bool compound = false;     // UNION, INTERSECT, EXCEPT
    bool hasAggregate = false; // count(, max(, ... at top level of the list
};
std::optional<SelectParts> parseSelect(const QString& sql);

// The single table a FROM clause names (brackets removed), or empty when
// it names a join, several tables or a subquery.
QString singleTableName(const QString& fromClause);

// A Jet text-driver target "[Text;database=FOLDER].FILE". FOLDER runs to
// the closing bracket, ]] standing for a ] in it; FILE may be bracketed
// the same way ("[Text;database=/a;b]].[x from y.csv]").
struct TextTarget {
    QString folder;
    QString fileName;
};
std::optional<TextTarget> parseTextTarget(const QString& intoClause);
// The target that parseTextTarget() reads back as exactly this folder and
// file name, whatever characters they hold.
QString textTarget(const QString& folder, const QString& fileName);

// An ORDER BY clause as the engine is to run it. Each term that is a bare
// column name for which `isText` holds orders by `keyFunction` of it, so
// that text sorts the way the program's lists sort names; other terms, and
// the ASC/DESC of every term, stay as written.
QString orderByText(const QString& orderBy, const std::function<bool(const QString& column)>& isText,
                    const QString& keyFunction);

// Rewrites Jet DDL into SQLite: the column type counter becomes INTEGER so
// that the key is engine-assigned. Everything else runs as written.
QString rewriteJetDdl(const QString& sql);

} // namespace zumilo::store

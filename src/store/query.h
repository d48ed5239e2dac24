#pragma once

#include "views.h"

#include <QVariant>
#include <vector>

namespace zumilo::store::detail {

// A statement over one table, made from a view: the search index reads
// its conditions as they are, never from the statement's text.
struct Query {
    struct Condition {
        QString sql; // with ? marks for `params`
        QVariantList params;
        QString likeColumn; // "likeColumn like ?": a Jet pattern, params[0]
    };
    QString table;
    QStringList fields;                // empty: all
    std::vector<Condition> conditions; // all must hold
    QString orderBy;                   // as written; empty: none

    QString fieldList() const;
    QString from() const;
    QString where() const;
    QVariantList params() const;
    QString select() const; // the whole statement, with its marks
};

Query query(const NoteView& view);
Query query(const CategoryView& view);
// `column like pattern` with the word made literal and found anywhere.
Query::Condition contains(const QString& column, const QString& word);

} // namespace zumilo::store::detail

#include "query.h"

#include "jetsql.h"
#include "sqltokens.h"

namespace zumilo::store::detail {

QString Query::fieldList() const
{
    if (fields.isEmpty())
        return QStringLiteral("*");
    QStringList quoted;
    for (const QString& f : fields)
        quoted << quoteIdentifier(f);
    return quoted.join(QLatin1Char(','));
}

QString Query::from() const
{
    return quoteIdentifier(table);
}

QString Query::where() const
{
    QStringList parts;
    for (const Condition& c : conditions)
        parts << c.sql;
    return parts.join(QStringLiteral(" AND "));
}

QVariantList Query::params() const
{
    QVariantList all;
    for (const Condition& c : conditions)
        all += c.params;
    return all;
}

QString Query::select() const
{
    const QString condition = where();
    return QStringLiteral("SELECT ") + fieldList() + QStringLiteral(" FROM ") + from()
           + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition)
           + (orderBy.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + orderBy);
}

Query::Condition contains(const QString& column, const QString& word)
{
    // Escaped as the engine will read it: a lone surrogate becomes '?' in
    // UTF-8, and must stay that character rather than turn into a wildcard.
    return {quoteIdentifier(column) + QStringLiteral(" like ?"),
            {QLatin1Char('*') + escapeLikeWildcards(QString::fromUtf8(word.toUtf8())) + QLatin1Char('*')},
            column};
}

namespace {

QString sortOrder(const QStringList& fields, bool descending)
{
    QStringList terms;
    for (const QString& f : fields)
        terms << quoteIdentifier(f) + (descending ? QStringLiteral(" DESC") : QString());
    return terms.join(QStringLiteral(", "));
}

} // namespace

Query query(const NoteView& view)
{
    Query q;
    q.table = QStringLiteral("T_idea");
    q.fields = view.fields;
    using Notes = NoteView::Notes;
    switch (view.notes) {
    case Notes::All:
        break;
    case Notes::Category:
        q.conditions.push_back({QStringLiteral("bunID = ?"), {view.number}, {}});
        break;
    case Notes::Important:
        q.conditions.push_back({QStringLiteral("jyuyoCK = -1"), {}, {}});
        break;
    case Notes::Scheduled:
        // Written as the partial index that lists them is.
        q.conditions.push_back({QStringLiteral("kanryoCK = 0 AND kijitudate >= 1"), {}, {}});
        break;
    case Notes::Recent:
        q.orderBy = sortOrder({QStringLiteral("kousinDate"), QStringLiteral("kousinTime")}, true);
        break;
    case Notes::One:
        q.conditions.push_back({QStringLiteral("id = ?"), {view.number}, {}});
        break;
    }
    if (!view.titleWord.isEmpty())
        q.conditions.push_back(contains(QStringLiteral("title"), view.titleWord));
    if (!view.bodyWord.isEmpty())
        q.conditions.push_back(contains(QStringLiteral("naiyo"), view.bodyWord));
    if (!view.sortFields.isEmpty())
        q.orderBy = sortOrder(view.sortFields, view.descending);
    return q;
}

Query query(const CategoryView& view)
{
    Query q;
    q.table = QStringLiteral("T_bunrui");
    q.fields = view.fields;
    if (view.parent)
        q.conditions.push_back({QStringLiteral("oyabunID = ?"), {*view.parent}, {}});
    if (!view.nameWord.isEmpty())
        q.conditions.push_back(contains(QStringLiteral("bunrui"), view.nameWord));
    if (view.order == CategoryView::Order::ByNumber)
        q.orderBy = QStringLiteral("bunID");
    else if (view.order == CategoryView::Order::ByName)
        q.orderBy = QStringLiteral("bunrui");
    return q;
}

} // namespace zumilo::store::detail

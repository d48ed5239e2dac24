#include "recordset.h"

#include "error.h"
#include "jetsql.h"
#include "keyset.h"
#include "query.h"
#include "rowcache.h"
#include "sqltokens.h"
#include "statement.h"

#include <algorithm>
#include <sqlite3.h>
#include <unordered_map>
#include <unordered_set>

namespace zumilo::store {

using detail::Row;
using detail::Statement;

namespace {

QString firstWord(const QString& sql)
{
    const auto tokens = detail::tokenize(sql);
    if (tokens.empty() || tokens.front().type != detail::TokenType::Word)
        return {};
    return detail::tokenText(sql, tokens.front()).toString().toLower();
}

[[noreturn]] void noCurrent()
{
    throw StoreError(ErrorKind::NoCurrentRecord, QStringLiteral("no current row"));
}

} // namespace

struct Recordset::Impl {
    bool keyset = false; // rowids with rows fetched on demand; else all rows read
    bool readOnly = false;

    detail::Keyset set; // which rows, in which order, and their keys
    QString selectList;
    QString readAllSql; // a materialized set's statement

    int pos = -1;     // -1 BOF, count() EOF
    bool gap = false; // just deleted: between keys[pos - 1] and keys[pos]

    QStringList names;
    QHash<QString, int> byName; // case-folded names
    std::vector<ColumnType> types;
    std::vector<QString> baseColumns; // empty for computed fields

    detail::RowCache cache;
    std::vector<Row> rows; // materialized

    std::vector<QVariant> buffer;
    std::vector<bool> changed;
    qint64 editKey = 0;
    std::optional<qint64> lastModified;

    sqlite3* handle() const { return set.handle(); }
    int count() const { return set.count(); }
    qint64 key(int position) { return set.key(position); }
    bool onRow() const { return !gap && pos >= 0 && pos < count(); }

    void addField(const QString& name, const char* declared, const QString& base)
    {
        const int index = int(names.size());
        names << name;
        if (!byName.contains(name.toCaseFolded()))
            byName.insert(name.toCaseFolded(), index);
        types.push_back(ColumnType::fromDeclared(QString::fromUtf8(declared)));
        baseColumns.push_back(base);
    }

    bool openKeyset()
    {
        try {
            cache.open(handle(), selectList, set.from);
        } catch (const StoreError& e) {
            if (e.kind() == ErrorKind::Busy)
                throw;
            return false; // a view, or a table without rowids
        }
        if (!set.open(selectList)) {
            cache.close();
            return false;
        }

        sqlite3_stmt* s = cache.statement().get();
        for (int i = 0; i < sqlite3_column_count(s); ++i) {
            const char* origin = sqlite3_column_origin_name(s, i);
            const char* originTable = sqlite3_column_table_name(s, i);
            QString base;
            if (origin && originTable && QString::fromUtf8(originTable).compare(set.table, Qt::CaseInsensitive) == 0)
                base = QString::fromUtf8(origin);
            addField(QString::fromUtf8(sqlite3_column_name(s, i)), sqlite3_column_decltype(s, i), base);
        }
        keyset = true;
        return true;
    }

    void readAll(bool withFields)
    {
        Statement st(handle(), readAllSql);
        st.bindAll(set.params);
        const int n = st.columnCount();
        if (withFields) {
            for (int i = 0; i < n; ++i)
                addField(QString::fromUtf8(sqlite3_column_name(st.get(), i)), sqlite3_column_decltype(st.get(), i),
                         QString());
        }
        std::vector<Row> fresh;
        while (st.step()) {
            Row row;
            row.values.reserve(size_t(n));
            for (int i = 0; i < n; ++i)
                row.values.push_back(st.column(i));
            fresh.push_back(std::move(row));
        }
        rows = std::move(fresh);
        set.keys.resize(rows.size());
        for (size_t i = 0; i < set.keys.size(); ++i)
            set.keys[i] = qint64(i);
    }

    const Row& row(qint64 key)
    {
        if (!keyset) {
            static const Row gone{true, {}};
            return key >= 0 && size_t(key) < rows.size() ? rows[size_t(key)] : gone;
        }
        return cache.row(set, key);
    }

    const Row& rowAt(int position)
    {
        if (!keyset)
            return row(set.keys[size_t(position)]);
        return cache.rowAt(set, position);
    }

    const Row& currentRow()
    {
        handle();
        if (!onRow())
            noCurrent();
        const Row& r = row(key(pos));
        if (r.deleted)
            throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(key(pos)));
        return r;
    }

    // The display texts of `columns` from `sql` (rowid, then those columns,
    // in recordset order), for Recordset::columnTexts().
    std::vector<QString> columnTexts(const QString& sql, const QVariantList& binds, const std::vector<int>& columns,
                                     std::vector<int>* rowIndexes)
    {
        // The rows normally come back exactly as the keys run; only rows
        // changed since the keys were read need looking up.
        set.finishKeys();
        Statement st(handle(), sql);
        st.bindAll(binds);
        std::vector<QString> out;
        if (rowIndexes)
            rowIndexes->clear();
        out.reserve(size_t(count()) * columns.size());
        auto addTexts = [&](const std::vector<QVariant>& values) {
            for (size_t k = 0; k < columns.size(); ++k)
                out.push_back(displayTextOfStored(types[size_t(columns[k])], values[k]));
        };
        std::unordered_map<qint64, std::vector<QVariant>> strays;
        int next = 0; // the next key expected
        std::vector<QVariant> values(columns.size());
        while (st.step()) {
            for (size_t k = 0; k < columns.size(); ++k)
                values[k] = st.column(int(k) + 1);
            const qint64 key = st.columnInt(0);
            if (strays.empty() && next < count() && set.keys[size_t(next)] == key) {
                addTexts(values);
                if (rowIndexes)
                    rowIndexes->push_back(next);
                ++next;
            } else {
                strays.emplace(key, values);
            }
        }
        for (int i = next; i < count(); ++i) {
            auto it = strays.find(set.keys[size_t(i)]);
            if (it == strays.end())
                continue; // deleted meanwhile, or changed so that it no longer belongs
            addTexts(it->second);
            if (rowIndexes)
                rowIndexes->push_back(i);
        }
        return out;
    }

    int checkedIndex(int index) const
    {
        if (index < 0 || index >= names.size())
            throw StoreError(ErrorKind::UnknownField, QStringLiteral("field %1").arg(index));
        return index;
    }

    int checkedIndex(const QString& name) const
    {
        QString key = name.trimmed();
        if (key.startsWith(QLatin1Char('[')) && key.endsWith(QLatin1Char(']')))
            key = key.mid(1, key.size() - 2);
        const auto it = byName.constFind(key.toCaseFolded());
        if (it == byName.constEnd())
            throw StoreError(ErrorKind::UnknownField, name, name);
        return it.value();
    }
};

Recordset::Recordset(std::shared_ptr<Database> db, QString source, const QVariantList& params, RecordsetType type)
    : d_(std::make_unique<Impl>()), db_(std::move(db)), source_(std::move(source))
{
    Impl& d = *d_;
    d.set.db = db_.get();
    d.set.params = params;
    const QString s = detail::withoutTerminator(source_).trimmed();
    bool simple = false;
    const QString verb = firstWord(s);
    if (verb == QLatin1String("with") || verb == QLatin1String("values") || s.startsWith(QLatin1Char('('))) {
        d.readAllSql = s; // read whole, like any statement not over one table
    } else if (verb == QLatin1String("select")) {
        const auto parts = parseSelect(s);
        if (!parts || !parts->into.isEmpty())
            throw StoreError(ErrorKind::Syntax, s);
        d.set.table = singleTableName(parts->from);
        d.set.from = parts->from;
        d.set.where = parts->where;
        d.selectList = parts->selectList;
        simple = !d.set.table.isEmpty() && !parts->distinct && parts->groupBy.isEmpty() && parts->having.isEmpty()
                 && !parts->compound && !parts->hasAggregate;
        if (simple)
            d.set.setOrder(parts->orderBy);
        else
            d.set.orderBy = parts->orderBy;
        d.readAllSql = s;
    } else {
        const auto tokens = detail::tokenize(s);
        d.set.table = tokens.size() == 1 ? detail::identifierName(s, tokens.front()) : s;
        d.set.from = detail::quoteIdentifier(d.set.table);
        d.selectList = QStringLiteral("*");
        d.set.orderBy = d.set.keyOrder();
        d.readAllSql = QStringLiteral("SELECT * FROM ") + d.set.from;
        simple = true;
    }
    open(simple, type);
}

Recordset::Recordset(std::shared_ptr<Database> db, const detail::Query& query, RecordsetType type)
    : d_(std::make_unique<Impl>()), db_(std::move(db)), source_(query.select())
{
    Impl& d = *d_;
    d.set.db = db_.get();
    d.set.params = query.params();
    d.set.conditions = query.conditions;
    d.set.table = query.table;
    d.set.from = query.from();
    d.set.where = query.where();
    d.selectList = query.fieldList();
    d.set.setOrder(query.orderBy);
    d.readAllSql = source_;
    open(true, type);
}

void Recordset::open(bool simple, RecordsetType type)
{
    Impl& d = *d_;
    d.readOnly = type == RecordsetType::Snapshot;
    d.set.byRowid = simple && d.set.ordersByRowid();
    if (!simple || !d.openKeyset()) {
        d.readOnly = true;
        d.readAll(true);
    }
    d.pos = d.count() == 0 ? -1 : 0;
    db_->recordsets_.push_back(this);
}

Recordset::~Recordset()
{
    if (db_) {
        auto& list = db_->recordsets_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        db_->forgetRollback(this);
    }
}

void Recordset::keepForRollback()
{
    Impl& d = *d_;
    if (db_->transactionDepth_ == 0)
        return;
    d.set.finishKeys();
    for (const auto& action : db_->rollbackActions_) {
        if (action.first == this)
            return;
    }
    db_->onRollback(this, [this, keys = d.set.keys, pos = d.pos, gap = d.gap, lastModified = d.lastModified,
                           mode = editMode_, buffer = d.buffer, changed = d.changed, editKey = d.editKey] {
        Impl& r = *d_;
        r.set.keys = keys;
        r.pos = pos;
        r.gap = gap;
        r.lastModified = lastModified;
        r.buffer = buffer;
        r.changed = changed;
        r.editKey = editKey;
        r.cache.clear();
        editMode_ = mode;
    });
}

void Recordset::databaseClosed()
{
    d_->set.closed = true;
    d_->set.finishKeys(false);
    d_->cache.close();
    editMode_ = EditMode::None;
}

void Recordset::finishReading()
{
    d_->set.finishKeys();
}

// --- position -----------------------------------------------------------------

bool Recordset::isBOF() const
{
    return d_->count() == 0 || (!d_->gap && d_->pos < 0);
}

bool Recordset::isEOF() const
{
    return d_->count() == 0 || (!d_->gap && d_->pos >= d_->count());
}

bool Recordset::hasCurrent() const
{
    if (d_->set.closed || !d_->onRow())
        return false;
    // A row that cannot be read throws: it is neither there nor gone.
    return !d_->row(d_->key(d_->pos)).deleted;
}

void Recordset::moveTo(int position)
{
    // As with DAO, moving away gives up a pending edit.
    if (editMode_ != EditMode::None)
        cancelUpdate();
    Impl& d = *d_;
    d.gap = false;
    d.pos = std::clamp(position, -1, d.count());
    // The row that becomes current is read afresh, not from the cache.
    if (d.onRow() && d.keyset)
        d.cache.forget(d.key(d.pos));
}

void Recordset::moveFirst()
{
    moveTo(d_->count() == 0 ? -1 : 0);
}

void Recordset::moveLast()
{
    moveTo(d_->count() - 1);
}

void Recordset::moveNext()
{
    if (d_->gap)
        moveTo(d_->pos);
    else if (d_->pos < d_->count())
        moveTo(d_->pos + 1);
}

void Recordset::movePrevious()
{
    if (d_->gap || d_->pos >= 0)
        moveTo(d_->pos - 1);
}

int Recordset::recordCount() const
{
    return d_->count();
}

int Recordset::absolutePosition() const
{
    return d_->onRow() ? d_->pos : -1;
}

void Recordset::setAbsolutePosition(int position)
{
    moveTo(position);
}

bool Recordset::findFirst(const QString& criterion)
{
    Impl& d = *d_;
    sqlite3* h = d.handle();
    if (!d.keyset)
        throw StoreError(ErrorKind::Other, QStringLiteral("find needs a recordset over one table"));
    Statement st(h, QStringLiteral("SELECT rowid FROM ") + d.set.from + QStringLiteral(" WHERE (") + criterion
                        + QStringLiteral(")"));
    std::unordered_set<qint64> hits;
    while (st.step())
        hits.insert(st.columnInt(0));
    if (!hits.empty()) {
        const std::vector<qint64>& keys = d.set.allKeys();
        for (size_t i = 0; i < keys.size(); ++i) {
            if (hits.count(keys[i])) {
                moveTo(int(i));
                noMatch_ = false;
                return true;
            }
        }
    }
    noMatch_ = true;
    return false;
}

Bookmark Recordset::bookmark() const
{
    if (!d_->onRow())
        noCurrent();
    return d_->key(d_->pos);
}

void Recordset::setBookmark(Bookmark bookmark)
{
    Impl& d = *d_;
    d.handle();
    const std::vector<qint64>& keys = d.set.allKeys();
    const auto it = std::find(keys.begin(), keys.end(), bookmark);
    if (it == keys.end())
        throw StoreError(ErrorKind::RowDeleted, QStringLiteral("no row %1 here").arg(bookmark));
    if (d.keyset)
        d.cache.forget(bookmark);
    if (d.row(bookmark).deleted)
        throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(bookmark));
    moveTo(int(it - keys.begin()));
}

Bookmark Recordset::lastModified() const
{
    if (!d_->lastModified)
        noCurrent();
    return *d_->lastModified;
}

// --- fields ---------------------------------------------------------------------

int Recordset::fieldCount() const
{
    return int(d_->names.size());
}

QString Recordset::fieldName(int index) const
{
    return d_->names.at(d_->checkedIndex(index));
}

int Recordset::fieldIndex(const QString& name) const
{
    try {
        return d_->checkedIndex(name);
    } catch (const StoreError&) {
        return -1;
    }
}

ColumnType Recordset::fieldType(int index) const
{
    return d_->types[size_t(d_->checkedIndex(index))];
}

QVariant Recordset::value(const QString& name) const
{
    return value(d_->checkedIndex(name));
}

QVariant Recordset::value(int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    if (editMode_ != EditMode::None)
        return fromStorage(d.types[i], d.buffer[i]);
    return fromStorage(d.types[i], d.currentRow().values.at(i));
}

QString Recordset::text(const QString& name) const
{
    return displayText(value(name));
}

std::optional<qint64> Recordset::integer(const QString& name) const
{
    const QVariant v = value(name);
    if (v.isNull())
        return std::nullopt;
    if (isIntegerType(v.typeId()) || v.typeId() == QMetaType::Bool)
        return v.typeId() == QMetaType::Bool ? (v.toBool() ? -1 : 0) : v.toLongLong();
    throw StoreError(ErrorKind::TypeMismatch, QStringLiteral("not a whole number: %1").arg(v.toString()),
                     fieldName(d_->checkedIndex(name)));
}

QVariant Recordset::valueAt(int row, int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    if (row < 0 || row >= d.count())
        return {};
    const Row& r = d.rowAt(row);
    if (r.deleted || i >= r.values.size())
        return {};
    return fromStorage(d.types[i], r.values[i]);
}

QString Recordset::textAt(int row, int index) const
{
    return displayText(valueAt(row, index));
}

std::vector<QString> Recordset::columnTexts(const QStringList& fields, std::vector<int>* rowIndexes) const
{
    Impl& d = *d_;
    std::vector<int> columns;
    for (const QString& f : fields)
        columns.push_back(d.checkedIndex(f));
    if (rowIndexes)
        rowIndexes->clear();
    if (!d.keyset)
        return fallbackColumnTexts(columns, rowIndexes);
    // Only the wanted fields, in one statement: far less to read than whole rows.
    QStringList list;
    for (int c : columns) {
        const QString& base = d.baseColumns[size_t(c)];
        if (base.isEmpty())
            return fallbackColumnTexts(columns, rowIndexes);
        list << detail::quoteIdentifier(base);
    }
    std::vector<QString> out;
    d.set.withCondition([&](const detail::IndexedWhere& w, bool) {
        out = d.columnTexts(d.set.overRows(QStringLiteral("SELECT rowid, ") + list.join(QStringLiteral(", ")), w.where),
                            w.params, columns, rowIndexes);
    });
    return out;
}

std::vector<QString> Recordset::fallbackColumnTexts(const std::vector<int>& columns, std::vector<int>* rowIndexes) const
{
    std::vector<QString> out;
    for (int i = 0; i < d_->count(); ++i) {
        if (isRowDeleted(i))
            continue;
        for (int c : columns)
            out.push_back(textAt(i, c));
        if (rowIndexes)
            rowIndexes->push_back(i);
    }
    return out;
}

bool Recordset::isRowDeleted(int row) const
{
    Impl& d = *d_;
    if (row < 0 || row >= d.count())
        return true;
    return d.rowAt(row).deleted;
}

Bookmark Recordset::bookmarkAt(int row) const
{
    Impl& d = *d_;
    return row >= 0 && row < d.count() ? d.key(row) : 0;
}

QString Recordset::textOf(Bookmark bookmark, int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    const Row& r = d.row(bookmark);
    if (r.deleted || i >= r.values.size())
        return {};
    return displayText(fromStorage(d.types[i], r.values[i]));
}

bool Recordset::isRowidField(const QString& name) const
{
    Impl& d = *d_;
    const int i = fieldIndex(name);
    if (!d.keyset || i < 0 || d.baseColumns[size_t(i)].isEmpty())
        return false;
    return d.baseColumns[size_t(i)].toCaseFolded() == detail::rowidColumn(d.handle(), d.set.table);
}

// --- editing --------------------------------------------------------------------

void Recordset::requireUpdatable(bool onRow) const
{
    d_->handle();
    if (!isUpdatable())
        throw StoreError(ErrorKind::NotUpdatable, source_);
    if (onRow && !d_->onRow())
        noCurrent();
}

bool Recordset::isUpdatable() const
{
    return d_->keyset && !d_->readOnly && !d_->set.closed;
}

void Recordset::addNew()
{
    Impl& d = *d_;
    requireUpdatable(false);
    d.buffer.assign(d.names.size(), QVariant());
    d.changed.assign(d.names.size(), false);
    editMode_ = EditMode::AddNew;
}

void Recordset::edit()
{
    Impl& d = *d_;
    requireUpdatable(true);
    // Start from what is stored now, not from what this window last saw.
    d.cache.forget(d.key(d.pos));
    const Row& r = d.currentRow();
    d.buffer = r.values;
    d.changed.assign(d.names.size(), false);
    d.editKey = d.key(d.pos);
    editMode_ = EditMode::Edit;
}

void Recordset::setValue(const QString& name, const QVariant& value)
{
    Impl& d = *d_;
    d.handle();
    if (editMode_ == EditMode::None)
        throw StoreError(ErrorKind::Other, QStringLiteral("no edit or new row pending"), name);
    const size_t i = size_t(d.checkedIndex(name));
    if (d.baseColumns[i].isEmpty())
        throw StoreError(ErrorKind::NotUpdatable, QStringLiteral("computed field"), d.names.at(qsizetype(i)));
    // Converted now, so that a bad value fails here and not at update().
    QVariant stored = toStorage(d.types[i], value, d.names.at(qsizetype(i)), d.set.db->today());
    d.buffer[i] = std::move(stored);
    d.changed[i] = true;
}

void Recordset::setText(const QString& name, const QString& text)
{
    setValue(name, valueFromText(text));
}

void Recordset::update()
{
    Impl& d = *d_;
    d.handle();
    if (editMode_ == EditMode::None)
        throw StoreError(ErrorKind::Other, QStringLiteral("no edit or new row pending"));
    d.set.finishKeys();

    // One assignment per column, the field set last winning.
    QStringList columns;
    QVariantList values;
    for (size_t i = 0; i < d.changed.size(); ++i) {
        if (!d.changed[i])
            continue;
        const QString column = d.baseColumns[i];
        const qsizetype at = columns.indexOf(column, 0);
        if (at >= 0) {
            values[at] = d.buffer[i];
        } else {
            columns << column;
            values << d.buffer[i];
        }
    }
    const QString table = detail::quoteIdentifier(d.set.table);
    keepForRollback();

    if (editMode_ == EditMode::Edit) {
        if (!columns.isEmpty()) {
            QStringList sets;
            for (const QString& c : columns)
                sets << detail::quoteIdentifier(c) + QStringLiteral(" = ?");
            values << d.editKey;
            qint64 newKey = d.editKey;
            // The key may change with the field behind the rowid (id of T_idea).
            const int n = d.set.db->run(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ")
                                            + sets.join(QStringLiteral(", "))
                                            + QStringLiteral(" WHERE rowid = ? RETURNING rowid"),
                                        values, &newKey);
            if (n == 0) {
                d.cache.forget(d.editKey);
                throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(d.editKey));
            }
            d.cache.forget(d.editKey);
            if (newKey != d.editKey)
                std::replace(d.set.keys.begin(), d.set.keys.end(), d.editKey, newKey);
            d.editKey = newKey;
        }
        d.lastModified = d.editKey;
    } else {
        QString sql;
        if (columns.isEmpty()) {
            sql = QStringLiteral("INSERT INTO ") + table + QStringLiteral(" DEFAULT VALUES");
        } else {
            QStringList quoted;
            for (const QString& c : columns)
                quoted << detail::quoteIdentifier(c);
            sql = QStringLiteral("INSERT INTO ") + table + QLatin1Char('(') + quoted.join(QLatin1Char(','))
                  + QStringLiteral(") VALUES(")
                  + QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
        }
        qint64 rowid = 0;
        d.set.db->run(sql, values, &rowid);
        const bool atEnd = !d.gap && d.pos >= d.count();
        d.set.keys.push_back(rowid);
        if (atEnd)
            d.pos = d.count();
        d.lastModified = rowid;
    }
    editMode_ = EditMode::None;
    d.buffer.clear();
    d.changed.clear();
}

void Recordset::cancelUpdate()
{
    editMode_ = EditMode::None;
    d_->buffer.clear();
    d_->changed.clear();
}

void Recordset::deleteCurrent()
{
    Impl& d = *d_;
    requireUpdatable(true);
    keepForRollback();
    cancelUpdate();
    d.set.finishKeys();
    const qint64 key = d.set.keys[size_t(d.pos)];
    // A row another window deleted first is just as gone.
    d.set.db->run(QStringLiteral("DELETE FROM ") + detail::quoteIdentifier(d.set.table)
                      + QStringLiteral(" WHERE rowid = ?"),
                  {key});
    d.cache.forget(key);
    d.set.keys.erase(d.set.keys.begin() + d.pos);
    d.gap = true;
}

void Recordset::include(Bookmark rowid)
{
    Impl& d = *d_;
    requireUpdatable(false);
    d.set.finishKeys();
    if (std::find(d.set.keys.begin(), d.set.keys.end(), rowid) != d.set.keys.end())
        return;
    const bool atEnd = !d.gap && d.pos >= d.count();
    d.set.keys.push_back(rowid);
    if (atEnd)
        d.pos = d.count();
}

void Recordset::requery()
{
    Impl& d = *d_;
    d.handle();
    cancelUpdate();
    d.cache.clear();
    if (d.keyset)
        d.set.readKeys();
    else
        d.readAll(false);
    d.gap = false;
    d.pos = d.count() == 0 ? -1 : 0;
}

} // namespace zumilo::store
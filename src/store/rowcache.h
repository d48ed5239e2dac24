#pragma once

#include "statement.h"

#include <QString>
#include <QVariant>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;

namespace zumilo::store::detail {

class Keyset;

struct Row {
    bool deleted = false;
    std::vector<QVariant> values; // as stored
};

// The rows of a set over one table read last, by key, the least recently
// used forgotten first. A row not kept is read when wanted: by its key
// alone, or, wanted by its position, with the rows after it.
class RowCache {
public:
    // Rows kept after reading: several screenfuls of a grid.
    static constexpr size_t Capacity = 1024;
    // Rows read together when rows are asked for by position: each statement
    // takes the file's read lock once, which costs far more than reading a row.
    static constexpr int BlockSize = 64;

    // Prepares reading the fields of `selectList` from `from` by rowid;
    // throws when the list cannot be read so (a view, a table without rowids).
    void open(sqlite3* db, const QString& selectList, const QString& from);
    // The statement that reads a row, which names its fields.
    const Statement& statement() const { return fetch_; }
    // Releases the statements and forgets every row.
    void close();

    const Row& row(const Keyset& set, qint64 key);
    const Row& rowAt(Keyset& set, int position);

    void forget(qint64 key)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return;
        order_.erase(it->second.second);
        map_.erase(it);
    }

    void clear()
    {
        map_.clear();
        order_.clear();
    }

private:
    const Row* find(qint64 key)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, it->second.second);
        return &it->second.first;
    }

    const Row& insert(qint64 key, Row row)
    {
        forget(key);
        if (map_.size() >= Capacity) {
            map_.erase(order_.back());
            order_.pop_back();
        }
        order_.push_front(key);
        auto [it, inserted] = map_.emplace(key, std::make_pair(std::move(row), order_.begin()));
        Q_UNUSED(inserted);
        return it->second.first;
    }

    QString selectList_;
    Statement fetch_;
    Statement blockFetch_;    // rowid plus the fields, for BlockSize rowids at once
    std::list<qint64> order_; // most recent first
    std::unordered_map<qint64, std::pair<Row, std::list<qint64>::iterator>> map_;
};

} // namespace zumilo::store::detail

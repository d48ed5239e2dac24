#pragma once

#include <QVariant>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zumilo::store::detail {

struct Row {
    bool deleted = false;
    std::vector<QVariant> values; // as stored
};

// The rows of a set read last, by key, the least recently used forgotten
// first.
class RowCache {
public:
    // Rows kept after reading: several screenfuls of a grid.
    static constexpr size_t Capacity = 1024;

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
    std::list<qint64> order_; // most recent first
    std::unordered_map<qint64, std::pair<Row, std::list<qint64>::iterator>> map_;
};

} // namespace zumilo::store::detail

#include "keyreader.h"

#include "error.h"
#include "searchindex.h"
#include "statement.h"

#include <algorithm>
#include <sqlite3.h>

namespace zumilo::store::detail {

namespace {

std::function<void(KeyReadStep)>& keyReadHook()
{
    static std::function<void(KeyReadStep)> hook;
    return hook;
}

} // namespace

void setKeyReadHook(std::function<void(KeyReadStep)> hook)
{
    keyReadHook() = std::move(hook);
}

void sortRowids(std::vector<qint64>& keys)
{
    if (keys.size() < 2)
        return;
    const auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
    const qint64 low = *lo;
    // Compared before counting the last number: a span of every rowid
    // would count as none.
    const quint64 last = quint64(*hi) - quint64(low);
    if (last >= quint64(keys.size()) * 16) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    const quint64 span = last + 1;
    std::vector<bool> present(span);
    for (qint64 k : keys)
        present[size_t(quint64(k) - quint64(low))] = true;
    size_t n = 0;
    for (size_t i = 0; i < span; ++i) {
        if (present[i])
            keys[n++] = qint64(quint64(low) + i);
    }
}

KeyReader::KeyReader(sqlite3* db, QString sql, QVariantList params, bool sorted, bool index) : db_(db)
{
    if (index)
        index_ = std::make_unique<SearchIndex>(db);
    thread_ = std::thread([this, sql = std::move(sql), params = std::move(params), sorted] {
        try {
            read(sql, params, sorted);
        } catch (...) {
            result_.reset(); // out of memory: read again where waited for
        }
        if (keyReadHook())
            keyReadHook()(KeyReadStep::Read);
    });
}

KeyReader::~KeyReader()
{
    stop_ = true;
    sqlite3_interrupt(db_);
    wait();
    index_.reset();
    sqlite3_close_v2(db_);
}

std::optional<std::vector<qint64>> KeyReader::take()
{
    if (thread_.joinable() && keyReadHook())
        keyReadHook()(KeyReadStep::Wait);
    wait();
    return std::move(result_);
}

void KeyReader::wait()
{
    if (thread_.joinable())
        thread_.join();
}

void KeyReader::read(const QString& sql, const QVariantList& params, bool sorted)
{
    Statement st;
    try {
        st = Statement(db_, sql);
        st.bindAll(params);
    } catch (const StoreError&) {
        return;
    }
    sqlite3_stmt* s = st.get();
    // The index is looked at in the same read as the rows.
    if (index_ && (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK || !index_->inStep()))
        return; // the destructor's close ends the read
    std::vector<qint64> keys;
    int rc = SQLITE_INTERRUPT;
    while (!stop_ && (rc = sqlite3_step(s)) == SQLITE_ROW)
        keys.push_back(sqlite3_column_int64(s, 0));
    st.finalize();
    if (index_)
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_DONE)
        return;
    if (sorted)
        sortRowids(keys);
    result_ = std::move(keys);
}

} // namespace zumilo::store::detail

#pragma once

#include <QString>
#include <QVariantList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;

namespace zumilo::store::detail {

class SearchIndex;

// Steps of reading a set's keys on another thread, for tests that order
// them: Read on that thread once the keys are read, Wait on the set's
// thread before it waits for them. No hook unless set, and set only while
// no set is open.
enum class KeyReadStep { Read, Wait };
void setKeyReadHook(std::function<void(KeyReadStep)> hook);

// Puts distinct rowids in ascending order; a dense run through a bitmap.
void sortRowids(std::vector<qint64>& keys);

// Reads the keys of a set on a connection and a thread of their own. With
// `index`, the statement reads the search index, which must be in step.
class KeyReader {
public:
    KeyReader(sqlite3* db, QString sql, QVariantList params, bool sorted, bool index = false);
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // Waits for the keys; nothing when they could not be read.
    std::optional<std::vector<qint64>> take();

private:
    void wait();
    void read(const QString& sql, const QVariantList& params, bool sorted);

    sqlite3* db_;
    std::unique_ptr<SearchIndex> index_;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
    std::optional<std::vector<qint64>> result_;
};

} // namespace zumilo::store::detail

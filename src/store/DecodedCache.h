#pragma once

#include <QImage>

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>

// Decoded frames kept for the next read, least recently used dropped first
// once their bytes pass the budget. A frame larger than the whole budget is
// not kept. Thread-safe.
class DecodedCache {
public:
    std::optional<QImage> find(uint64_t id);
    void insert(uint64_t id, const QImage &image);
    void setBudget(int64_t bytes);
    int64_t budget() const;
    int64_t bytes() const;
    void clear();

private:
    void trim(); // with m_mutex held

    mutable std::mutex m_mutex;
    int64_t m_budget = 0;
    int64_t m_bytes = 0;
    std::list<std::pair<uint64_t, QImage>> m_order; // most recent first
    std::unordered_map<uint64_t, std::list<std::pair<uint64_t, QImage>>::iterator> m_where;
};

#include "store/DecodedCache.h"

std::optional<QImage> DecodedCache::find(uint64_t id)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_where.find(id);
    if (it == m_where.end())
        return std::nullopt;
    m_order.splice(m_order.begin(), m_order, it->second);
    return it->second->second;
}

void DecodedCache::insert(uint64_t id, const QImage &image)
{
    std::lock_guard lock(m_mutex);
    if (image.sizeInBytes() > m_budget)
        return;
    const auto it = m_where.find(id);
    if (it != m_where.end()) {
        m_order.splice(m_order.begin(), m_order, it->second);
        return;
    }
    m_order.emplace_front(id, image);
    m_where[id] = m_order.begin();
    m_bytes += image.sizeInBytes();
    trim();
}

void DecodedCache::setBudget(int64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_budget = bytes;
    trim();
}

int64_t DecodedCache::budget() const
{
    std::lock_guard lock(m_mutex);
    return m_budget;
}

int64_t DecodedCache::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void DecodedCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_order.clear();
    m_where.clear();
    m_bytes = 0;
}

void DecodedCache::trim()
{
    while (m_bytes > m_budget && !m_order.empty()) {
        m_bytes -= m_order.back().second.sizeInBytes();
        m_where.erase(m_order.back().first);
        m_order.pop_back();
    }
}

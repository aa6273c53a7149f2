#include "net/TBuffer.h"

#include <algorithm>
#include <cstring>

namespace sitowiak::net {

TBuffer::TBuffer(std::int32_t capacity) {
    SetBufSize(capacity);
}

std::int32_t TBuffer::Write(const void* data, std::int32_t len) {
    const std::int32_t count = std::min(len, m_capacity - m_wrCount);
    if (count <= 0) return 0;
    std::memcpy(m_data.get() + m_wrCount, data, static_cast<std::size_t>(count));
    m_wrCount += count;
    return count;
}

const std::uint8_t* TBuffer::Peek(std::int32_t& len) const {
    len = m_wrCount - m_rdCount;
    return len > 0 ? m_data.get() + m_rdCount : nullptr;
}

std::int32_t TBuffer::Remove(std::int32_t count) {
    const std::int32_t removed = std::clamp(count, 0, m_wrCount - m_rdCount);
    m_rdCount += removed;
    if (m_rdCount == m_wrCount) m_rdCount = m_wrCount = 0;
    return removed;
}

void TBuffer::SetBufSize(std::int32_t capacity) {
    if (capacity <= 0) capacity = kDefaultBufSize;
    if (capacity == m_capacity) return;
    auto fresh = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(capacity));
    if (m_wrCount > m_rdCount) {
        // Shrinking below the written bytes would break the invariant; keep
        // what fits (the socket never shrinks a block that holds data).
        m_wrCount = std::min(m_wrCount, capacity);
        m_rdCount = std::min(m_rdCount, m_wrCount);
        std::memcpy(fresh.get(), m_data.get(), static_cast<std::size_t>(m_wrCount));
    } else {
        m_wrCount = m_rdCount = 0;
    }
    m_data = std::move(fresh);
    m_capacity = capacity;
}

}  // namespace sitowiak::net

#include "net/SendQueue.h"

namespace sitowiak::net {

void SendQueue::Append(const void* data, std::int32_t len) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (m_blocks.empty()) m_blocks.emplace_back(m_blockSize);
    std::int32_t done = m_blocks.back().Write(bytes, len);
    while (done < len) {
        m_blocks.emplace_back(m_blockSize);
        done += m_blocks.back().Write(bytes + done, len - done);
    }
}

const std::uint8_t* SendQueue::Front(std::int32_t& len) const {
    len = 0;
    return m_blocks.empty() ? nullptr : m_blocks.front().Peek(len);
}

void SendQueue::Consume(std::int32_t n) {
    if (!m_blocks.empty()) m_blocks.front().Remove(n);
}

bool SendQueue::AdvanceDrained() {
    while (!m_blocks.empty()) {
        std::int32_t len = 0;
        if (m_blocks.front().Peek(len) != nullptr) return true;
        if (m_blocks.size() == 1) return false;
        m_blocks.pop_front();
    }
    return false;
}

std::int64_t SendQueue::PendingBytes() const {
    std::int64_t total = 0;
    for (const TBuffer& b : m_blocks) total += b.WrCount() - b.RdCount();
    return total;
}

}  // namespace sitowiak::net

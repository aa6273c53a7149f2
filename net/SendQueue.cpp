#include "net/SendQueue.h"

namespace sitowiak::net {

void SendQueue::Append(const void* data, std::int32_t len) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_pending += len;
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
    if (!m_blocks.empty()) m_pending -= m_blocks.front().Remove(n);
}

int SendQueue::Gather(iovec* runs, int max) const {
    int count = 0;
    for (const TBuffer& block : m_blocks) {
        if (count == max) break;
        std::int32_t len = 0;
        const std::uint8_t* data = block.Peek(len);
        if (len == 0) continue;
        runs[count].iov_base = const_cast<std::uint8_t*>(data);
        runs[count].iov_len = static_cast<std::size_t>(len);
        ++count;
    }
    return count;
}

void SendQueue::ConsumeAcross(std::int64_t n) {
    while (n > 0 && !m_blocks.empty()) {
        std::int32_t len = 0;
        m_blocks.front().Peek(len);
        const std::int32_t take = n < len ? static_cast<std::int32_t>(n) : len;
        m_pending -= m_blocks.front().Remove(take);
        n -= take;
        if (take == len && m_blocks.size() > 1) m_blocks.pop_front();
        if (len == 0 && m_blocks.size() == 1) break;
    }
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

}  // namespace sitowiak::net

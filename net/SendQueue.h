// A socket's send queue: blocks of one fixed size, oldest first. Append
// fills the last block and then adds blocks; the writer takes bytes from the
// front of the first block, so a partial network write copies nothing.
#pragma once

#include <cstdint>
#include <list>

#include <sys/uio.h>

#include "net/TBuffer.h"

namespace sitowiak::net {

class SendQueue {
public:
    explicit SendQueue(std::int32_t blockSize = TBuffer::kDefaultBufSize)
        : m_blockSize(blockSize) {}

    void Append(const void* data, std::int32_t len);
    // The unread bytes of the first block (nullptr, 0 when it has none).
    const std::uint8_t* Front(std::int32_t& len) const;
    // Marks n bytes of the first block as written.
    void Consume(std::int32_t n);
    // The unread runs of up to max blocks, oldest first, for one gathered
    // write; returns how many were filled.
    int Gather(iovec* runs, int max) const;
    // Marks n bytes as written across blocks, dropping drained blocks
    // except the last one.
    void ConsumeAcross(std::int64_t n);
    // Drops the first block when it is drained and others follow. Returns
    // false when nothing more waits (the last block is kept for reuse).
    bool AdvanceDrained();
    void Clear() {
        m_blocks.clear();
        m_pending = 0;
    }

    bool HasBlocks() const { return !m_blocks.empty(); }
    std::size_t BlockCount() const { return m_blocks.size(); }
    std::int64_t PendingBytes() const { return m_pending; }

private:
    std::list<TBuffer> m_blocks;
    std::int32_t m_blockSize;
    std::int64_t m_pending = 0;  // unread bytes in all blocks
};

}  // namespace sitowiak::net

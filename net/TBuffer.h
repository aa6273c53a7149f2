// One block of a socket's send queue: fixed storage written from the front
// and read from the front.
//
//   0          read count      write count        capacity
//   | consumed | unread bytes  | free room         |
//
// Invariant: 0 <= read count <= write count <= capacity. When the read count
// reaches the write count both go back to 0, so a drained block is written
// again from its start. Write and Remove never move stored bytes; only
// SetBufSize reallocates (and so invalidates pointers from Peek).
#pragma once

#include <cstdint>
#include <memory>

namespace sitowiak::net {

class TBuffer {
public:
    // The capacity used when none (or one of 0 or less) is given.
    static constexpr std::int32_t kDefaultBufSize = 1514;

    explicit TBuffer(std::int32_t capacity = kDefaultBufSize);

    // Copies as many of len bytes as there is room for; returns the count
    // (0 when the block is full).
    std::int32_t Write(const void* data, std::int32_t len);
    // The first unread byte and the unread count; nullptr and 0 when empty.
    const std::uint8_t* Peek(std::int32_t& len) const;
    // Marks up to count unread bytes as consumed; returns how many.
    std::int32_t Remove(std::int32_t count);
    // Changes the capacity, keeping the written bytes when some are unread.
    // Invalidates pointers from Peek.
    void SetBufSize(std::int32_t capacity);

    std::int32_t BufSize() const { return m_capacity; }
    std::int32_t WrCount() const { return m_wrCount; }
    std::int32_t RdCount() const { return m_rdCount; }

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::int32_t m_capacity = 0;
    std::int32_t m_wrCount = 0;
    std::int32_t m_rdCount = 0;
};

}  // namespace sitowiak::net

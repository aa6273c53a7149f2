// TBuforDyn: the growable byte buffer in which a reader connection collects
// one direction of traffic. The storage block always has at least
// Length + ReserveSize + 1 bytes:
//
//   Data                Data+Length           Data+Length+2048
//   |     content       |   spare room (2048)  | NUL |
//   |<---- Length ----->|<-- ReserveSize() --->|     |
//   |<-------------- Capacity ---------------->|
//
// A socket read places up to ReserveSize() bytes (up to n after Reserve(n))
// straight into the spare room at Data()+Length() and then calls Grow(count). Grow and ResizeGap
// write a NUL at Data()[Length()], so the content can be searched as a
// NUL-terminated text; SetLength alone does not.
//
// A block that must grow grows by at least half its size, so that a reply
// held over thousands of 2048-byte reads is not reallocated at every read;
// a length that falls below a quarter of the block shrinks it to exactly
// Length + ReserveSize + 1 (SetLength(0) after forwarding a large reply
// gives the memory back), and so does an empty one: a buffer that has
// passed everything on holds its first 2049 bytes again, which is what
// an idle reader's buffers cost. Any change of length may move the block: Data()
// and any pointer into it are invalid after SetLength, Grow and ResizeGap.
// Keep offsets.
//
// Blocks of kMapThreshold bytes and more are mapped pages of their own, not
// heap memory: growing one remaps its pages instead of copying the content
// (so it grows by an eighth, and a held reply costs little more than its
// size at the peak), and shrinking or freeing it gives the pages back to the
// system at once, where the heap would keep them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sitowiak::filter {

class TBuforDyn {
public:
    TBuforDyn();  // Length 0, a block of 2049 bytes whose contents are undefined
    virtual ~TBuforDyn();
    TBuforDyn(const TBuforDyn&) = delete;
    TBuforDyn& operator=(const TBuforDyn&) = delete;

    // The spare room kept behind the content: 2048.
    static constexpr int32_t ReserveSize() { return 2048; }

    char* Data() const { return m_data; }
    int32_t Capacity() const { return m_capacity; }
    int32_t Length() const { return m_capacity - ReserveSize(); }

    // Capacity := n + 2048; reallocates the block to n + 2049 bytes, keeping
    // its first bytes. Does not write the NUL. May move Data. Throws
    // std::bad_alloc (buffer unchanged) when the block cannot be had;
    // shrinking never fails.
    void SetLength(int32_t n);
    // SetLength(Length + n), then Data[Length] := 0. Returns Data. May move Data.
    char* Grow(int32_t n);
    // Widens the spare room to at least n bytes (the length stays), so that
    // a read of up to n bytes can land behind the content and Grow(count)
    // then keeps the block where it is. Grows the block as SetLength does;
    // may move Data. Throws std::bad_alloc (buffer unchanged).
    void Reserve(int32_t n);
    // Replaces the stretch [a, b) of the content by (b - a) + n bytes: moves
    // the content from b to the end by n bytes and changes the length by n.
    // With n > 0 the n bytes at b .. b+n-1 are undefined until the caller
    // fills them. Returns the position of a in the block after the change
    // (Data may have moved). Writes the NUL at Data[Length].
    char* ResizeGap(char* a, char* b, int32_t n);
    // Appends `n` bytes from `bytes` behind the content. May move Data.
    void Append(const char* bytes, int32_t n);
    // Removes the first `n` bytes of the content, keeping the rest in order.
    void DropFront(int32_t n);

    // The bytes the block takes: what this buffer costs in memory.
    size_t BlockSize() const { return m_blockSize; }
    // Blocks at least this large are mapped pages (see above).
    static constexpr size_t kMapThreshold = 1 << 20;
    // The largest block any buffer may take; a larger one fails as an
    // exhausted memory does (std::bad_alloc). Unlimited unless set: a test
    // sets it to make allocations fail where it wants them to.
    static void SetBlockLimit(size_t bytes);

private:
    // Gives the block at least `needed` bytes, growing by at least half of
    // it; `exact` makes the block exactly that size (shrinking).
    void ResizeBlock(size_t needed, bool exact);
    // Moves the content into a block of `size` bytes (rounded up to whole
    // pages when mapped) and frees the old one; false, changing nothing,
    // when it cannot be had.
    bool Reallocate(size_t& size);

    int32_t m_capacity = 0;
    char* m_data = nullptr;
    size_t m_blockSize = 0;  // bytes allocated, at least Capacity + 1
    bool m_mapped = false;   // the block is mapped pages, not heap memory
};

}  // namespace sitowiak::filter

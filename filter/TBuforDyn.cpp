#include "TBuforDyn.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace sitowiak::filter {

TBuforDyn::TBuforDyn() {
    m_data = nullptr;
    SetLength(0);
}

TBuforDyn::~TBuforDyn() {
    std::free(m_data);
}

void TBuforDyn::SetLength(int32_t n) {
    if (n < 0 || n > std::numeric_limits<int32_t>::max() - ReserveSize() - 1)
        throw std::bad_alloc();
    size_t needed = static_cast<size_t>(n) + ReserveSize() + 1;
    if (needed > m_blockSize)
        ResizeBlock(needed, false);
    else if (needed < m_blockSize / 4)
        ResizeBlock(needed, true);
    m_capacity = n + ReserveSize();
}

void TBuforDyn::Reserve(int32_t n) {
    if (n <= ReserveSize()) return;
    if (n > std::numeric_limits<int32_t>::max() - Capacity() - 1) throw std::bad_alloc();
    size_t needed = static_cast<size_t>(Length()) + static_cast<size_t>(n) + ReserveSize() + 1;
    if (needed > m_blockSize) ResizeBlock(needed, false);
}

void TBuforDyn::ResizeBlock(size_t needed, bool exact) {
    size_t blockSize = exact ? needed : std::max(needed, m_blockSize + m_blockSize / 2);
    void* block = std::realloc(m_data, blockSize);
    if (block == nullptr && blockSize > needed) block = std::realloc(m_data, blockSize = needed);
    if (block != nullptr) {
        m_data = static_cast<char*>(block);
        m_blockSize = blockSize;
    } else if (needed > m_blockSize) {
        throw std::bad_alloc();
    }
    // A failed shrink leaves the larger block, which still serves.
}

char* TBuforDyn::Grow(int32_t n) {
    SetLength(Length() + n);
    m_data[Length()] = 0;
    return m_data;
}

void TBuforDyn::Append(const char* bytes, int32_t n) {
    if (n <= 0) return;
    int32_t old = Length();
    Grow(n);
    std::memcpy(m_data + old, bytes, static_cast<size_t>(n));
}

void TBuforDyn::DropFront(int32_t n) {
    if (n > 0) ResizeGap(m_data, m_data + n, -n);
}

char* TBuforDyn::ResizeGap(char* a, char* b, int32_t n) {
    ptrdiff_t offsetA = a - m_data;
    ptrdiff_t offsetB = b - m_data;
    size_t tail = static_cast<size_t>(Length() - offsetB);
    if (n > 0) {
        Grow(n);
        std::memmove(m_data + offsetB + n, m_data + offsetB, tail);
    } else if (n < 0) {
        std::memmove(m_data + offsetB + n, m_data + offsetB, tail);
        Grow(n);
    }
    m_data[Length()] = 0;
    return m_data + offsetA;
}

}  // namespace sitowiak::filter

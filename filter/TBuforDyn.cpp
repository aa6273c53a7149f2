#include "TBuforDyn.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace sitowiak::filter {
namespace {

std::atomic<size_t> g_blockLimit{std::numeric_limits<size_t>::max()};

size_t WholePages(size_t n) {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

void FreeBlock(char* data, size_t size, bool mapped) {
    if (mapped)
        ::munmap(data, size);
    else
        std::free(data);
}

}  // namespace

void TBuforDyn::SetBlockLimit(size_t bytes) {
    g_blockLimit = bytes;
}

TBuforDyn::TBuforDyn() {
    m_data = nullptr;
    SetLength(0);
}

TBuforDyn::~TBuforDyn() {
    FreeBlock(m_data, m_blockSize, m_mapped);
}

void TBuforDyn::SetLength(int32_t n) {
    if (n < 0 || n > std::numeric_limits<int32_t>::max() - ReserveSize() - 1)
        throw std::bad_alloc();
    size_t needed = static_cast<size_t>(n) + ReserveSize() + 1;
    if (needed > m_blockSize)
        ResizeBlock(needed, false);
    else if (needed < m_blockSize / 4 || (n == 0 && needed < m_blockSize))
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
    size_t growth = m_mapped ? m_blockSize / 8 : m_blockSize / 2;
    size_t blockSize = exact ? needed : std::max(needed, m_blockSize + growth);
    bool done = Reallocate(blockSize);
    if (!done && blockSize > needed) done = Reallocate(blockSize = needed);
    if (!done && needed > m_blockSize) throw std::bad_alloc();
    // A failed shrink leaves the larger block, which still serves.
}

bool TBuforDyn::Reallocate(size_t& size) {
    if (size > g_blockLimit.load(std::memory_order_relaxed)) return false;
    const bool map = size >= kMapThreshold;
    char* block = nullptr;
    if (map) size = WholePages(size);
    if (map && m_mapped) {
        void* moved = ::mremap(m_data, m_blockSize, size, MREMAP_MAYMOVE);
        block = moved == MAP_FAILED ? nullptr : static_cast<char*>(moved);
    } else if (!map && !m_mapped) {
        block = static_cast<char*>(std::realloc(m_data, size));
    } else {
        // Across the threshold: a block of the other kind, and one copy.
        void* fresh =
            map ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                : std::malloc(size);
        if (fresh == MAP_FAILED || fresh == nullptr) return false;
        if (m_data != nullptr) std::memcpy(fresh, m_data, std::min(size, m_blockSize));
        FreeBlock(m_data, m_blockSize, m_mapped);
        block = static_cast<char*>(fresh);
        m_mapped = map;
    }
    if (block == nullptr) return false;
    m_data = block;
    m_blockSize = size;
    return true;
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

#include "GapText.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace sitowiak::filter {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Extra room taken whenever the gap must grow: a sixteenth of the buffer.
constexpr size_t kMinimumExtra = 4096;
constexpr size_t kBudgetFactor = 4;
constexpr size_t kBudgetExtra = size_t{1} << 20;

}  // namespace

GapText::GapText(TBuforDyn& buffer, size_t start)
    : m_buffer(buffer),
      m_write(std::min(start, static_cast<size_t>(buffer.Length()))),
      m_read(m_write),
      m_end(static_cast<size_t>(buffer.Length())),
      m_budget(kBudgetFactor * m_end + kBudgetExtra) {}

char GapText::At(size_t p) const {
    if (p < m_write) return m_buffer.Data()[p];
    size_t physical = p + Gap();
    return physical < m_end ? m_buffer.Data()[physical] : '\0';
}

bool GapText::BeginsWith(size_t p, std::string_view x) const {
    for (size_t i = 0; i < x.size(); ++i) {
        char c = At(p + i);
        if (LowerAscii(c) != LowerAscii(x[i])) return false;
        if (c == '\0') return true;  // both texts end here
    }
    return true;
}

std::string_view GapText::View(size_t a, size_t b) const {
    if (b <= m_write) return std::string_view(m_buffer.Data() + a, b - a);
    if (a >= m_write) return std::string_view(m_buffer.Data() + a + Gap(), b - a);
    throw std::logic_error("GapText::View across the gap");
}

void GapText::MoveGapTo(size_t p) {
    size_t n = p - m_write;
    if (Gap() > 0) std::memmove(m_buffer.Data() + m_write, m_buffer.Data() + m_read, n);
    m_write += n;
    m_read += n;
}

void GapText::Replace(size_t a, size_t b, std::string_view text) {
    char* at = Resize(a, b, text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
}

char* GapText::Resize(size_t a, size_t b, size_t length) {
    size_t removed = b - a;
    if (length > removed) Reserve(length - removed);
    char* data = m_buffer.Data();
    size_t newB = a + length;
    std::memmove(data + newB, data + b, m_write - b);
    m_write = m_write - b + newB;
    Shift(a, b, static_cast<ptrdiff_t>(newB) - static_cast<ptrdiff_t>(b));
    ++m_edits;
    return data + a;
}

void GapText::ShrinkAhead(size_t count, std::string_view text) {
    m_read += count - text.size();
    if (!text.empty()) std::memcpy(m_buffer.Data() + m_read, text.data(), text.size());
    Shift(m_write, m_write + count, -static_cast<ptrdiff_t>(count - text.size()));
}

void GapText::Shift(size_t a, size_t b, ptrdiff_t delta) {
    size_t newEnd = static_cast<size_t>(static_cast<ptrdiff_t>(b) + delta);
    for (size_t* p : m_tracked) {
        if (*p == kNoPosition) continue;
        if (*p >= b)
            *p = static_cast<size_t>(static_cast<ptrdiff_t>(*p) + delta);
        else if (*p > a)
            *p = std::min(*p, newEnd);
    }
}

void GapText::Reserve(size_t need) {
    if (Size() + need > m_budget) throw std::bad_alloc();
    if (Gap() >= need) return;
    size_t extra = need - Gap() + std::max(kMinimumExtra, m_end / 16);
    size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max()) - 4096;
    if (m_end + extra > limit) {
        extra = need - Gap();
        if (m_end + extra > limit) throw std::bad_alloc();
    }
    m_buffer.SetLength(static_cast<int32_t>(m_end + extra));
    char* data = m_buffer.Data();
    std::memmove(data + m_read + extra, data + m_read, m_end - m_read);
    m_read += extra;
    m_end += extra;
    data[m_end] = '\0';
}

void GapText::Close() {
    char* data = m_buffer.Data();
    if (Gap() > 0) std::memmove(data + m_write, data + m_read, m_end - m_read);
    size_t length = Size();
    m_buffer.SetLength(static_cast<int32_t>(length));
    m_buffer.Data()[length] = '\0';
    m_read = m_write;
    m_end = length;
}

}  // namespace sitowiak::filter

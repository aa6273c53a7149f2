#include "OverviewLineRewriter.h"

#include <algorithm>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Charsets.h"
#include "HeaderWords.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

struct LineFacts {
    bool eightBit = false;   // a byte 0x80 or above
    bool wordStart = false;  // "=?"
};

// The high bit of each byte of `x` that is zero, and nothing else.
uint64_t ZeroBytes(uint64_t x) {
    constexpr uint64_t k7F = 0x7F7F7F7F7F7F7F7Full;
    return ~(((x & k7F) + k7F) | x | k7F);
}

// One pass over the line: every line of an overview comes here. Sixteen
// bytes at a time where SSE2 is there (every x86-64), then eight, then one.
LineFacts Inspect(std::string_view line) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const char* p = line.data();
    const size_t n = line.size();
    uint64_t any = 0, starts = 0;
    size_t i = 0;
#if defined(__SSE2__)
    __m128i any16 = _mm_setzero_si128(), starts16 = _mm_setzero_si128();
    const __m128i equals = _mm_set1_epi8('='), question = _mm_set1_epi8('?');
    for (; i + 17 <= n; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        any16 = _mm_or_si128(any16, here);
        starts16 = _mm_or_si128(starts16, _mm_and_si128(_mm_cmpeq_epi8(here, equals),
                                                        _mm_cmpeq_epi8(next, question)));
    }
    if (_mm_movemask_epi8(any16) != 0) any = 0x80;
    if (_mm_movemask_epi8(starts16) != 0) starts = 1;
#endif
    for (; i + 9 <= n; i += 8) {
        uint64_t here, next;  // next: the same bytes one further on
        std::memcpy(&here, p + i, 8);
        std::memcpy(&next, p + i + 1, 8);
        any |= here;
        starts |= ZeroBytes(here ^ ('=' * kOnes)) & ZeroBytes(next ^ ('?' * kOnes));
    }
    for (; i < n; ++i) {
        any |= static_cast<unsigned char>(p[i]);
        if (p[i] == '=' && i + 1 < n && p[i + 1] == '?') starts = 1;
    }
    return {(any & (0x80 * kOnes)) != 0, starts != 0};
}

}  // namespace

OverviewLineRewriter::OverviewLineRewriter(const std::string& ForcedCharset, bool IgnoreRaw)
    : m_ignoreRaw(IgnoreRaw) {
    const std::optional<uint32_t> known = KnownCodePageOf(ForcedCharset);
    m_forced = known.has_value();
    m_codePage = known.value_or(0);
    m_transparent = m_forced && platform::IsAsciiTransparent(m_codePage);
    if (m_forced && platform::ConvertsPieceByPiece(m_codePage)) m_direct.emplace(m_codePage);
}

OverviewLineRewriter::Result OverviewLineRewriter::RewriteInto(std::string_view L,
                                                               std::string& out) {
    if (!m_forced && !m_ignoreRaw) return Result::kUnchanged;
    LineFacts facts = Inspect(L);
    if (!m_forced) {
        // A line without 8-bit bytes is clean whatever its words hold.
        if (!facts.eightBit || HeaderWordsClean(L)) return Result::kUnchanged;
        return Result::kLeftOut;
    }
    // Without 8-bit bytes or words, the decoded line is L widened, and it
    // encodes back to L.
    if (!facts.eightBit && !facts.wordStart && m_transparent) return Result::kUnchanged;
    const size_t old = out.size();
    if (m_direct) {
        if (std::optional<bool> clean = m_direct->Append(L, out, !facts.eightBit)) {
            if (*clean || !m_ignoreRaw) return Result::kRewritten;
            out.resize(old);
            return Result::kLeftOut;
        }
    }
    bool clean = DecodeHeaderWords(L, m_wide);
    if (clean || !m_ignoreRaw) platform::AppendMultiByteFromWide(m_codePage, m_wide, out);
    return out.size() > old ? Result::kRewritten : Result::kLeftOut;
}

size_t OverviewLineRewriter::RewriteLines(std::string_view bytes, size_t& scanned, bool& ended,
                                          const std::function<void(std::string_view)>& emit) {
    constexpr std::string_view kCrLf = "\r\n";
    constexpr std::string_view kDotLine = ".\r\n";
    // Unchanged lines not yet emitted are [spanStart, line); changed ones
    // wait in `changed`. At most one of the two holds anything.
    size_t line = 0, spanStart = 0;
    std::string changed;
    if (m_forced) changed.reserve(bytes.size());  // most lines change: one allocation
    const size_t from = scanned > 0 ? scanned - 1 : 0;  // a CR may end the part searched
    ended = false;
    while (!ended) {
        size_t eol = bytes.find(kCrLf, std::max(line, from));
        if (eol == std::string_view::npos) break;
        size_t next = eol + kCrLf.size();
        std::string_view L = bytes.substr(line, next - line);
        ended = L == kDotLine;
        if (RewriteInto(L, changed) == Result::kUnchanged) {
            if (!changed.empty()) emit(changed);
            changed.clear();
        } else {
            // `changed` held nothing before this line, so the unchanged
            // lines before it still go first.
            if (line > spanStart) emit(bytes.substr(spanStart, line - spanStart));
            spanStart = next;
        }
        line = next;
    }
    if (line > spanStart) emit(bytes.substr(spanStart, line - spanStart));
    if (!changed.empty()) emit(changed);
    scanned = ended ? 0 : bytes.size() - line;
    return line;
}

}  // namespace sitowiak::filter

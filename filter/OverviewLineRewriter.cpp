#include "OverviewLineRewriter.h"

#include <algorithm>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ByteSearch.h"
#include "Charsets.h"
#include "HeaderWords.h"
#include "WireForm.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

// Notes the "=?" starts of a block at `base`, one bit per byte in `mask`.
void NoteStarts(LineHint& hint, size_t base, unsigned mask) {
    if (mask == 0) return;
    if (hint.firstWordStart == std::string_view::npos)
        hint.firstWordStart = base + static_cast<size_t>(__builtin_ctz(mask));
    hint.lastWordStart = base + static_cast<size_t>(31 - __builtin_clz(mask));
}

// One pass over a line: every line of an overview comes here. Finds
// whether a byte is 0x80 or above and where the first and the last "=?"
// begin (relative to `from`), which spares the decoding its own searches.
// With kToLineEnd the pass stops at the first CR LF at or after `from` and
// returns its position (npos when there is none, the hint then covering
// nothing in particular): the line's end is found in the same pass. Else it
// covers all of `bytes` from `from` and returns npos. Sixteen bytes at a
// time where SSE2 is there (every x86-64).
template <bool kToLineEnd>
size_t Inspect(std::string_view bytes, size_t from, LineHint& hint) {
    const char* p = bytes.data();
    const size_t n = bytes.size();
    hint = LineHint{};
    hint.startsKnown = true;
    hint.firstWordStart = std::string_view::npos;
    bool high = false;
    size_t i = from;
#if defined(__SSE2__)
    const __m128i equals = _mm_set1_epi8('='), question = _mm_set1_epi8('?');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    __m128i any = _mm_setzero_si128();  // the high bits of the blocks passed
    for (; i + 17 <= n; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const __m128i starts =
            _mm_and_si128(_mm_cmpeq_epi8(here, equals), _mm_cmpeq_epi8(next, question));
        __m128i marks = starts;
        if constexpr (kToLineEnd)
            marks = _mm_or_si128(
                marks, _mm_and_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf)));
        // Most blocks hold neither a "=?" nor the line's end: one test each.
        if (_mm_movemask_epi8(marks) != 0) {
            const auto startBits = static_cast<unsigned>(_mm_movemask_epi8(starts));
            const auto endBits = static_cast<unsigned>(_mm_movemask_epi8(marks)) & ~startBits;
            if (kToLineEnd && endBits != 0) {
                const unsigned before = (1u << __builtin_ctz(endBits)) - 1;
                NoteStarts(hint, i - from, startBits & before);
                hint.ascii = _mm_movemask_epi8(any) == 0 &&
                             (static_cast<unsigned>(_mm_movemask_epi8(here)) & before) == 0;
                return i + static_cast<size_t>(__builtin_ctz(endBits));
            }
            NoteStarts(hint, i - from, startBits);
        }
        any = _mm_or_si128(any, here);
    }
    high = _mm_movemask_epi8(any) != 0;
#endif
    for (; i < n; ++i) {
        const bool pairFollows = i + 1 < n;
        if (kToLineEnd && pairFollows && p[i] == '\r' && p[i + 1] == '\n') {
            hint.ascii = !high;
            return i;
        }
        high = high || static_cast<unsigned char>(p[i]) >= 0x80;
        if (pairFollows && p[i] == '=' && p[i + 1] == '?') NoteStarts(hint, i - from, 1);
    }
    hint.ascii = !high;
    return std::string_view::npos;
}

// What decoding made of the line `L` (from `old` in `out`) must still be
// one line of the reply. Controls decoded from words are spaces already;
// two things are left. A raw CR and a raw LF with only a word or an opening
// "=?" between them that gave nothing would meet as a line end: such a CR
// stands just before a "=?", so `facts` tell where to look, and the CR
// becomes a space. And a line that now begins with "." (a word that decodes
// to one, an opening dropped before one) is dot-stuffed again, so that it
// is never taken for the terminating line.
void KeepOneLine(std::string_view L, const LineHint& facts, std::string& out, size_t old) {
    const size_t first = facts.firstWordStart, last = facts.lastWordStart;
    const bool crBeforeWord =
        !facts.startsKnown ||
        (first != L.npos && ((first > 0 && L[first - 1] == '\r') ||
                             (last > first && std::memchr(L.data() + first, '\r', last - first))));
    // Most lines: neither.
    if (!crBeforeWord && out[old] != '.') return;
    const bool terminated = L.ends_with(kCrLf);
    const std::string_view line(out.data() + old, out.size() - old);
    const size_t body = line.size() - (terminated && line.ends_with(kCrLf) ? kCrLf.size() : 0);
    if (crBeforeWord) {
        for (size_t at = FindPair(line, 0, '\r', '\n'); at < body;
             at = FindPair(line, at + 1, '\r', '\n'))
            out[old + at] = ' ';
    }
    if (line[0] != '.') return;
    // A line that came stuffed keeps its dot, which the reader drops; it
    // needs another only when nothing is left after it.
    const size_t text = L.size() - (terminated ? kCrLf.size() : 0);
    if (L[0] != '.' || (body == 1 && text > 1)) out.insert(old, 1, '.');
}

}  // namespace

OverviewLineRewriter::OverviewLineRewriter(const std::string& ForcedCharset, bool IgnoreRaw,
                                           const std::string& UndeclaredCharset)
    : m_ignoreRaw(IgnoreRaw) {
    const std::optional<uint32_t> known = KnownCodePageOf(ForcedCharset);
    m_forced = known.has_value();
    m_codePage = known.value_or(0);
    // Only a charset that writes ASCII as ASCII may read raw text: in UTF-7
    // or UTF-16, 7-bit bytes could stand for a CR LF or a TAB, and the line
    // would no longer be one line with its fields.
    if (std::optional<uint32_t> undeclared = KnownCodePageOf(UndeclaredCharset);
        !UndeclaredCharset.empty() && undeclared && platform::IsAsciiTransparent(*undeclared))
        m_undeclared = *undeclared;
    m_transparent = m_forced && platform::IsAsciiTransparent(m_codePage);
    if (m_forced && platform::ConvertsPieceByPiece(m_codePage))
        m_direct.emplace(m_codePage, m_undeclared);
}

OverviewLineRewriter::Result OverviewLineRewriter::RewriteInto(std::string_view L,
                                                               std::string& out) {
    if (!m_forced && !m_ignoreRaw) return Result::kUnchanged;
    LineHint facts;
    Inspect<false>(L, 0, facts);
    return Rewrite(L, facts, out);
}

OverviewLineRewriter::Result OverviewLineRewriter::Rewrite(std::string_view L,
                                                           const LineHint& facts,
                                                           std::string& out) {
    const Result result = RewriteLine(L, facts, out);
    if (result == Result::kLeftOut) ++m_leftOut;
    return result;
}

OverviewLineRewriter::Result OverviewLineRewriter::RewriteLine(std::string_view L,
                                                               const LineHint& facts,
                                                               std::string& out) {
    if (!m_forced) {
        // A line without 8-bit bytes is clean whatever its words hold.
        if (facts.ascii || HeaderWordsClean(L)) return Result::kUnchanged;
        return Result::kLeftOut;
    }
    // Without 8-bit bytes or words, the decoded line is L widened, and it
    // encodes back to L.
    if (facts.ascii && facts.firstWordStart == L.npos && m_transparent) return Result::kUnchanged;
    const size_t old = out.size();
    if (m_direct) {
        if (std::optional<bool> clean = m_direct->Append(L, out, facts)) {
            if (*clean || !m_ignoreRaw) {
                if (out.size() > old) KeepOneLine(L, facts, out, old);
                return Result::kRewritten;
            }
            out.resize(old);
            return Result::kLeftOut;
        }
    }
    bool clean = DecodeHeaderWords(L, m_wide, m_undeclared);
    if (clean || !m_ignoreRaw) {
        // A code page with shifts (ISO-2022-JP, UTF-7) goes back to its
        // first state at the end of what it converts: the text alone, so
        // that the line's own CR LF ends it and no shift spills into the
        // next line, where it would hide even the terminating ".".
        constexpr std::u16string_view kWideCrLf = u"\r\n";
        std::u16string_view text = m_wide;
        const bool terminated = text.ends_with(kWideCrLf);
        if (terminated) text.remove_suffix(kWideCrLf.size());
        platform::AppendMultiByteFromWide(m_codePage, text, out);
        if (terminated) out += "\r\n";
    }
    if (out.size() == old) return Result::kLeftOut;
    KeepOneLine(L, facts, out, old);
    return Result::kRewritten;
}

size_t OverviewLineRewriter::RewriteLines(std::string_view bytes, size_t& scanned, bool& ended,
                                          const std::function<void(std::string_view)>& emit) {
    constexpr std::string_view kDotLine = ".\r\n";
    // Unchanged lines not yet emitted are [spanStart, line); changed ones
    // wait in `changed`. At most one of the two holds anything.
    size_t line = 0, spanStart = 0;
    // Kept from call to call: a fresh buffer per read would be new pages
    // each time, as freeing it gives them back to the system.
    std::string& changed = m_changed;
    changed.clear();
    if (m_forced) changed.reserve(bytes.size());  // most lines change: one allocation
    const size_t from = scanned > 0 ? scanned - 1 : 0;  // a CR may end the part searched
    ended = false;
    const bool inspects = m_forced || m_ignoreRaw;
    LineHint facts;
    while (!ended) {
        // A line is looked at in the same pass that finds its end, except
        // one of which a part was searched before: its end is searched from
        // where the search stopped, so a long line that comes in many reads
        // is not searched again each time.
        const bool onePass = inspects && line >= from;
        size_t eol = onePass ? Inspect<true>(bytes, line, facts)
                             : FindPair(bytes, std::max(line, from), '\r', '\n');
        if (eol == std::string_view::npos) break;
        size_t next = eol + kCrLf.size();
        std::string_view L = bytes.substr(line, next - line);
        ended = L == kDotLine;
        const Result result = onePass ? Rewrite(L, facts, changed) : RewriteInto(L, changed);
        if (result == Result::kUnchanged) {
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

// TBuforArt::RewriteOverview. The output is built beside the buffer and
// then replaces the lines in one ResizeGap, so the tail moves once;
// lines that need no conversion are copied as they stand.
#include <cstring>
#include <optional>

#include "Charsets.h"
#include "HeaderWords.h"
#include "TBuforArt.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

constexpr std::string_view kCrLf = "\r\n";

struct LineFacts {
    bool eightBit = false;   // a byte 0x80 or above
    bool wordStart = false;  // "=?"
};

LineFacts Inspect(std::string_view line) {
    LineFacts facts;
    for (size_t i = 0; i < line.size(); ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        if (c >= 0x80) facts.eightBit = true;
        if (c == '=' && i + 1 < line.size() && line[i + 1] == '?') facts.wordStart = true;
    }
    return facts;
}

// The first CR LF at or after `from` in [from, end); `end` when none. Unlike
// the searches in an article this one does not stop at a NUL byte: overview
// lines are taken as byte strings.
size_t LineEnd(const char* data, size_t from, size_t end) {
    size_t pos = from;
    while (pos < end) {
        const void* cr = std::memchr(data + pos, '\r', end - pos);
        if (cr == nullptr) return end;
        size_t at = static_cast<size_t>(static_cast<const char*>(cr) - data);
        if (at + 1 < end && data[at + 1] == '\n') return at;
        pos = at + 1;
    }
    return end;
}

}  // namespace

void TBuforArt::RewriteOverview(size_t Start, const std::string& ForcedCharset, bool IgnoreRaw) {
    size_t end = static_cast<size_t>(Length());
    if (Start > end) return;
    // A forced charset that the database does not know forces nothing (its
    // fallback would write 1252 bytes that the reader takes for another).
    const std::optional<uint32_t> known = KnownCodePageOf(ForcedCharset);
    const bool forced = known.has_value();
    const uint32_t codePage = known.value_or(0);
    const bool transparent = forced && platform::IsAsciiTransparent(codePage);
    std::string output;
    output.reserve(end - Start);
    std::u16string W;
    size_t line = Start;
    while (line + 2 <= end) {
        const char* data = Data();
        size_t lineEnd = LineEnd(data, line, end);
        size_t next = lineEnd == end ? end : lineEnd + kCrLf.size();
        std::string_view L(data + line, next - line);
        LineFacts facts = Inspect(L);
        if (!forced) {
            // A line without 8-bit bytes is clean whatever its words hold.
            if (!IgnoreRaw || !facts.eightBit || HeaderWordsClean(L)) output += L;
        } else if (!facts.eightBit && !facts.wordStart && transparent) {
            output += L;  // W is L widened, and encodes back to L
        } else {
            bool clean = DecodeHeaderWords(L, W);
            if (clean || !IgnoreRaw) platform::AppendMultiByteFromWide(codePage, W, output);
        }
        line = lineEnd == end ? end + kCrLf.size() : next;
    }
    size_t oldLength = end - Start;
    char* at = ResizeGap(Data() + Start, Data() + end,
                         static_cast<int32_t>(static_cast<ptrdiff_t>(output.size()) -
                                              static_cast<ptrdiff_t>(oldLength)));
    std::memcpy(at, output.data(), output.size());
}

}  // namespace sitowiak::filter

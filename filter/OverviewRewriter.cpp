// TBuforArt::RewriteOverview. The output is built beside the buffer and
// then replaces the lines in one ResizeGap, so the tail moves once; each
// line is rewritten by OverviewLineRewriter, as the relay does when it
// streams an overview.
#include <algorithm>
#include <cstring>

#include "ByteSearch.h"
#include "OverviewLineRewriter.h"
#include "TBuforArt.h"
#include "WireForm.h"

namespace sitowiak::filter {
namespace {


// The first CR LF at or after `from` in [from, end); `end` when none. Unlike
// the searches in an article this one does not stop at a NUL byte: overview
// lines are taken as byte strings.
size_t LineEnd(const char* data, size_t from, size_t end) {
    return std::min(FindPair(std::string_view(data, end), from, '\r', '\n'), end);
}

}  // namespace

void TBuforArt::RewriteOverview(size_t Start, const std::string& ForcedCharset, bool IgnoreRaw,
                                const std::string& UndeclaredCharset) {
    size_t end = static_cast<size_t>(Length());
    if (Start > end) return;
    OverviewLineRewriter rewriter(ForcedCharset, IgnoreRaw, UndeclaredCharset);
    std::string output;
    output.reserve(end - Start);
    size_t line = Start;
    while (line + 2 <= end) {
        const char* data = Data();
        size_t lineEnd = LineEnd(data, line, end);
        size_t next = lineEnd == end ? end : lineEnd + kCrLf.size();
        std::string_view L(data + line, next - line);
        if (rewriter.RewriteInto(L, output) == OverviewLineRewriter::Result::kUnchanged)
            output += L;
        line = lineEnd == end ? end + kCrLf.size() : next;
    }
    size_t oldLength = end - Start;
    char* at = ResizeGap(Data() + Start, Data() + end,
                         static_cast<int32_t>(static_cast<ptrdiff_t>(output.size()) -
                                              static_cast<ptrdiff_t>(oldLength)));
    std::memcpy(at, output.data(), output.size());
}

}  // namespace sitowiak::filter

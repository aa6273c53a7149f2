// An overview fed line by line as the relay streams it, cut into pieces of
// a size the input picks: the bytes emitted must be those RewriteOverview
// gives for the same complete lines, each of them one line with the fields
// it came with (OverviewLines.h), and the stream must end exactly at the
// first line that is "." alone.
#include <cstdlib>

#include "FuzzInput.h"
#include "OverviewLines.h"
#include "filter/OverviewLineRewriter.h"
#include "filter/TBuforArt.h"

using namespace sitowiak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    bool ignoreRaw = flags & 1;
    std::string forced = in.Choose(fuzz::kOverviewCharsets);
    // The charset for unlabelled raw bytes, when the input asks for one.
    std::string undeclared = (flags & 2) ? in.Choose(fuzz::kOverviewCharsets) : std::string();
    size_t piece = 1 + in.Byte() % 64;
    std::string text = in.Rest();
    size_t start = fuzz::AfterFirstCrLf(text);

    filter::OverviewLineRewriter rewriter(forced, ignoreRaw, undeclared);
    std::string streamed = text.substr(0, start), pending;
    size_t scanned = 0, used = 0, at = start;
    bool ended = false;
    while (!ended && at < text.size()) {
        size_t n = std::min(piece, text.size() - at);
        pending.append(text, at, n);
        at += n;
        size_t step = rewriter.RewriteLines(pending, scanned, ended,
                                            [&](std::string_view bytes) { streamed.append(bytes); });
        pending.erase(0, step);
        used += step;
    }
    // The end is the first CR LF "." CR LF after the status line's own end.
    size_t terminator = start >= 2 ? text.find("\r\n.\r\n", start - 2) : std::string::npos;
    if (start >= 2 && terminator != std::string::npos && used != terminator + 5 - start)
        std::abort();

    filter::TBuforArt buffer;
    fuzz::Load(buffer, text.substr(0, start + used));
    buffer.RewriteOverview(start, forced, ignoreRaw, undeclared);
    if (std::string_view(buffer.Data(), static_cast<size_t>(buffer.Length())) != streamed)
        std::abort();
    fuzz::CheckOverviewLines(std::string_view(text).substr(start, used),
                             std::string_view(streamed).substr(start), forced, ignoreRaw,
                             undeclared);
    return 0;
}

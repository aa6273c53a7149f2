// RewriteOverview over every combination of its inputs: no access outside
// the buffer, the status line unchanged, with nothing forced every line
// that is kept is kept byte for byte, and every rewritten line one line
// with the fields it came with (OverviewLines.h).
#include <cstdlib>

#include "FuzzInput.h"
#include "OverviewLines.h"
#include "filter/TBuforArt.h"

using namespace sitowiak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    bool ignoreRaw = in.Byte() & 1;
    std::string forced = in.Choose(fuzz::kOverviewCharsets);
    std::string text = in.Rest();
    size_t start = fuzz::AfterFirstCrLf(text);

    filter::TBuforArt buffer;
    fuzz::Load(buffer, text);
    buffer.RewriteOverview(start, forced, ignoreRaw);
    std::string_view out(buffer.Data(), static_cast<size_t>(buffer.Length()));
    if (buffer.Data()[buffer.Length()] != '\0') std::abort();
    if (out.substr(0, start) != std::string_view(text).substr(0, start)) std::abort();
    if (forced.empty() && !ignoreRaw) {
        // Everything stays except a single byte after the last CR LF, which
        // is not a line (a line starts two bytes before the end).
        std::string_view expected(text);
        size_t lastEol = text.rfind("\r\n");
        size_t tail = lastEol == std::string::npos ? start : std::max(start, lastEol + 2);
        if (text.size() - tail == 1) expected.remove_suffix(1);
        if (out != expected) std::abort();
    }
    fuzz::CheckOverviewLines(std::string_view(text).substr(start), out.substr(start), forced,
                             ignoreRaw);
    return 0;
}

// What every rewritten overview line keeps, whatever its words decode to:
// it is one line with the fields it came with. Checked line by line on the
// lines of an overview, which together must give the rewritten overview.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/OverviewLineRewriter.h"

namespace sitowiak::fuzz {

inline size_t CountOf(std::string_view s, char c) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), c));
}

// `in` is an overview after its status line, `out` what became of it. Each
// line of `in`, split as RewriteOverview splits them (a single byte after
// the last line is none), is rewritten alone; its result must hold no CR or
// LF that the line did not hold, no CR LF but its own end, the line's TABs,
// and never be "." alone (unless the line was); the results in turn must be
// `out`.
inline void CheckOverviewLines(std::string_view in, std::string_view out, const std::string& forced,
                               bool ignoreRaw, const std::string& undeclared = std::string()) {
    constexpr std::string_view kCrLf = "\r\n";
    filter::OverviewLineRewriter rewriter(forced, ignoreRaw, undeclared);
    std::string joined, result;
    size_t line = 0;
    while (line + 2 <= in.size()) {
        const size_t eol = in.find(kCrLf, line);
        const size_t next = eol == in.npos ? in.size() : eol + kCrLf.size();
        const std::string_view L = in.substr(line, next - line);
        line = next;
        result.clear();
        switch (rewriter.RewriteInto(L, result)) {
            case filter::OverviewLineRewriter::Result::kUnchanged:
                result = L;
                break;
            case filter::OverviewLineRewriter::Result::kLeftOut:
                if (!result.empty()) std::abort();
                break;
            case filter::OverviewLineRewriter::Result::kRewritten:
                break;
        }
        joined += result;
        if (result.empty()) {
            if (!ignoreRaw && L.ends_with(kCrLf)) std::abort();  // only IgnoreRaw leaves out
            continue;
        }
        const std::string_view R = result;
        const bool terminated = L.ends_with(kCrLf);
        if (terminated != R.ends_with(kCrLf)) std::abort();
        const std::string_view textL = L.substr(0, L.size() - (terminated ? 2 : 0));
        const std::string_view textR = R.substr(0, R.size() - (terminated ? 2 : 0));
        if (CountOf(textR, '\r') > CountOf(textL, '\r')) std::abort();
        if (CountOf(textR, '\n') > CountOf(textL, '\n')) std::abort();
        if (textR.find(kCrLf) != textR.npos) std::abort();
        if (CountOf(R, '\t') != CountOf(L, '\t')) std::abort();
        if (textR == "." && textL != ".") std::abort();
        // A line that begins with "." is stuffed: the reader drops that dot.
        if (textR.starts_with('.') && !textL.starts_with('.') && !textR.starts_with(".."))
            std::abort();
    }
    if (joined != out) std::abort();
}

}  // namespace sitowiak::fuzz

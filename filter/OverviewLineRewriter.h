// OverviewLineRewriter: the rewriting of one overview line, which depends on
// that line alone. RewriteOverview applies it to every line of a complete
// reply; the relay applies it to each line as it arrives, so an overview
// never has to be held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "HeaderWords.h"

namespace sitowiak::filter {

class OverviewLineRewriter {
public:
    // ForcedCharset: charset the lines are re-encoded into, empty for none
    // (a name the charset database does not know forces nothing: its
    // fallback would write 1252 bytes that the reader takes for another).
    // IgnoreRaw: leave out lines with raw 8-bit bytes outside encoded
    // words; with a ForcedCharset only those that cannot be read (neither
    // UTF-8 nor, when UndeclaredCharset names a charset the database
    // knows, readable in it). UndeclaredCharset: what raw bytes that are
    // not UTF-8 are read in when lines are re-encoded; empty for none, and
    // so is one that does not write ASCII as ASCII (UTF-7, UTF-16).
    OverviewLineRewriter(const std::string& ForcedCharset, bool IgnoreRaw,
                         const std::string& UndeclaredCharset = std::string());

    // The lines left out so far.
    size_t LeftOut() const { return m_leftOut; }

    enum class Result { kUnchanged, kLeftOut, kRewritten };
    // What goes to the reader for the line `L` (its CR LF included, when it
    // has one): kUnchanged when nothing changes it (`L` itself goes, no copy
    // is made), kLeftOut when the line is left out, else kRewritten with the
    // rewritten bytes appended to `out`. A rewritten line is still one line
    // with the fields it came with, whatever its words decode to (see
    // HeaderWords.h): no CR LF but its own, as many TABs, and dot-stuffed
    // again when it now begins with ".". Throws std::bad_alloc when memory
    // runs out.
    Result RewriteInto(std::string_view L, std::string& out);

    // Rewrites the complete lines at the front of `bytes`, the overview
    // after its status line as it has come so far, up to and including the
    // terminating line: the first line that is "." alone, as the first
    // CR LF "." CR LF ends the whole reply. `emit` gets what goes to the
    // reader, in order: a run of lines that nothing changes as one view
    // into `bytes`, changed lines gathered. Returns the bytes used (a
    // partial line is left for the next call); `ended` tells whether the
    // terminating line was among them. `scanned` carries, from one call to
    // the next, how much of the partial line has been searched for its end
    // (0 for a new reply); the bytes left over must come first in the next
    // call. Throws std::bad_alloc when memory runs out.
    size_t RewriteLines(std::string_view bytes, size_t& scanned, bool& ended,
                        const std::function<void(std::string_view)>& emit);

private:
    // RewriteInto for a line whose facts are known.
    Result Rewrite(std::string_view L, const LineHint& facts, std::string& out);
    Result RewriteLine(std::string_view L, const LineHint& facts, std::string& out);

    bool m_ignoreRaw;
    bool m_forced;
    bool m_transparent;  // the forced code page writes ASCII as ASCII
    // Lines go to the forced code page without UTF-16 where it can.
    std::optional<HeaderWordsEncoder> m_direct;
    uint32_t m_codePage = 0;
    uint32_t m_undeclared = 0;  // 0: none
    size_t m_leftOut = 0;
    std::u16string m_wide;
    std::string m_changed;  // changed lines of one RewriteLines call
};

}  // namespace sitowiak::filter

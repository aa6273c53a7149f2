// TBuforArt: the buffer of a reader connection with the two rewriting
// operations of the article filter. Both rewrite the
// buffer in place from Start to its end; the bytes before Start (an NNTP
// status line) are left alone. Both may move Data (see TBuforDyn.h) and
// leave the NUL behind the content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "TBuforDyn.h"

namespace sitowiak::filter {

class TBuforArt : public TBuforDyn {
public:
    // Start: offset of the article's first header line; the content from
    // Start to the end is one article ending with ".\r\n" (any other content
    // is rewritten by the same rules, for what is there).
    // ProductName, ProductUrl, ProductVersion: the footer's identity values.
    // SourceCharset: when not empty, the charset unlabelled bodies are taken
    // to be in, and utf-8 bodies that are not UTF-8 (for a post its
    // Kodowanie, for an article the charset for undeclared text).
    // ForcedCharset: target of re-encoding, empty for none. ForcedContentType:
    // parts of a multipart article whose type does not begin with it are
    // removed, empty for none. AddFooter: the article is a post: it gets the
    // footer, and its indented lines are never quoted. AddStyle: as named.
    // Never throws:
    // an error ends the rewriting and the changes made so far stay.
    void RewriteArticle(size_t Start, const std::string& ProductName, const std::string& ProductUrl,
                        uint64_t ProductVersion, const std::string& SourceCharset,
                        const std::string& ForcedCharset, const std::string& ForcedContentType,
                        bool AddFooter, bool AddStyle);

    // Start: offset of the first overview line (after the status
    // line). ForcedCharset: charset the lines are re-encoded into, empty for
    // none. IgnoreRaw: leave out lines with raw 8-bit bytes (with a
    // ForcedCharset, those that cannot be read). UndeclaredCharset: what
    // raw bytes that are not UTF-8 are read in, empty for none (see
    // OverviewLineRewriter.h). Throws std::bad_alloc when memory runs out;
    // the buffer is then unchanged.
    void RewriteOverview(size_t Start, const std::string& ForcedCharset, bool IgnoreRaw,
                         const std::string& UndeclaredCharset = std::string());
};

}  // namespace sitowiak::filter

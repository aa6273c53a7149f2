// The article scanner (RewriteArticle): one pass over the lines of an
// article in a TBuforArt, rewriting as it goes. Internal to the filter;
// TBuforArt::RewriteArticle is the interface.
//
// It gives the same bytes as the plain one-edit-at-a-time rewriting of
// tests/ReferenceRewriter.h. Where the original design corrupts or loses
// data, both fix it (each fix is named where it is made):
//  - F1 an unquoted charset is a MIME token (up to ";", white space or the
//       line end), read and replaced as such;
//  - F2 "charset=" (and "boundary=") are looked for only inside the
//       Content-Type field, continuation lines included;
//  - F3 an unquoted boundary is a token too;
//  - F4 a quoted-printable or base64 text body is decoded, converted and
//       encoded again in the same transfer encoding;
// and these further fixes, made for the same reason:
//  - C1 a line that begins with a space continues the field before it;
//  - C4 the style link's "=" is written "=3D" only in quoted-printable bodies;
//  - C5 the preamble skip of multipart/alternative finds "--" and the
//       boundary only at the start of a line.
// and these, so that nothing the filter cannot read is destroyed:
//  - D1 a body is converted from the charset it declares when the charset
//       database knows it; SourceCharset (a posted article's Kodowanie) is
//       only for bodies that declare none, "us-ascii" or an unknown name;
//  - D2 the footer is added in the body's transfer encoding;
//  - D3 a body without a declared charset (or "us-ascii") that carries 8-bit
//       bytes or a binary block is left as it came, label included, unless
//       SourceCharset says what it is; yEnc and uuencoded blocks are never
//       converted; the same code page on both sides leaves the bytes as
//       they are; a ForcedCharset the database does not know forces nothing;
//  - D4 multipart parts nest: the part rules apply at every depth up to
//       kMaxDepth levels, and a multipart part is kept when it holds a kept
//       part.
// and this, so that no article can end its reply early:
//  - D5 a body whose conversion may move line ends and dots (a side that is
//       not an ASCII superset: UTF-7, ISO-2022, EBCDIC) is converted out of
//       its dot-stuffed wire form and stuffed again, lone CR and LF becoming
//       CR LF; a ForcedCharset that cannot write "." CR LF as ASCII does
//       (UTF-16, EBCDIC) leaves such bodies as they came.
// and these, so that text is read as what it is and posts stay as written:
//  - C8 Content-Type and Content-Transfer-Encoding are read by one MIME
//       parameter reader (MimeFields.h); relabelling writes charset="...";
//  - D6 a body converted anyway is read as what its bytes are: UTF-8 under
//       a single-byte label is UTF-8, ISO-8859-n with C1 bytes its Windows
//       code page, utf-8 that is not UTF-8 is read in SourceCharset or left;
//  - D7 a post (AddFooter) is never quoted; a Content-Type added to the
//       article's header comes with MIME-Version.
// and this, so that with nothing asked an article stays exactly as it came:
//  - C10 indented lines are quoted only when a charset, a content type or
//       the style is forced (the relay passes articles unheld otherwise).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "GapText.h"
#include "TransferEncoding.h"

namespace sitowiak::filter {

struct ArticleInputs {
    const std::string& ProductName;
    const std::string& ProductUrl;
    uint64_t ProductVersion;
    const std::string& SourceCharset;
    const std::string& ForcedCharset;
    const std::string& ForcedContentType;
    bool AddFooter;
    bool AddStyle;
};

class ArticleRewriter {
public:
    ArticleRewriter(TBuforDyn& buffer, size_t start, const ArticleInputs& inputs);
    // Runs the line loop to the end of the buffer. Any error ends the scan
    // silently; the buffer keeps every change made so far.
    void Run();

private:
    // The branch of BodyLine for the article's content type, and whether the
    // current part is text/plain: comparisons that each line would repeat,
    // kept until an edit behind the gap could have changed the text.
    enum class Kind { kHtml, kPlain, kMultipart, kOther };
    Kind ArticleKind();
    bool PartIsPlain();

    void HeaderLine();
    void BodyLine();
    void MultipartLine();
    void PartLine();
    void ClosePart();
    bool IsDotLine() const { return m_text.BeginsWith(m_line, kDotLine); }

    // D4: one level of multipart nesting. Level 0 is the article's own
    // body; each deeper level is the body of a multipart part of the level
    // above, and lasts until its closing boundary line or a boundary line of
    // a level above it.
    struct Level {
        std::string boundaryLine;  // "--" + boundary
        size_t partStart = kNoPosition;
        size_t partHeaderStart = kNoPosition;
        size_t partBodyStart = kNoPosition;
        size_t partContentType = kNoPosition;
        bool inPartHeader = false;
        bool epilogue = false;  // the "part" after the closing boundary line
        std::string partCharset = "us-ascii";
        std::string partBoundary;    // the open part's own, when it is multipart
        bool partHoldsKept = false;  // a part inside the open part was kept
        bool partTooDeep = false;    // multipart below kMaxDepth: passes whole
        bool holdsKept = false;      // a part of this level was kept
    };
    static constexpr size_t kMaxDepth = 16;
    Level& Current() { return m_levels[m_depth - 1]; }
    size_t BoundaryLevel() const;
    bool RestIsPadding(size_t p) const;
    bool IsEnclosingBoundary(const std::string& boundary) const;
    void PushLevel(const std::string& boundary);
    void PopLevel();
    void TrackLevel(Level& level);

    bool RecodeBody(size_t hs, size_t bs, const std::string& declared);
    std::optional<uint32_t> SourceCodePage(const std::string& declared, TransferEncoding encoding,
                                           std::string_view body, std::string_view text,
                                           bool lookForC1) const;
    void RelabelContentType(size_t hs, size_t bs, const std::string& target);
    void InsertStyleLink(size_t hs, size_t bs);
    void AppendFooter(size_t hs, size_t bs, const std::string& charset);
    void RemovePart();
    void QuoteIndent();

    size_t FindLineEnd() const;
    size_t FindAheadAtLineStart(size_t from, std::string_view pattern) const;
    size_t FieldEndAhead() const;
    size_t FindField(size_t hs, size_t bs, std::string_view name) const;
    TransferEncoding TransferEncodingOf(size_t hs, size_t bs) const;

    static constexpr std::string_view kDotLine = ".\r\n";

    GapText m_text;
    const ArticleInputs& m_in;
    // D3: the ForcedCharset's code page, when the database knows it.
    std::optional<uint32_t> m_target;
    // C10: indented lines of text/plain parts are quoted only in an article
    // being read that is rewritten anyway (a charset, a content type or the
    // style forced): with nothing asked an article stays exactly as it came,
    // as the relay passes it unheld then. A post is never quoted.
    bool m_quotesIndents;

    size_t m_line;
    size_t m_lineEnd = 0;
    bool m_inHeader = true;
    size_t m_headerStart;
    size_t m_bodyStart = kNoPosition;
    size_t m_contentType = kNoPosition;
    std::string m_charset = "us-ascii";
    std::string m_boundary;
    std::array<Level, kMaxDepth> m_levels;
    size_t m_depth = 1;

    Kind m_kind = Kind::kOther;
    unsigned long m_kindEdits = static_cast<unsigned long>(-1);
    bool m_partPlain = false;
    unsigned long m_partPlainEdits = static_cast<unsigned long>(-1);
};

}  // namespace sitowiak::filter

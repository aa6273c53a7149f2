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
#pragma once

#include <cstdint>
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
    void ClosePart();
    bool IsDotLine() const { return m_text.BeginsWith(m_line, kDotLine); }

    void RecodeBody(size_t hs, size_t bs, const std::string& target, const std::string& source);
    void RelabelContentType(size_t hs, size_t bs, const std::string& target);
    void InsertStyleLink(size_t hs, size_t bs);
    void AppendFooter(const std::string& charset);
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

    size_t m_line;
    size_t m_lineEnd = 0;
    bool m_inHeader = true;
    size_t m_headerStart;
    size_t m_bodyStart = kNoPosition;
    size_t m_contentType = kNoPosition;
    std::string m_charset = "us-ascii";
    std::string m_boundary;
    std::string m_boundaryLine = "--";  // "--" + boundary
    size_t m_partStart = kNoPosition;
    size_t m_partHeaderStart = kNoPosition;
    bool m_inPartHeader = false;
    size_t m_partBodyStart = kNoPosition;
    size_t m_partContentType = kNoPosition;
    std::string m_partCharset = "us-ascii";

    Kind m_kind = Kind::kOther;
    unsigned long m_kindEdits = static_cast<unsigned long>(-1);
    bool m_partPlain = false;
    unsigned long m_partPlainEdits = static_cast<unsigned long>(-1);
};

}  // namespace sitowiak::filter

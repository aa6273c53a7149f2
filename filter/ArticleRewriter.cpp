// The line loop of the article rewriting and its steps: header lines, body
// lines by content type, multipart parts, re-encoding and relabelling, the
// style link, the footer, removal of parts and quoting. Longer than most
// files because the steps share the scanner state; each function is one
// step.
#include "ArticleRewriter.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "BinaryBlocks.h"
#include "Charsets.h"
#include "DotStuffing.h"
#include "MimeFields.h"
#include "WireForm.h"
#include "platform/charset/CodePage.h"
#include "platform/core/ProductIdentity.h"

#ifndef SITOWIAK_STYLE_HOST
#define SITOWIAK_STYLE_HOST "sitowiak.plaskun.example"
#endif

namespace sitowiak::filter {
namespace {

constexpr std::string_view kContentType = "Content-Type";
constexpr std::string_view kStyleElement = "<STYLE></STYLE>";
constexpr std::string_view kFooterIntro = "-- \r\nPrzefiltrowane przez ";
// The maker's web server, which serves the style sheet: the host of the
// product's web page (SITOWIAK_PRODUCT_URL in CMakeLists.txt).
constexpr std::string_view kStyleHost = SITOWIAK_STYLE_HOST;

// The first CR LF at or after `from`; npos when there is none before the
// end or before a NUL byte (every search in an article stops at a NUL).
size_t FindCrLf(std::string_view t, size_t from) {
    size_t pos = from;
    for (;;) {
        const void* cr =
            pos < t.size() ? std::memchr(t.data() + pos, '\r', t.size() - pos) : nullptr;
        size_t stop = cr ? static_cast<size_t>(static_cast<const char*>(cr) - t.data()) : t.size();
        if (std::memchr(t.data() + pos, '\0', stop - pos) != nullptr || cr == nullptr)
            return t.npos;
        if (stop + 1 < t.size() && t[stop + 1] == '\n') return stop;
        pos = stop + 1;
    }
}

// Where a search that stops at NUL ends: the first NUL, or the end.
size_t StopOf(std::string_view t, size_t from) {
    const void* nul = std::memchr(t.data() + from, '\0', t.size() - from);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - t.data()) : t.size();
}

// The start of the field after the one at p; the end of the text
// (or its first NUL) when no CR LF ends the field. C1: a line that begins
// with a tab or a space is a continuation line.
size_t NextFieldIn(std::string_view t, size_t p) {
    if (t.compare(p, kCrLf.size(), kCrLf) == 0) return p;
    for (;;) {
        size_t eol = FindCrLf(t, p);
        if (eol == t.npos) return StopOf(t, p);
        p = eol + kCrLf.size();
        if (p >= t.size() || (t[p] != '\t' && t[p] != ' ')) return p;
    }
}

bool ParameterEqual(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The value of a parameter of a Content-Type field, empty when it has none.
std::string ParameterValue(std::string_view field, std::string_view name) {
    std::optional<MimeParameter> p = FindMimeParameter(field, name);
    return p && p->closed ? std::move(p->value) : std::string();
}

// platform::TranslatedLength, also telling whether a byte 0x80-0x9F came
// by: looked at only where a byte is not ASCII, so it costs no pass.
size_t TranslatedLengthNotingC1(const platform::ByteMap& map, std::string_view src, bool& c1) {
    const char* p = src.data();
    const size_t n = src.size();
    size_t length = 0, i = 0;
    unsigned seen = 0;
    while (i < n) {
        if (map.asciiIdentity && i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                length += 8;
                i += 8;
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(p[i++]);
        length += map.entry[b].length;
        seen |= (b & 0xE0u) == 0x80u;
    }
    c1 = seen != 0;
    return length;
}

bool Has8Bit(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// D5: the body (in wire form) converted from `from` to `to` and put back in
// wire form; nullopt when a code page cannot convert, or when `to` does not
// write line ends and dots as ASCII does (UTF-16, EBCDIC): its bytes could
// not be framed as lines at all, so the body stays as it came.
std::optional<std::string> ConvertedLines(std::string_view body, uint32_t from, uint32_t to) {
    std::string probe;
    if (!platform::AppendConverted(kUsAsciiCodePage, to, ".\r\n", probe) || probe != ".\r\n")
        return std::nullopt;
    const std::string text = Unstuffed(body);
    std::string out;
    bool atLineStart = true;
    size_t done = 0;
    std::string converted;
    auto convert = [&](std::string_view piece) {
        converted.clear();
        if (!platform::AppendConverted(from, to, piece, converted)) return false;
        AppendStuffed(converted, out, atLineStart);
        return true;
    };
    // yEnc and uuencoded blocks are copied as they are.
    for (auto [a, b] : FindBinaryBlocks(text, true)) {
        if (!convert(std::string_view(text).substr(done, a - done))) return std::nullopt;
        AppendDotsStuffed(std::string_view(text).substr(a, b - a), out, atLineStart);
        done = b;
    }
    if (!convert(std::string_view(text).substr(done))) return std::nullopt;
    // The terminating line must begin a line of its own.
    if (!atLineStart) out += "\r\n";
    return out;
}

}  // namespace

ArticleRewriter::ArticleRewriter(TBuforDyn& buffer, size_t start, const ArticleInputs& inputs)
    : m_text(buffer, start),
      m_in(inputs),
      m_target(inputs.ForcedCharset.empty() ? std::nullopt : KnownCodePageOf(inputs.ForcedCharset)),
      m_quotesIndents(!inputs.AddFooter && (!inputs.ForcedCharset.empty() ||
                                            !inputs.ForcedContentType.empty() || inputs.AddStyle)),
      m_line(m_text.GapStart()),
      m_headerStart(m_text.GapStart()) {
    for (size_t* p : {&m_line, &m_lineEnd, &m_headerStart, &m_bodyStart, &m_contentType})
        m_text.Track(p);
    m_levels[0].boundaryLine = "--";
    TrackLevel(m_levels[0]);
}

void ArticleRewriter::TrackLevel(Level& level) {
    for (size_t* p :
         {&level.partStart, &level.partHeaderStart, &level.partBodyStart, &level.partContentType})
        m_text.Track(p);
}

void ArticleRewriter::Run() {
    try {
        // A line is examined while it starts at least two bytes before the end.
        while (m_line + 2 <= m_text.Size()) {
            m_text.MoveGapTo(m_line);
            m_lineEnd = FindLineEnd();
            if (m_inHeader)
                HeaderLine();
            else
                BodyLine();
            m_line = m_lineEnd + kCrLf.size();
        }
    } catch (...) {
        // One handler for every error: the scan ends, the changes made so far stay.
    }
    m_text.Close();
}

size_t ArticleRewriter::FindLineEnd() const {
    std::string_view ahead = m_text.View(m_line, m_text.Size());
    size_t eol = FindCrLf(ahead, 0);
    return eol == ahead.npos ? m_text.Size() : m_line + eol;
}

// C5: the first line at or after `from` that begins with `pattern`, found as
// CR LF + pattern from `from` (which is at a CR LF); the position of that
// CR LF, or npos. Stops at a NUL.
size_t ArticleRewriter::FindAheadAtLineStart(size_t from, std::string_view pattern) const {
    std::string_view ahead = m_text.View(from, m_text.Size());
    ahead = ahead.substr(0, StopOf(ahead, 0));
    std::string needle = std::string(kCrLf) + std::string(pattern);
    size_t at = ahead.find(needle);
    return at == ahead.npos ? kNoPosition : from + at;
}

size_t ArticleRewriter::FieldEndAhead() const {
    return m_line + NextFieldIn(m_text.View(m_line, m_text.Size()), 0);
}

// A header line: the empty line ends the header (and, in multipart/
// alternative, skips the preamble); Content-Type gives the type, charset
// and boundary.
void ArticleRewriter::HeaderLine() {
    if (m_lineEnd == m_line) {
        m_inHeader = false;
        m_bodyStart = m_lineEnd + kCrLf.size();
        m_levels[0].boundaryLine = "--" + m_boundary;
        if (m_contentType != kNoPosition && !m_boundary.empty() &&
            m_text.BeginsWith(m_contentType, "multipart/alternative")) {
            size_t at = FindAheadAtLineStart(m_line, m_levels[0].boundaryLine);
            m_lineEnd = at == kNoPosition ? m_text.Size() : at;
        }
        return;
    }
    if (!IsFieldNamed(m_text.View(m_line, m_lineEnd), kContentType)) return;
    std::string_view field = m_text.View(m_line, FieldEndAhead());
    m_contentType = m_line + FieldValueStart(field);
    m_charset = ParameterValue(field, "charset");
    if (m_text.BeginsWith(m_contentType, "multipart/")) {
        if (auto boundary = FindMimeParameter(field, "boundary"); boundary && boundary->closed)
            m_boundary = std::move(boundary->value);
    }
}

ArticleRewriter::Kind ArticleRewriter::ArticleKind() {
    if (m_kindEdits != m_text.EditCount()) {
        bool typed = m_contentType != kNoPosition;
        if (typed && m_text.BeginsWith(m_contentType, "text/html"))
            m_kind = Kind::kHtml;
        else if (!typed || m_text.BeginsWith(m_contentType, "text/plain"))
            m_kind = Kind::kPlain;
        else if (m_text.BeginsWith(m_contentType, "multipart/"))
            m_kind = Kind::kMultipart;
        else
            m_kind = Kind::kOther;
        m_kindEdits = m_text.EditCount();
    }
    return m_kind;
}

bool ArticleRewriter::PartIsPlain() {
    if (m_partPlainEdits != m_text.EditCount()) {
        size_t type = Current().partContentType;
        m_partPlain = type != kNoPosition && m_text.BeginsWith(type, "text/plain");
        m_partPlainEdits = m_text.EditCount();
    }
    return m_partPlain;
}

// A body line: what is done at it depends on the article's content type.
void ArticleRewriter::BodyLine() {
    switch (ArticleKind()) {
        case Kind::kHtml:
            if (m_in.AddStyle && IsDotLine()) InsertStyleLink(m_headerStart, m_bodyStart);
            break;
        case Kind::kPlain:
            if (!IsDotLine()) break;
            if (m_target && RecodeBody(m_headerStart, m_bodyStart, m_charset))
                m_charset = m_in.ForcedCharset;
            if (m_in.AddFooter) AppendFooter(m_headerStart, m_bodyStart, m_charset);
            break;
        case Kind::kMultipart:
            MultipartLine();
            break;
        case Kind::kOther:
            break;
    }
}

// A line of a multipart body: a boundary line closes the preceding part and
// opens the next; other lines are part header lines or part body lines.
void ArticleRewriter::MultipartLine() {
    size_t hit = BoundaryLevel();
    if (hit == kNoPosition) {
        PartLine();
        return;
    }
    // D4: a boundary line of a level above ends the levels below it, each
    // with the part it has open.
    while (m_depth - 1 > hit) {
        if (Current().partStart != kNoPosition) ClosePart();
        PopLevel();
    }
    Level& level = Current();
    if (level.partStart != kNoPosition) ClosePart();
    size_t after = m_line + level.boundaryLine.size();
    bool closing = m_text.BeginsWith(after, "--") && RestIsPadding(after + 2);
    if (closing && m_depth > 1) {
        // What follows a nested closing boundary line belongs to the part
        // of the level above (a multipart part, which is left alone).
        PopLevel();
        return;
    }
    level.inPartHeader = true;
    level.epilogue = closing;
    level.partContentType = kNoPosition;
    level.partCharset = "us-ascii";
    level.partBoundary.clear();
    level.partHoldsKept = false;
    level.partTooDeep = false;
    level.partStart = m_line;
    level.partHeaderStart = m_lineEnd + kCrLf.size();
    m_partPlainEdits = static_cast<unsigned long>(-1);
}

// The level whose boundary line the current line is, innermost first, or
// kNoPosition. The article's own boundary is compared as a prefix; a nested
// one must fill the line (with "--" when it closes, and transport padding).
size_t ArticleRewriter::BoundaryLevel() const {
    for (size_t d = m_depth; d-- > 0;) {
        const Level& level = m_levels[d];
        if (!m_text.BeginsWith(m_line, level.boundaryLine)) continue;
        if (d == 0) return 0;
        size_t after = m_line + level.boundaryLine.size();
        if (m_text.BeginsWith(after, "--")) after += 2;
        if (RestIsPadding(after)) return d;
    }
    return kNoPosition;
}

// Only spaces and tabs from p to the end of the current line.
bool ArticleRewriter::RestIsPadding(size_t p) const {
    for (; p < m_lineEnd; ++p)
        if (m_text.At(p) != ' ' && m_text.At(p) != '\t') return false;
    return true;
}

// A line inside a part: its header, or a line of its body.
void ArticleRewriter::PartLine() {
    Level& level = Current();
    if (!level.inPartHeader) {
        // The quoting is how an article is shown; a post (the one call
        // with a footer) reaches the server with its lines as written.
        if (m_quotesIndents && PartIsPlain()) QuoteIndent();
        return;
    }
    if (m_lineEnd == m_line) {
        level.inPartHeader = false;
        level.partBodyStart = m_lineEnd + kCrLf.size();
        if (!level.partBoundary.empty() && !level.epilogue) {
            if (m_depth == kMaxDepth)
                level.partTooDeep = true;
            else if (!IsEnclosingBoundary(level.partBoundary))
                PushLevel(level.partBoundary);
        }
    } else if (IsFieldNamed(m_text.View(m_line, m_lineEnd), kContentType)) {
        std::string_view field = m_text.View(m_line, FieldEndAhead());
        level.partContentType = m_line + FieldValueStart(field);
        m_partPlainEdits = static_cast<unsigned long>(-1);
        level.partCharset = ParameterValue(field, "charset");
        level.partBoundary.clear();
        if (m_text.BeginsWith(level.partContentType, "multipart/")) {
            if (auto boundary = FindMimeParameter(field, "boundary"); boundary && boundary->closed)
                level.partBoundary = std::move(boundary->value);
        }
    }
}

// A nested boundary that an enclosing level already has would make the
// boundary lines ambiguous: such a part stays one part.
bool ArticleRewriter::IsEnclosingBoundary(const std::string& boundary) const {
    std::string line = "--" + boundary;
    for (size_t d = 0; d < m_depth; ++d) {
        const std::string& other = m_levels[d].boundaryLine;
        if (ParameterEqual(other, line)) return true;
    }
    return false;
}

void ArticleRewriter::PushLevel(const std::string& boundary) {
    Level& level = m_levels[m_depth++];
    level = Level{};
    level.boundaryLine = "--" + boundary;
    TrackLevel(level);
    m_partPlainEdits = static_cast<unsigned long>(-1);
}

void ArticleRewriter::PopLevel() {
    bool kept = Current().holdsKept;
    m_text.Untrack(4);
    --m_depth;
    Current().partHoldsKept |= kept;
    m_partPlainEdits = static_cast<unsigned long>(-1);
}

// A part ends at a boundary line. A part whose header has no empty line
// before the boundary line that closes it has no body: it gets no style
// link, recoding or footer, since there is no body to change; it can still
// be removed, which touches only its own bytes.
void ArticleRewriter::ClosePart() {
    Level& level = Current();
    bool hasBody = !level.inPartHeader;
    bool typed = level.partContentType != kNoPosition;
    if (typed && m_text.BeginsWith(level.partContentType, "text/html")) {
        if (m_in.AddStyle && hasBody) InsertStyleLink(level.partHeaderStart, level.partBodyStart);
    } else if (typed && m_text.BeginsWith(level.partContentType, "text/plain") && hasBody) {
        if (m_target && RecodeBody(level.partHeaderStart, level.partBodyStart, level.partCharset))
            level.partCharset = m_in.ForcedCharset;
        if (m_in.AddFooter)
            AppendFooter(level.partHeaderStart, level.partBodyStart, level.partCharset);
    }
    if (m_in.ForcedContentType.empty()) return;
    // D4: a multipart part stays when it holds a kept part.
    bool kept = level.partTooDeep || level.partHoldsKept ||
                (typed && m_text.BeginsWith(level.partContentType, m_in.ForcedContentType));
    if (kept)
        level.holdsKept = true;
    else
        RemovePart();
}

// Re-encodes a text body into the forced charset and relabels its header;
// false when the body is left as it came. The body is [bs, current line).
bool ArticleRewriter::RecodeBody(size_t hs, size_t bs, const std::string& declared) {
    TransferEncoding encoding = TransferEncodingOf(hs, bs);
    std::string_view body = m_text.View(bs, m_line);
    // What would be converted: the transfer encoding undone; yEnc blocks,
    // which are never converted, left out (uuencoded lines are ASCII).
    std::string decoded;
    std::vector<std::pair<size_t, size_t>> blocks;
    std::string_view text = body;
    std::string outside;
    if (encoding == TransferEncoding::kQuotedPrintable) {
        decoded = DecodeQuotedPrintable(body);
        text = decoded;
    } else if (encoding == TransferEncoding::kBase64) {
        decoded = DecodeBase64(body);
        text = decoded;
    } else {
        blocks = FindBinaryBlocks(body, false);
        if (!blocks.empty()) {
            size_t done = 0;
            for (auto [a, b] : blocks) {
                outside.append(body.substr(done, a - done));
                done = b;
            }
            outside.append(body.substr(done));
            text = outside;
        }
    }
    // A plain body between single-byte code pages is converted through a
    // byte map whose length pass also looks for C1 bytes.
    const bool plain = encoding == TransferEncoding::kNone && blocks.empty();
    std::optional<uint32_t> source = SourceCodePage(declared, encoding, body, text, !plain);
    if (!source) return false;
    uint32_t from = *source;
    uint32_t to = *m_target;
    if (plain) {
        const platform::ByteMap* map = from != to ? platform::SingleByteMap(from, to) : nullptr;
        if (map != nullptr) {
            bool c1 = false;
            size_t converted = TranslatedLengthNotingC1(*map, body, c1);
            std::optional<uint32_t> windows = c1 ? WindowsCodePageFor(from) : std::nullopt;
            if (!windows) {
                // Converted in place from the end of the body, without a
                // copy beside it.
                size_t length = m_line - bs;
                char* at = m_text.Resize(bs, m_line, converted);
                platform::TranslateBackward(*map, at, length, at + converted);
                RelabelContentType(hs, bs, m_in.ForcedCharset);
                return true;
            }
            from = *windows;  // D6: text never holds C1 controls
        } else {
            from = ReadingCodePage(from, text);
        }
    }
    if (from == to) {
        // D3, F4: the same code page on both sides keeps the bytes (an
        // identity conversion would still replace whatever is invalid).
    } else if (encoding == TransferEncoding::kNone &&
               !(platform::IsAsciiTransparent(from) && platform::IsAsciiTransparent(to))) {
        // D5: a conversion that may move line ends and dots (UTF-7,
        // ISO-2022, EBCDIC) works on the text out of its wire form, which
        // is then made again, so that no line of it can end the reply.
        std::optional<std::string> stuffed = ConvertedLines(body, from, to);
        if (!stuffed) return false;
        m_text.Replace(bs, m_line, *stuffed);
    } else if (encoding == TransferEncoding::kNone) {
        // Between ASCII supersets uuencoded lines convert to themselves.
        const platform::ByteMap* map = blocks.empty() ? platform::SingleByteMap(from, to) : nullptr;
        if (map != nullptr) {
            size_t length = m_line - bs;
            size_t converted = platform::TranslatedLength(*map, body);
            char* at = m_text.Resize(bs, m_line, converted);
            platform::TranslateBackward(*map, at, length, at + converted);
        } else {
            // D3: the text between binary blocks is converted, the blocks
            // are copied as they are.
            std::string converted;
            converted.reserve(body.size() + body.size() / 8 + 64);
            size_t done = 0;
            bool ok = true;
            for (auto [a, b] : blocks) {
                ok = ok &&
                     platform::AppendConverted(from, to, body.substr(done, a - done), converted);
                converted.append(body.substr(a, b - a));
                done = b;
            }
            ok = ok && platform::AppendConverted(from, to, body.substr(done), converted);
            if (!ok) return false;  // a code page that cannot convert
            m_text.Replace(bs, m_line, converted);
        }
    } else {
        // F4: decode the transfer encoding, convert, encode again.
        bool qp = encoding == TransferEncoding::kQuotedPrintable;
        std::string converted;
        if (!platform::AppendConverted(from, to, decoded, converted)) return false;
        m_text.Replace(bs, m_line, qp ? EncodeQuotedPrintable(converted) : EncodeBase64(converted));
    }
    RelabelContentType(hs, bs, m_in.ForcedCharset);
    return true;
}

// D1, D3, D6: the code page a body is read in, or nullopt when it is to be
// left as it came. `text` is the body as it would be converted.
std::optional<uint32_t> ArticleRewriter::SourceCodePage(const std::string& declared,
                                                        TransferEncoding encoding,
                                                        std::string_view body,
                                                        std::string_view text,
                                                        bool lookForC1) const {
    std::optional<uint32_t> known = KnownCodePageOf(declared);
    bool ascii = known == kUsAsciiCodePage;
    std::optional<uint32_t> undeclared;
    if (!m_in.SourceCharset.empty()) undeclared = CodePageOf(m_in.SourceCharset);
    if (known == platform::kCodePageUtf8) {
        // D6: UTF-8 that is not UTF-8 is read in the charset for
        // unlabelled text, or left as it came.
        if (platform::IsWellFormedUtf8(text)) return known;
        if (!undeclared) return std::nullopt;
        return ReadingCodePage(*undeclared, text, lookForC1);
    }
    if (known && !ascii) return ReadingCodePage(*known, text, lookForC1);
    if (undeclared) return ReadingCodePage(*undeclared, text, lookForC1);
    if (!declared.empty() && !known) return ReadingCodePage(kFallbackCodePage, text, lookForC1);
    // Undeclared or "us-ascii": only text that is 7-bit really is.
    if (Has8Bit(text)) return std::nullopt;
    if (encoding == TransferEncoding::kNone && !FindBinaryBlocks(body).empty())
        return std::nullopt;
    return kUsAsciiCodePage;
}

// Relabelling: the Content-Type field of the header [hs, bs) names
// `target`, written charset="..." in place of the charset parameter in
// whatever form it had. A Content-Type added to the article's own header
// comes with MIME-Version, without which readers ignore the label.
void ArticleRewriter::RelabelContentType(size_t hs, size_t bs, const std::string& target) {
    const std::string parameter = "charset=\"" + target + "\"";
    size_t p = FindField(hs, bs, kContentType);
    std::string_view header = m_text.View(hs, bs);
    size_t field = p - hs;
    if (header.compare(field, kCrLf.size(), kCrLf) == 0) {
        std::string added = "Content-Type: text/plain;\r\n\t" + parameter + "\r\n";
        if (hs == m_headerStart && m_text.BeginsWith(FindField(hs, bs, "MIME-Version"), kCrLf))
            added = "MIME-Version: 1.0\r\n" + added;
        m_text.Replace(p, p, added);
        return;
    }
    size_t fieldEnd = NextFieldIn(header, field);
    std::string_view f = header.substr(field, fieldEnd - field);
    std::optional<MimeParameter> old = FindMimeParameter(f, "charset");
    if (!old) {
        size_t insertAt = hs + fieldEnd - kCrLf.size();
        m_text.Replace(insertAt, insertAt, ";\r\n\t" + parameter);
        return;
    }
    m_text.Replace(p + old->start, p + old->end, parameter);
}

// The first field of [hs, bs) named `name` (letter case aside, blanks
// allowed before its ":"), or the empty line that ends the header.
size_t ArticleRewriter::FindField(size_t hs, size_t bs, std::string_view name) const {
    std::string_view header = m_text.View(hs, bs);
    size_t p = 0;
    while (p < header.size() && header.compare(p, kCrLf.size(), kCrLf) != 0) {
        size_t next = NextFieldIn(header, p);
        if (IsFieldNamed(header.substr(p, next - p), name)) break;
        p = next;
    }
    return hs + p;
}

// F4, C4: the header's Content-Transfer-Encoding, when it is one that
// matters here.
TransferEncoding ArticleRewriter::TransferEncodingOf(size_t hs, size_t bs) const {
    size_t p = FindField(hs, bs, "Content-Transfer-Encoding");
    if (m_text.BeginsWith(p, kCrLf)) return TransferEncoding::kNone;
    std::string_view header = m_text.View(hs, bs);
    size_t field = p - hs;
    p += FieldValueStart(header.substr(field, NextFieldIn(header, field) - field));
    if (m_text.BeginsWith(p, "quoted-printable")) return TransferEncoding::kQuotedPrintable;
    if (m_text.BeginsWith(p, "base64")) return TransferEncoding::kBase64;
    return TransferEncoding::kNone;
}

// The style link replaces the first <STYLE></STYLE> of an HTML body.
void ArticleRewriter::InsertStyleLink(size_t hs, size_t bs) {
    std::string_view body = m_text.View(bs, m_line);
    size_t at = body.find(kStyleElement);
    if (at == body.npos) return;
    std::string_view equals =
        TransferEncodingOf(hs, bs) == TransferEncoding::kQuotedPrintable ? "=3D" : "=";
    std::string link = "<LINK href" + std::string(equals) + "\"http://" + std::string(kStyleHost) +
                       "/artykuly.css\" type" + std::string(equals) + "text/css rel" +
                       std::string(equals) + "stylesheet>";
    m_text.Replace(bs + at, bs + at + kStyleElement.size(), link);
}

// The footer goes at the end of the body [bs, current line), in the
// body's charset and (D2) in its transfer encoding.
void ArticleRewriter::AppendFooter(size_t hs, size_t bs, const std::string& charset) {
    std::string footer = std::string(kFooterIntro) + m_in.ProductName + " " +
                         platform::FormatProductVersion(m_in.ProductVersion) + "\r\n" +
                         m_in.ProductUrl + "\r\n";
    footer = ConvertFromAnsi(footer, CodePageOf(charset));
    TransferEncoding encoding = TransferEncodingOf(hs, bs);
    if (encoding == TransferEncoding::kNone) {
        m_text.Replace(m_line, m_line, footer);
        return;
    }
    std::string_view body = m_text.View(bs, m_line);
    EncodedAppendix appendix = encoding == TransferEncoding::kQuotedPrintable
                                   ? AppendToQuotedPrintable(body, footer)
                                   : AppendToBase64(body, footer);
    m_text.Replace(bs + appendix.keep, m_line, appendix.text);
}

// A part of another type than the forced one goes, boundary line included.
void ArticleRewriter::RemovePart() {
    m_text.Replace(Current().partStart, m_line, {});
}

// Quoting in a text/plain part: n leading pairs of spaces become n ">".
void ArticleRewriter::QuoteIndent() {
    size_t pairs = 0;
    while (m_text.At(m_line + 2 * pairs) == ' ' && m_text.At(m_line + 2 * pairs + 1) == ' ')
        ++pairs;
    if (pairs > 0) m_text.ShrinkAhead(2 * pairs, std::string(pairs, '>'));
}

}  // namespace sitowiak::filter

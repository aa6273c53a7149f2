// A second, plain article rewriter for differential tests: every edit is
// one ResizeGap on the buffer, and every search runs on the NUL-terminated
// text. It has the same fixes as the library (F1-F4, C1,
// C4, C5, D1-D6) but none of its one-pass machinery, so it checks that the
// one-pass rewriter produces the same bytes. Quadratic; for small inputs.
// It shares the pieces that are not about scanning: the transfer
// encodings (with the footer's appendix), the binary block search and the
// MIME field reader.
#pragma once

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/BinaryBlocks.h"
#include "filter/Charsets.h"
#include "filter/DotStuffing.h"
#include "filter/MimeFields.h"
#include "filter/TBuforDyn.h"
#include "filter/TransferEncoding.h"
#include "platform/charset/CodePage.h"
#include "platform/core/ProductIdentity.h"

namespace sitowiak::filter::testing {

struct ReferenceInputs {
    std::string name, url;
    uint64_t version = 0;
    std::string source, forced, type;
    bool footer = false, style = false;
    std::string styleHost;
};

class ReferenceRewriter {
public:
    ReferenceRewriter(TBuforDyn& b, size_t start, const ReferenceInputs& in) : b_(b), in_(in) {
        line_ = hs_ = std::min(start, Len());
        budget_ = 4 * Len() + (size_t{1} << 20);
        if (!in_.forced.empty()) target_ = KnownCodePageOf(in_.forced);
        lv_.push_back(Level{});
    }

    // The scan, under one handler for every error; growth past the budget
    // (GapText.h) counts as exhausted memory.
    void Run() {
        try {
            while (line_ + 2 <= Len()) {
                size_t e = Search(line_, "\r\n");
                lineEnd_ = e == npos ? Len() : e;
                if (inHeader_)
                    Header();
                else
                    Body();
                line_ = lineEnd_ + 2;
            }
        } catch (...) {
        }
    }

private:
    static constexpr size_t npos = std::string_view::npos;
    char* D() const { return b_.Data(); }
    size_t Len() const { return static_cast<size_t>(b_.Length()); }
    std::string_view Text(size_t from) const {
        return std::string_view(D() + from, std::strlen(D() + from));
    }
    static char Low(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
    bool Begins(size_t p, std::string_view x) const {
        for (size_t i = 0; i < x.size(); ++i) {
            char c = p + i < Len() ? D()[p + i] : '\0';
            if (Low(c) != Low(x[i])) return false;
            if (c == '\0') return true;
        }
        return true;
    }
    size_t Search(size_t from, std::string_view pat) const {
        size_t at = Text(from).find(pat);
        return at == npos ? npos : from + at;
    }
    void Edit(size_t a, size_t b, const std::string& text) {
        ptrdiff_t delta = ptrdiff_t(text.size()) - ptrdiff_t(b - a);
        if (delta > 0 && Len() + size_t(delta) > budget_) throw std::bad_alloc();
        char* at = b_.ResizeGap(D() + a, D() + b, int32_t(delta));
        std::memcpy(at, text.data(), text.size());
        std::vector<size_t*> positions = {&line_, &lineEnd_, &hs_, &bs_, &ct_};
        for (Level& l : lv_) positions.insert(positions.end(), {&l.ps, &l.phs, &l.pbs, &l.pct});
        for (size_t* p : positions) {
            if (*p == npos) continue;
            if (*p >= b)
                *p = size_t(ptrdiff_t(*p) + delta);
            else if (*p > a)
                *p = std::min(*p, a + text.size());
        }
    }
    size_t NextField(size_t p) const {
        if (Begins(p, "\r\n")) return p;
        for (;;) {
            size_t e = Search(p, "\r\n");
            if (e == npos) return p + Text(p).size();
            p = e + 2;
            if (p >= Len() || (D()[p] != '\t' && D()[p] != ' ')) return p;
        }
    }
    std::string_view Field(size_t p) const { return std::string_view(D() + p, NextField(p) - p); }
    bool IsContentType() const {
        return IsFieldNamed(std::string_view(D() + line_, lineEnd_ - line_), "Content-Type");
    }
    std::string Param(std::string_view field, std::string_view name) const {
        auto p = FindMimeParameter(field, name);
        return p && p->closed ? p->value : std::string();
    }
    void Header() {
        if (lineEnd_ == line_) {
            inHeader_ = false;
            bs_ = lineEnd_ + 2;
            lv_[0].bl = "--" + boundary_;
            if (ct_ != npos && !boundary_.empty() && Begins(ct_, "multipart/alternative")) {
                size_t at = Search(line_, "\r\n--" + boundary_);
                lineEnd_ = at == npos ? Len() : at;
            }
        } else if (IsContentType()) {
            std::string_view f = Field(line_);
            ct_ = line_ + FieldValueStart(f);
            charset_ = Param(f, "charset");
            if (Begins(ct_, "multipart/"))
                if (auto bd = FindMimeParameter(f, "boundary"); bd && bd->closed)
                    boundary_ = bd->value;
        }
    }
    bool Dot() const { return Begins(line_, ".\r\n"); }
    void Body() {
        if (ct_ != npos && Begins(ct_, "text/html")) {
            if (Dot() && in_.style) Style(hs_, bs_);
        } else if (ct_ == npos || Begins(ct_, "text/plain")) {
            if (!Dot()) return;
            if (target_ && Recode(hs_, bs_, charset_)) charset_ = in_.forced;
            if (in_.footer) Footer(hs_, bs_, charset_);
        } else if (Begins(ct_, "multipart/")) {
            Multipart();
        }
    }
    bool Pad(size_t p) const {
        for (; p < lineEnd_; ++p)
            if (D()[p] != ' ' && D()[p] != '\t') return false;
        return true;
    }
    void Pop() {
        bool kept = lv_.back().kept;
        lv_.pop_back();
        lv_.back().partKept = lv_.back().partKept || kept;
    }
    void Multipart() {
        size_t hit = npos;
        for (size_t d = lv_.size(); d-- > 0 && hit == npos;) {
            if (!Begins(line_, lv_[d].bl)) continue;
            size_t after = line_ + lv_[d].bl.size();
            if (Begins(after, "--")) after += 2;
            if (d == 0 || Pad(after)) hit = d;
        }
        if (hit == npos) {
            PartLine();
            return;
        }
        while (lv_.size() - 1 > hit) {
            if (lv_.back().ps != npos) Close();
            Pop();
        }
        if (lv_.back().ps != npos) Close();
        size_t after = line_ + lv_.back().bl.size();
        bool closing = Begins(after, "--") && Pad(after + 2);
        if (closing && lv_.size() > 1) {
            Pop();
            return;
        }
        Level& l = lv_.back();
        Level fresh;
        fresh.bl = l.bl;
        fresh.kept = l.kept;  // of the level, not of the part
        l = fresh;
        l.inHdr = true;
        l.epi = closing;
        l.ps = line_;
        l.phs = lineEnd_ + 2;
    }
    void PartLine() {
        Level& l = lv_.back();
        if (!l.inHdr) {
            // C10: only a read article that is rewritten anyway, never a post.
            bool asked = !in_.forced.empty() || !in_.type.empty() || in_.style;
            if (!in_.footer && asked && l.pct != npos && Begins(l.pct, "text/plain")) {
                size_t n = 0;
                while (D()[line_ + 2 * n] == ' ' && D()[line_ + 2 * n + 1] == ' ') ++n;
                if (n > 0) Edit(line_, line_ + 2 * n, std::string(n, '>'));
            }
            return;
        }
        if (lineEnd_ == line_) {
            l.inHdr = false;
            l.pbs = lineEnd_ + 2;
            if (l.pb.empty() || l.epi) return;
            if (lv_.size() == 16) {
                l.tooDeep = true;
                return;
            }
            for (const Level& o : lv_)
                if (Same(o.bl, "--" + l.pb)) return;  // ambiguous: one part
            Level n;
            n.bl = "--" + l.pb;
            lv_.push_back(n);
        } else if (IsContentType()) {
            std::string_view f = Field(line_);
            l.pct = line_ + FieldValueStart(f);
            l.cs = Param(f, "charset");
            l.pb.clear();
            if (Begins(l.pct, "multipart/"))
                if (auto bd = FindMimeParameter(f, "boundary"); bd && bd->closed)
                    l.pb = bd->value;
        }
    }
    static bool Same(const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (Low(a[i]) != Low(b[i])) return false;
        return true;
    }
    void Close() {
        Level& l = lv_.back();
        bool body = !l.inHdr;
        if (l.pct != npos && Begins(l.pct, "text/html")) {
            if (in_.style && body) Style(l.phs, l.pbs);
        } else if (l.pct != npos && Begins(l.pct, "text/plain") && body) {
            if (target_ && Recode(l.phs, l.pbs, l.cs)) l.cs = in_.forced;
            if (in_.footer) Footer(l.phs, l.pbs, l.cs);
        }
        if (in_.type.empty()) return;
        if (l.tooDeep || l.partKept || (l.pct != npos && Begins(l.pct, in_.type)))
            l.kept = true;
        else
            Edit(l.ps, line_, "");
    }
    size_t FindField(size_t p, std::string_view name) const {
        while (!Begins(p, "\r\n") && p < Len()) {
            if (IsFieldNamed(Field(p), name)) return p;
            p = NextField(p);
        }
        return p;
    }
    TransferEncoding Encoding(size_t hs) const {
        size_t p = FindField(hs, "Content-Transfer-Encoding");
        if (Begins(p, "\r\n")) return TransferEncoding::kNone;
        p += FieldValueStart(Field(p));
        if (Begins(p, "quoted-printable")) return TransferEncoding::kQuotedPrintable;
        if (Begins(p, "base64")) return TransferEncoding::kBase64;
        return TransferEncoding::kNone;
    }
    // Labels that lie: UTF-8 under a single-byte label, C1 bytes under
    // ISO-8859-n.
    static uint32_t Reading(uint32_t cp, const std::string& text) {
        if (!platform::SingleByteMap(cp, platform::kCodePageUtf8)) return cp;
        if (EightBit(text) && platform::IsWellFormedUtf8(text)) return platform::kCodePageUtf8;
        auto windows = WindowsCodePageFor(cp);
        bool c1 = std::any_of(text.begin(), text.end(),
                              [](char c) { return (unsigned char)c >= 0x80 && (unsigned char)c < 0xA0; });
        return windows && c1 ? *windows : cp;
    }
    static bool EightBit(const std::string& t) {
        return std::any_of(t.begin(), t.end(), [](char c) { return (unsigned char)c >= 0x80; });
    }
    bool Recode(size_t hs, size_t bs, const std::string& declared) {
        std::string body(D() + bs, line_ - bs);
        TransferEncoding te = Encoding(hs);
        bool qp = te == TransferEncoding::kQuotedPrintable;
        std::optional<uint32_t> known = KnownCodePageOf(declared);
        // What would be converted: without the transfer encoding, without
        // yEnc blocks.
        std::string text;
        if (te != TransferEncoding::kNone) {
            text = qp ? DecodeQuotedPrintable(body) : DecodeBase64(body);
        } else {
            size_t done = 0;
            for (auto [a, b] : FindBinaryBlocks(body, false)) {
                text += body.substr(done, a - done);
                done = b;
            }
            text += body.substr(done);
        }
        uint32_t from;
        if (known == platform::kCodePageUtf8) {
            if (platform::IsWellFormedUtf8(text))
                from = *known;
            else if (!in_.source.empty())
                from = Reading(CodePageOf(in_.source), text);
            else
                return false;
        } else if (known && *known != kUsAsciiCodePage) {
            from = Reading(*known, text);
        } else if (!in_.source.empty()) {
            from = Reading(CodePageOf(in_.source), text);
        } else if (!declared.empty() && !known) {
            from = Reading(kFallbackCodePage, text);
        } else {
            if (EightBit(text)) return false;
            if (te == TransferEncoding::kNone && !FindBinaryBlocks(body).empty()) return false;
            from = kUsAsciiCodePage;
        }
        uint32_t to = *target_;
        if (from != to && te == TransferEncoding::kNone &&
            !(platform::IsAsciiTransparent(from) && platform::IsAsciiTransparent(to))) {
            // D5: out of the wire form, converted, stuffed again.
            std::string probe;
            if (!platform::AppendConverted(kUsAsciiCodePage, to, ".\r\n", probe) ||
                probe != ".\r\n")
                return false;
            std::string lines = Unstuffed(body), out, piece;
            bool lineStart = true;
            size_t done = 0;
            for (auto [a, b] : FindBinaryBlocks(lines, true)) {
                piece.clear();
                if (!platform::AppendConverted(from, to, lines.substr(done, a - done), piece))
                    return false;
                AppendStuffed(piece, out, lineStart);
                AppendDotsStuffed(lines.substr(a, b - a), out, lineStart);
                done = b;
            }
            piece.clear();
            if (!platform::AppendConverted(from, to, lines.substr(done), piece)) return false;
            AppendStuffed(piece, out, lineStart);
            if (!lineStart) out += "\r\n";
            Edit(bs, line_, out);
        } else if (from != to && te == TransferEncoding::kNone) {
            std::string out;
            size_t done = 0;
            bool uu = !platform::IsAsciiTransparent(from) || !platform::IsAsciiTransparent(to);
            for (auto [a, b] : FindBinaryBlocks(body, uu)) {
                if (!platform::AppendConverted(from, to, body.substr(done, a - done), out))
                    return false;
                out += body.substr(a, b - a);
                done = b;
            }
            if (!platform::AppendConverted(from, to, body.substr(done), out)) return false;
            Edit(bs, line_, out);
        } else if (from != to) {
            std::string c;
            if (!platform::AppendConverted(
                    from, to, qp ? DecodeQuotedPrintable(body) : DecodeBase64(body), c))
                return false;
            Edit(bs, line_, qp ? EncodeQuotedPrintable(c) : EncodeBase64(c));
        }
        size_t p = FindField(hs, "Content-Type");
        const std::string cs = "charset=\"" + in_.forced + "\"";
        if (Begins(p, "\r\n")) {
            std::string add = "Content-Type: text/plain;\r\n\t" + cs + "\r\n";
            if (hs == hs_ && Begins(FindField(hs, "MIME-Version"), "\r\n"))
                add = "MIME-Version: 1.0\r\n" + add;
            Edit(p, p, add);
            return true;
        }
        size_t end = NextField(p);
        auto old = FindMimeParameter(std::string_view(D() + p, end - p), "charset");
        if (!old) {
            Edit(end - 2, end - 2, ";\r\n\t" + cs);
            return true;
        }
        Edit(p + old->start, p + old->end, cs);
        return true;
    }
    void Style(size_t hs, size_t bs) {
        std::string_view body(D() + bs, line_ - bs);
        size_t at = body.find("<STYLE></STYLE>");
        if (at == npos) return;
        std::string eq = Encoding(hs) == TransferEncoding::kQuotedPrintable ? "=3D" : "=";
        Edit(bs + at, bs + at + 15,
             "<LINK href" + eq + "\"http://" + in_.styleHost + "/artykuly.css\" type" + eq +
                 "text/css rel" + eq + "stylesheet>");
    }
    void Footer(size_t hs, size_t bs, const std::string& cs) {
        std::string f = "-- \r\nPrzefiltrowane przez " + in_.name + " " +
                        platform::FormatProductVersion(in_.version) + "\r\n" + in_.url + "\r\n";
        f = ConvertFromAnsi(f, CodePageOf(cs));
        TransferEncoding te = Encoding(hs);
        if (te == TransferEncoding::kNone) {
            Edit(line_, line_, f);
            return;
        }
        std::string_view body(D() + bs, line_ - bs);
        EncodedAppendix ap = te == TransferEncoding::kQuotedPrintable
                                 ? AppendToQuotedPrintable(body, f)
                                 : AppendToBase64(body, f);
        Edit(bs + ap.keep, line_, ap.text);
    }

    TBuforDyn& b_;
    const ReferenceInputs& in_;
    size_t line_ = 0, lineEnd_ = 0, hs_ = 0, bs_ = npos, ct_ = npos;
    // One multipart level: the article's body, or a nested multipart part's.
    struct Level {
        std::string bl = "--";  // boundary line
        size_t ps = npos, phs = npos, pbs = npos, pct = npos;
        bool inHdr = false, epi = false;
        std::string cs = "us-ascii", pb;  // part charset, part's own boundary
        bool partKept = false, tooDeep = false, kept = false;
    };
    std::vector<Level> lv_;
    std::optional<uint32_t> target_;
    size_t budget_ = 0;
    bool inHeader_ = true;
    std::string charset_ = "us-ascii", boundary_;
};

}  // namespace sitowiak::filter::testing

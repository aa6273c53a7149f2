// A second, plain article rewriter for differential tests: every edit is
// one ResizeGap on the buffer, and every search runs on the NUL-terminated
// text. It has the same fixes as the library (F1-F4, C1,
// C4, C5) but none of its one-pass machinery, so it checks that the
// one-pass rewriter produces the same bytes. Quadratic; for small inputs.
#pragma once

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/Charsets.h"
#include "filter/TBuforDyn.h"
#include "filter/TransferEncoding.h"
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
        for (size_t* p : {&line_, &lineEnd_, &hs_, &bs_, &ct_, &ps_, &phs_, &pbs_, &pct_}) {
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
    std::optional<std::string> Param(size_t lineStart, size_t from, std::string_view name) const {
        std::string_view f(D() + lineStart, NextField(lineStart) - lineStart);
        size_t at = f.find(name, from - lineStart);
        if (at == npos) return std::nullopt;
        size_t i = at + name.size();
        if (i < f.size() && f[i] == '"') {
            size_t q = f.find('"', i + 1);
            if (q == npos) return std::nullopt;
            return std::string(f.substr(i + 1, q - i - 1));
        }
        size_t j = i;
        while (j < f.size() && !std::strchr(";\t\r\n ", f[j]) && f[j] != '\0') ++j;
        return std::string(f.substr(i, j - i));
    }
    void Header() {
        if (lineEnd_ == line_) {
            inHeader_ = false;
            bs_ = lineEnd_ + 2;
            if (ct_ != npos && !boundary_.empty() && Begins(ct_, "multipart/alternative")) {
                size_t at = Search(line_, "\r\n--" + boundary_);
                lineEnd_ = at == npos ? Len() : at;
            }
        } else if (Begins(line_, "Content-Type: ")) {
            ct_ = line_ + 14;
            charset_ = Param(line_, ct_, "charset=").value_or("");
            if (Begins(ct_, "multipart/"))
                if (auto bd = Param(line_, ct_, "boundary=")) boundary_ = *bd;
        }
    }
    bool Dot() const { return Begins(line_, ".\r\n"); }
    void Body() {
        if (ct_ != npos && Begins(ct_, "text/html")) {
            if (Dot() && in_.style) Style(hs_, bs_);
        } else if (ct_ == npos || Begins(ct_, "text/plain")) {
            if (!Dot()) return;
            if (!in_.forced.empty()) {
                Recode(hs_, bs_, charset_);
                charset_ = in_.forced;
            }
            if (in_.footer) Footer(charset_);
        } else if (Begins(ct_, "multipart/")) {
            Multipart();
        }
    }
    void Multipart() {
        if (!Begins(line_, "--" + boundary_)) {
            if (inPartHeader_) {
                if (lineEnd_ == line_) {
                    inPartHeader_ = false;
                    pbs_ = lineEnd_ + 2;
                } else if (Begins(line_, "Content-Type: ")) {
                    pct_ = line_ + 14;
                    pcharset_ = Param(line_, pct_, "charset=").value_or("");
                }
            } else if (pct_ != npos && Begins(pct_, "text/plain")) {
                size_t n = 0;
                while (D()[line_ + 2 * n] == ' ' && D()[line_ + 2 * n + 1] == ' ') ++n;
                if (n > 0) Edit(line_, line_ + 2 * n, std::string(n, '>'));
            }
            return;
        }
        if (ps_ != npos) {
            bool body = !inPartHeader_;
            if (pct_ != npos && Begins(pct_, "text/html")) {
                if (in_.style && body) Style(phs_, pbs_);
            } else if (pct_ != npos && Begins(pct_, "text/plain") && body) {
                if (!in_.forced.empty()) {
                    Recode(phs_, pbs_, pcharset_);
                    pcharset_ = in_.forced;
                }
                if (in_.footer) Footer(pcharset_);
            }
            if (!in_.type.empty() && (pct_ == npos || !Begins(pct_, in_.type)))
                Edit(ps_, line_, "");
        }
        inPartHeader_ = true;
        pct_ = npos;
        pcharset_ = "us-ascii";
        ps_ = line_;
        phs_ = lineEnd_ + 2;
    }
    size_t FindField(size_t p, std::string_view name) const {
        while (!Begins(p, "\r\n") && p < Len()) {
            if (Begins(p, std::string(name) + ": ")) return p;
            p = NextField(p);
        }
        return p;
    }
    TransferEncoding Encoding(size_t hs) const {
        size_t p = FindField(hs, "Content-Transfer-Encoding");
        if (Begins(p, "\r\n")) return TransferEncoding::kNone;
        p += 27;
        while (D()[p] == ' ' || D()[p] == '\t') ++p;
        if (Begins(p, "quoted-printable")) return TransferEncoding::kQuotedPrintable;
        if (Begins(p, "base64")) return TransferEncoding::kBase64;
        return TransferEncoding::kNone;
    }
    void Recode(size_t hs, size_t bs, const std::string& source) {
        uint32_t from = CodePageOf(in_.source.empty() ? source : in_.source);
        uint32_t to = CodePageOf(in_.forced);
        std::string body(D() + bs, line_ - bs);
        TransferEncoding te = Encoding(hs);
        if (te == TransferEncoding::kNone) {
            Edit(bs, line_, ConvertCodePage(body, from, to));
        } else if (from != to) {
            bool qp = te == TransferEncoding::kQuotedPrintable;
            std::string c =
                ConvertCodePage(qp ? DecodeQuotedPrintable(body) : DecodeBase64(body), from, to);
            Edit(bs, line_, qp ? EncodeQuotedPrintable(c) : EncodeBase64(c));
        }
        size_t p = FindField(hs, "Content-Type");
        const std::string& t = in_.forced;
        if (Begins(p, "\r\n")) {
            Edit(p, p, "Content-Type: text/plain;\r\n\tcharset=\"" + t + "\"\r\n");
            return;
        }
        size_t end = NextField(p);
        std::string_view f(D() + p, end - p);
        size_t at = f.find("charset=");
        if (at == npos) {
            Edit(end - 2, end - 2, ";\r\n\tcharset=\"" + t + "\"");
            return;
        }
        size_t i = p + at + 8, j;
        if (D()[i] == '"') {
            j = ++i;
            while (D()[j] != '"' && !Begins(j, "\r\n")) ++j;
        } else {
            j = i;
            while (!std::strchr(";\t\r\n ", D()[j])) ++j;
        }
        Edit(i, j, t);
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
    void Footer(const std::string& cs) {
        std::string f = "-- \r\nPrzefiltrowane przez " + in_.name + " " +
                        platform::FormatProductVersion(in_.version) + "\r\n" + in_.url + "\r\n";
        Edit(line_, line_, ConvertFromAnsi(f, CodePageOf(cs)));
    }

    TBuforDyn& b_;
    const ReferenceInputs& in_;
    size_t line_ = 0, lineEnd_ = 0, hs_ = 0, bs_ = npos, ct_ = npos;
    size_t ps_ = npos, phs_ = npos, pbs_ = npos, pct_ = npos, budget_ = 0;
    bool inHeader_ = true, inPartHeader_ = false;
    std::string charset_ = "us-ascii", pcharset_ = "us-ascii", boundary_;
};

}  // namespace sitowiak::filter::testing

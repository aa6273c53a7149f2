#include "BinaryBlocks.h"

#include <algorithm>
#include <cstring>

#include "WireForm.h"

namespace sitowiak::filter {
namespace {

constexpr std::string_view kYencBegin = "=ybegin ";
constexpr std::string_view kYencEnd = "=yend";
constexpr std::string_view kUuBegin = "begin ";

bool IsLineStart(std::string_view text, size_t at) {
    return at == 0 || (at >= 2 && text.compare(at - 2, kCrLf.size(), kCrLf) == 0);
}

// The first occurrence of `needle` at or after `from` that starts a line;
// npos when there is none.
size_t FindAtLineStart(std::string_view text, size_t from, std::string_view needle) {
    while (from + needle.size() <= text.size()) {
        const void* hit =
            memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
        if (hit == nullptr) return text.npos;
        size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        if (IsLineStart(text, at)) return at;
        from = at + 1;
    }
    return text.npos;
}

size_t LineEndAfter(std::string_view text, size_t at) {
    size_t eol = text.find(kCrLf, at);
    return eol == text.npos ? text.size() : eol + kCrLf.size();
}

// "begin " followed by three or four octal digits and a space.
bool IsUuBeginLine(std::string_view text, size_t at) {
    size_t i = at + kUuBegin.size(), digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '7') ++i, ++digits;
    return digits >= 3 && digits <= 4 && i < text.size() && text[i] == ' ';
}

// The line "end", transport padding allowed after it.
size_t FindUuEnd(std::string_view text, size_t from) {
    for (size_t at = FindAtLineStart(text, from, "end"); at != text.npos;
         at = FindAtLineStart(text, at + 1, "end")) {
        size_t i = at + 3;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i == text.size() || text.compare(i, kCrLf.size(), kCrLf) == 0) return at;
    }
    return text.npos;
}

// The next "=ybegin " line: "=" is rare in a text that is not
// quoted-printable, so memchr finds the candidates fast.
size_t FindYencBegin(std::string_view body, size_t from) {
    while (from < body.size()) {
        const void* hit = std::memchr(body.data() + from, '=', body.size() - from);
        if (hit == nullptr) break;
        size_t at = static_cast<size_t>(static_cast<const char*>(hit) - body.data());
        if (IsLineStart(body, at) && body.compare(at, kYencBegin.size(), kYencBegin) == 0)
            return at;
        from = at + 1;
    }
    return body.npos;
}

// The next "begin NNN name" line.
size_t FindUuBegin(std::string_view body, size_t from) {
    for (size_t at = FindAtLineStart(body, from, kUuBegin); at != body.npos;
         at = FindAtLineStart(body, at + 1, kUuBegin))
        if (IsUuBeginLine(body, at)) return at;
    return body.npos;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> FindBinaryBlocks(std::string_view body, bool uuencoded) {
    std::vector<std::pair<size_t, size_t>> blocks;
    size_t yenc = FindYencBegin(body, 0);
    size_t uu = uuencoded ? FindUuBegin(body, 0) : body.npos;
    while (yenc != body.npos || uu != body.npos) {
        size_t at = std::min(yenc, uu);
        size_t close = at == yenc ? FindAtLineStart(body, LineEndAfter(body, at), kYencEnd)
                                  : FindUuEnd(body, LineEndAfter(body, at));
        size_t end = close == body.npos ? body.size() : LineEndAfter(body, close);
        blocks.emplace_back(at, end);
        if (yenc < end) yenc = FindYencBegin(body, end);
        if (uu < end) uu = FindUuBegin(body, end);
    }
    return blocks;
}

}  // namespace sitowiak::filter

#include "CodePage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "CodePageConverter.h"

namespace sitowiak::platform {
namespace {

// UTF-16 code units decoded per step of a chunked conversion.
constexpr size_t kWideChunk = 16384;
// Bytes encoded per step; a step that fills it simply runs again.
constexpr size_t kByteChunk = 65536;

bool IsAscii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

std::unique_ptr<ByteMap> BuildByteMap(CodePageConverter& from, CodePageConverter& to) {
    auto map = std::make_unique<ByteMap>();
    for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        const char* src = &byte;
        char16_t unit[2];
        char16_t* u = unit;
        from.Reset();
        from.ToWide(src, &byte + 1, u, unit + 2, true);
        if (u - unit != 1) return nullptr;
        const char16_t* us = unit;
        char out[8];
        char* o = out;
        to.Reset();
        to.FromWide(us, u, o, out + sizeof out, true);
        size_t n = static_cast<size_t>(o - out);
        if (n < 1 || n > 3) return nullptr;
        map->entry[b].length = static_cast<uint8_t>(n);
        std::memcpy(map->entry[b].bytes, out, n);
    }
    from.Reset();
    to.Reset();
    map->asciiIdentity = true;
    for (int b = 0; b < 0x80; ++b)
        if (map->entry[b].length != 1 || map->entry[b].bytes[0] != static_cast<char>(b))
            map->asciiIdentity = false;
    return map;
}

bool EightAscii(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & 0x8080808080808080ull) == 0;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        // Eight ASCII bytes at a time.
        if (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t n;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (c >= 0xC2 && c <= 0xDF)
            n = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < n || p[1] < low || p[1] > high) return false;
        for (size_t i = 2; i < n; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        p += n;
    }
    return true;
}

const ByteMap* SingleByteMap(uint32_t fromCodePage, uint32_t toCodePage) {
    thread_local std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<ByteMap>> maps;
    auto key = std::make_pair(fromCodePage, toCodePage);
    if (auto it = maps.find(key); it != maps.end()) return it->second.get();
    CodePageConverter* from = CodePageConverter::For(fromCodePage);
    CodePageConverter* to = CodePageConverter::For(toCodePage);
    std::unique_ptr<ByteMap> map;
    if (from != nullptr && to != nullptr && from->SingleByte() &&
        (to->SingleByte() || toCodePage == kCodePageUtf8))
        map = BuildByteMap(*from, *to);
    return maps.emplace(key, std::move(map)).first->second.get();
}

void AppendTranslated(const ByteMap& map, std::string_view src, std::string& dst) {
    // Room for the longest translation, cut back after: one pass over `src`.
    const size_t old = dst.size();
    dst.resize(old + src.size() * sizeof map.entry[0].bytes + 1);
    char* d = dst.data() + old;
    for (char c : src) d = map.Put(static_cast<unsigned char>(c), d);
    dst.resize(static_cast<size_t>(d - dst.data()));
}

size_t TranslatedLength(const ByteMap& map, std::string_view src) {
    size_t n = 0;
    size_t i = 0;
    if (map.asciiIdentity)
        for (; i + 8 <= src.size() && EightAscii(src.data() + i); i += 8) n += 8;
    for (; i < src.size(); ++i) {
        n += map.entry[static_cast<unsigned char>(src[i])].length;
        if (map.asciiIdentity)
            for (; i + 9 <= src.size() && EightAscii(src.data() + i + 1); i += 8) n += 8;
    }
    return n;
}

void TranslateBackward(const ByteMap& map, const char* src, size_t n, char* dstEnd) {
    // Each byte gives at least one byte, so in place the translation of
    // byte i starts at or after src + i: it covers only bytes already read.
    while (n > 0) {
        // Eight ASCII bytes at once: loaded before they are stored, and the
        // store starts at or after src + n - 8, so it covers only them.
        if (map.asciiIdentity && n >= 8 && EightAscii(src + n - 8)) {
            uint64_t word;
            std::memcpy(&word, src + n - 8, 8);
            dstEnd -= 8;
            std::memcpy(dstEnd, &word, 8);
            n -= 8;
            continue;
        }
        auto b = static_cast<unsigned char>(src[--n]);
        const ByteMap::Entry& e = map.entry[b];
        dstEnd -= e.length;
        dstEnd[0] = e.bytes[0];
        if (e.length > 1) {
            dstEnd[1] = e.bytes[1];
            if (e.length > 2) dstEnd[2] = e.bytes[2];
        }
    }
}

uint32_t GetACP() {
    return kCodePageUtf8;
}

bool IsAscii(std::string_view text) {
    // Eight bytes at a time; the compiler does not vectorise a byte loop here.
    const char* p = text.data();
    const char* end = p + text.size();
    uint64_t any = 0;
    for (; end - p >= 8; p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        any |= word;
    }
    for (; p < end; ++p) any |= static_cast<unsigned char>(*p);
    return (any & 0x8080808080808080ull) == 0;
}

bool IsValidCodePage(uint32_t codePage) {
    return CodePageConverter::For(codePage) != nullptr;
}

bool IsAsciiTransparent(uint32_t codePage) {
    CodePageConverter* converter = CodePageConverter::For(codePage);
    return converter != nullptr && converter->AsciiTransparent();
}

bool ConvertsPieceByPiece(uint32_t codePage) {
    if (codePage == kCodePageUtf8) return true;
    CodePageConverter* converter = CodePageConverter::For(codePage);
    return converter != nullptr && converter->SingleByte();
}

bool AppendWideFromMultiByte(uint32_t codePage, std::string_view src, std::u16string& dst) {
    CodePageConverter* converter = CodePageConverter::For(codePage);
    if (converter == nullptr) return false;
    size_t old = dst.size();
    if (converter->AsciiTransparent() && IsAscii(src)) {
        dst.resize(old + src.size());
        std::copy(src.begin(), src.end(), dst.begin() + static_cast<ptrdiff_t>(old));
        return true;
    }
    // A byte never gives more than one code unit, except where a converter
    // writes a pair for a 4-byte sequence: the loop grows the room if needed.
    dst.resize(old + src.size() + 16);
    const char* s = src.data();
    char16_t* d = dst.data() + old;
    while (!converter->ToWide(s, src.data() + src.size(), d, dst.data() + dst.size(), true)) {
        size_t used = static_cast<size_t>(d - dst.data());
        dst.resize(dst.size() * 2);
        d = dst.data() + used;
    }
    dst.resize(static_cast<size_t>(d - dst.data()));
    return true;
}

bool AppendMultiByteFromWide(uint32_t codePage, std::u16string_view src, std::string& dst) {
    CodePageConverter* converter = CodePageConverter::For(codePage);
    if (converter == nullptr) return false;
    size_t old = dst.size();
    if (converter->AsciiTransparent() && IsAscii(src)) {
        dst.resize(old + src.size());
        for (size_t i = 0; i < src.size(); ++i) dst[old + i] = static_cast<char>(src[i]);
        return true;
    }
    dst.resize(old + src.size() + src.size() / 2 + 16);
    const char16_t* s = src.data();
    char* d = dst.data() + old;
    while (!converter->FromWide(s, src.data() + src.size(), d, dst.data() + dst.size(), true)) {
        size_t used = static_cast<size_t>(d - dst.data());
        dst.resize(dst.size() * 2);
        d = dst.data() + used;
    }
    dst.resize(static_cast<size_t>(d - dst.data()));
    return true;
}

bool AppendConverted(uint32_t fromCodePage, uint32_t toCodePage, std::string_view src,
                     std::string& dst) {
    CodePageConverter* from = CodePageConverter::For(fromCodePage);
    CodePageConverter* to = CodePageConverter::For(toCodePage);
    if (from == nullptr || to == nullptr) return false;
    if (from->AsciiTransparent() && to->AsciiTransparent() && IsAscii(src)) {
        dst.append(src);
        return true;
    }
    if (fromCodePage == kCodePageUtf8 && toCodePage == kCodePageUtf8 && IsWellFormedUtf8(src)) {
        dst.append(src);
        return true;
    }
    if (const ByteMap* map = SingleByteMap(fromCodePage, toCodePage)) {
        size_t old = dst.size();
        dst.resize(old + TranslatedLength(*map, src));
        TranslateBackward(*map, src.data(), src.size(), dst.data() + dst.size());
        return true;
    }
    thread_local std::vector<char16_t> wide(kWideChunk);
    thread_local std::vector<char> bytes(kByteChunk);
    const char* s = src.data();
    const char* end = s + src.size();
    for (;;) {
        char16_t* w = wide.data();
        bool decoded = from->ToWide(s, end, w, wide.data() + wide.size(), true);
        const char16_t* ws = wide.data();
        for (;;) {
            char* b = bytes.data();
            bool encoded = to->FromWide(ws, w, b, bytes.data() + bytes.size(), decoded);
            dst.append(bytes.data(), static_cast<size_t>(b - bytes.data()));
            if (encoded) break;
        }
        if (decoded) return true;
    }
}

int MultiByteToWideChar(uint32_t codePage, const char* src, int srcLength, char16_t* dst,
                        int dstLength) {
    if (src == nullptr || dstLength < 0) return 0;
    size_t length = srcLength < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLength);
    std::u16string wide;
    if (!AppendWideFromMultiByte(codePage, std::string_view(src, length), wide)) return 0;
    if (dstLength == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(dstLength)) return 0;
    std::copy(wide.begin(), wide.end(), dst);
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(uint32_t codePage, const char16_t* src, int srcLength, char* dst,
                        int dstLength) {
    if (src == nullptr || dstLength < 0) return 0;
    size_t length = srcLength < 0 ? std::char_traits<char16_t>::length(src) + 1
                                  : static_cast<size_t>(srcLength);
    std::string bytes;
    if (!AppendMultiByteFromWide(codePage, std::u16string_view(src, length), bytes)) return 0;
    if (dstLength == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(dstLength)) return 0;
    std::copy(bytes.begin(), bytes.end(), dst);
    return static_cast<int>(bytes.size());
}

}  // namespace sitowiak::platform

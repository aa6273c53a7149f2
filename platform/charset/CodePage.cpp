#include "CodePage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "CodePageConverter.h"

namespace sitowiak::platform {
namespace {

// UTF-16 code units decoded per step of a chunked conversion.
constexpr size_t kWideChunk = 16384;
// Bytes encoded per step; a step that fills it simply runs again.
constexpr size_t kByteChunk = 65536;

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}
bool IsAscii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

uint32_t GetACP() { return kCodePageUtf8; }

bool IsValidCodePage(uint32_t codePage) { return CodePageConverter::For(codePage) != nullptr; }

bool IsAsciiTransparent(uint32_t codePage) {
    CodePageConverter* converter = CodePageConverter::For(codePage);
    return converter != nullptr && converter->AsciiTransparent();
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

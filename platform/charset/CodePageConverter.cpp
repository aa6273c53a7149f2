#include "CodePageConverter.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

namespace sitowiak::platform {
namespace {

struct CodePageName {
    uint32_t codePage;
    const char* icuName;  // nullptr: our own table
};

// Windows code page numbers and the ICU converters that stand for them.
constexpr auto kCodePages = std::to_array<CodePageName>({
    {20127, "US-ASCII"},    {65001, "UTF-8"},       {65000, "UTF-7"},
    {874, "windows-874"},   {1250, "windows-1250"}, {1251, "windows-1251"},
    {1252, "windows-1252"}, {1253, "windows-1253"}, {1254, "windows-1254"},
    {1255, "windows-1255"}, {1256, "windows-1256"}, {1257, "windows-1257"},
    {1258, "windows-1258"}, {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {38598, "ISO-8859-8"},  {28599, "ISO-8859-9"},  {28600, "ISO-8859-10"},
    {28601, "ISO-8859-11"}, {28603, "ISO-8859-13"}, {28604, "ISO-8859-14"},
    {28605, "ISO-8859-15"}, {28606, nullptr},       {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {852, "ibm-852"},       {850, "ibm-850"},
    {866, "ibm-866"},       {437, "ibm-437"},       {10029, "x-mac-centraleurroman"},
    {10000, "macintosh"},   {932, "windows-31j"},   {51932, "EUC-JP"},
    {50220, "ISO-2022-JP"}, {936, "windows-936"},   {950, "windows-950"},
    {949, "windows-949"},   {51949, "EUC-KR"},      {54936, "GB18030"},
});

// ISO-8859-16 (latin10), bytes 0xA0-0xFF; 0x00-0x9F map to U+0000-U+009F.
constexpr std::array<char16_t, 96> kLatin10High = {
    0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB,
    0x0179, 0x00AD, 0x017A, 0x017B, 0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7,
    0x017E, 0x010D, 0x0219, 0x00BB, 0x0152, 0x0153, 0x0178, 0x017C, 0x00C0, 0x00C1, 0x00C2, 0x0102,
    0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A, 0x0170, 0x00D9, 0x00DA, 0x00DB,
    0x00DC, 0x0118, 0x021A, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x0144, 0x00F2, 0x00F3,
    0x00F4, 0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF,
};

// Every invalid or unassigned input sequence becomes one U+FFFD (ICU's own
// substitute callback would write U+001A for code pages whose table says so).
void ToWideReplacementCallback(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                               UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;
    static const UChar kReplacement = 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, error);
}

class IcuConverter final : public CodePageConverter {
public:
    explicit IcuConverter(UConverter* converter) : m_converter(converter) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_setToUCallBack(m_converter, ToWideReplacementCallback, nullptr, nullptr, nullptr,
                            &error);
        ucnv_setFallback(m_converter, true);
        // UTF-8 keeps its own substitute (U+FFFD) for unpaired surrogates.
        if (ucnv_getType(m_converter) != UCNV_UTF8) {
            error = U_ZERO_ERROR;
            ucnv_setSubstChars(m_converter, "?", 1, &error);
        }
        ProbeAsciiTransparency();
    }
    ~IcuConverter() override { ucnv_close(m_converter); }

    bool ToWide(const char*& src, const char* srcEnd, char16_t*& dst, char16_t* dstEnd,
                bool flush) override {
        UErrorCode error = U_ZERO_ERROR;
        UChar* target = reinterpret_cast<UChar*>(dst);
        ucnv_toUnicode(m_converter, &target, reinterpret_cast<UChar*>(dstEnd), &src, srcEnd,
                       nullptr, flush, &error);
        dst = reinterpret_cast<char16_t*>(target);
        if (error == U_BUFFER_OVERFLOW_ERROR) return false;
        src = srcEnd;  // any other error: the rest is not convertible
        return true;
    }
    bool FromWide(const char16_t*& src, const char16_t* srcEnd, char*& dst, char* dstEnd,
                  bool flush) override {
        UErrorCode error = U_ZERO_ERROR;
        const UChar* source = reinterpret_cast<const UChar*>(src);
        ucnv_fromUnicode(m_converter, &dst, dstEnd, &source, reinterpret_cast<const UChar*>(srcEnd),
                         nullptr, flush, &error);
        src = reinterpret_cast<const char16_t*>(source);
        if (error == U_BUFFER_OVERFLOW_ERROR) return false;
        src = srcEnd;
        return true;
    }
    void Reset() override { ucnv_reset(m_converter); }
    size_t MaxBytesPerUnit() const override {
        // Stateful encoders may add an escape sequence before a character.
        return static_cast<size_t>(ucnv_getMaxCharSize(m_converter)) + 8;
    }

private:
    UConverter* m_converter;
};

// A single-byte code page as two tables: 256 bytes to UTF-16, and every BMP
// code unit to a byte or to "?". The tables are filled from the ICU
// converter (fallbacks included) when there is one, so the result is ICU's,
// with two corrections: bytes 0x00-0x7F are ASCII (ICU's IBM PC tables swap
// 0x1A, 0x1C and 0x7F), and known gaps of ICU's tables are filled.
class SingleByteConverter final : public CodePageConverter {
public:
    SingleByteConverter(uint32_t codePage, UConverter* icu) : m_encode(65536, kUnmapped) {
        for (int b = 0; b < 256; ++b) m_decode[b] = b < 0x80 ? char16_t(b) : DecodeWith(icu, b);
        if (codePage == 28606)
            for (int b = 0x80; b < 256; ++b)
                m_decode[b] = b < 0xA0 ? char16_t(b) : kLatin10High[b - 0xA0];
        if (codePage == 852 && m_decode[0xAA] == 0xFFFD) m_decode[0xAA] = 0x00AC;
        for (int b = 255; b >= 0; --b)
            if (m_decode[b] != 0xFFFD) m_encode[m_decode[b]] = static_cast<uint16_t>(b);
        if (icu != nullptr) AddFallbacks(icu);
        ProbeAsciiTransparency();
    }

    bool ToWide(const char*& src, const char* srcEnd, char16_t*& dst, char16_t* dstEnd,
                bool) override {
        size_t n =
            std::min<size_t>(static_cast<size_t>(srcEnd - src), static_cast<size_t>(dstEnd - dst));
        for (size_t i = 0; i < n; ++i) dst[i] = m_decode[static_cast<unsigned char>(src[i])];
        src += n;
        dst += n;
        return src == srcEnd;
    }
    bool FromWide(const char16_t*& src, const char16_t* srcEnd, char*& dst, char* dstEnd,
                  bool) override {
        while (src < srcEnd) {
            char16_t unit = *src;
            // A surrogate pair is one character the target lacks: one "?",
            // written for its lead unit, also when the pair is split between
            // two calls.
            bool trail = unit >= 0xDC00 && unit <= 0xDFFF;
            if (trail && m_afterLead) {
                ++src;
                m_afterLead = false;
                continue;
            }
            if (dst == dstEnd) return false;
            ++src;
            m_afterLead = unit >= 0xD800 && unit <= 0xDBFF;
            uint16_t byte = m_encode[unit];
            *dst++ = byte == kUnmapped ? '?' : static_cast<char>(byte);
        }
        return true;
    }
    void Reset() override { m_afterLead = false; }
    size_t MaxBytesPerUnit() const override { return 1; }
    bool SingleByte() const override { return true; }

private:
    static constexpr uint16_t kUnmapped = 0xFFFF;

    static char16_t DecodeWith(UConverter* icu, int byte) {
        if (icu == nullptr) return 0xFFFD;
        char in = static_cast<char>(byte);
        UChar out[4];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(icu);
        int32_t n = ucnv_toUChars(icu, out, 4, &in, 1, &error);
        return (U_SUCCESS(error) && n == 1) ? static_cast<char16_t>(out[0]) : char16_t(0xFFFD);
    }
    // ICU's fallback mappings: every BMP character that has no round-trip
    // byte is converted once; whatever ICU writes other than its "?" counts.
    void AddFallbacks(UConverter* icu) {
        std::vector<UChar> units;
        for (uint32_t u = 0x80; u < 0x10000; ++u)
            if ((u < 0xD800 || u > 0xDFFF) && m_encode[u] == kUnmapped)
                units.push_back(static_cast<UChar>(u));
        std::vector<char> bytes(units.size());
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(icu);
        int32_t n = ucnv_fromUChars(icu, bytes.data(), static_cast<int32_t>(bytes.size()),
                                    units.data(), static_cast<int32_t>(units.size()), &error);
        ucnv_reset(icu);
        if (!U_SUCCESS(error) || n != static_cast<int32_t>(units.size())) return;
        for (size_t i = 0; i < units.size(); ++i)
            if (bytes[i] != '?' && static_cast<unsigned char>(bytes[i]) >= 0x80)
                m_encode[units[i]] = static_cast<unsigned char>(bytes[i]);
    }

    char16_t m_decode[256];
    std::vector<uint16_t> m_encode;
    bool m_afterLead = false;
};

}  // namespace

void CodePageConverter::ProbeAsciiTransparency() {
    m_asciiTransparent = true;
    for (int c = 0; c < 0x80 && m_asciiTransparent; ++c) {
        char byte = static_cast<char>(c);
        const char* src = &byte;
        char16_t wide[4];
        char16_t* dst = wide;
        Reset();
        ToWide(src, &byte + 1, dst, wide + 4, true);
        if (dst - wide != 1 || wide[0] != c) m_asciiTransparent = false;
        char16_t unit = static_cast<char16_t>(c);
        const char16_t* wsrc = &unit;
        char out[16];
        char* o = out;
        Reset();
        FromWide(wsrc, &unit + 1, o, out + sizeof out, true);
        if (o - out != 1 || out[0] != byte) m_asciiTransparent = false;
    }
    Reset();
}

CodePageConverter* CodePageConverter::For(uint32_t codePage) {
    thread_local std::unordered_map<uint32_t, std::unique_ptr<CodePageConverter>> cache;
    auto it = cache.find(codePage);
    if (it == cache.end()) {
        // Only numbers of the table are cached, so the cache stays small.
        const CodePageName* entry = nullptr;
        for (const CodePageName& candidate : kCodePages)
            if (candidate.codePage == codePage) entry = &candidate;
        if (entry == nullptr) return nullptr;
        std::unique_ptr<CodePageConverter> converter;
        UConverter* icu = nullptr;
        if (entry->icuName != nullptr) {
            UErrorCode error = U_ZERO_ERROR;
            icu = ucnv_open(entry->icuName, &error);
            if (!U_SUCCESS(error)) icu = nullptr;
        }
        if (entry->icuName == nullptr) {
            converter = std::make_unique<SingleByteConverter>(codePage, nullptr);
        } else if (icu != nullptr && ucnv_getMaxCharSize(icu) == 1) {
            UErrorCode error = U_ZERO_ERROR;
            ucnv_setToUCallBack(icu, ToWideReplacementCallback, nullptr, nullptr, nullptr, &error);
            ucnv_setFallback(icu, true);
            error = U_ZERO_ERROR;
            ucnv_setSubstChars(icu, "?", 1, &error);
            converter = std::make_unique<SingleByteConverter>(codePage, icu);
            ucnv_close(icu);
        } else if (icu != nullptr) {
            converter = std::make_unique<IcuConverter>(icu);
        }
        it = cache.emplace(codePage, std::move(converter)).first;
    }
    if (it->second) it->second->Reset();
    return it->second.get();
}

}  // namespace sitowiak::platform

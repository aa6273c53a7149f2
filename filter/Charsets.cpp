#include "Charsets.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

// Steps 3-5 of the lookup, over whatever finds a database entry; nullopt
// where the lookup falls back.
template <typename Find>
std::optional<uint32_t> Resolve(std::string_view name, Find find) {
    const platform::MimeCharset* entry = find(name);
    if (entry != nullptr && !entry->AliasForCharset.empty()) entry = find(entry->AliasForCharset);
    if (entry == nullptr || entry->InternetEncoding < 0 || entry->InternetEncoding > 0xFFFFFFFF)
        return std::nullopt;
    return static_cast<uint32_t>(entry->InternetEncoding);
}

const platform::MimeCharset* FindBuiltIn(std::string_view n) {
    return platform::FindMimeCharset(n);
}

}  // namespace

uint32_t CodePageOf(std::string_view name) {
    // Lines of an overview mostly name one charset: the last answer is kept.
    thread_local std::string lastName;
    thread_local uint32_t lastCodePage = 0;
    if (lastCodePage != 0 && name == lastName) return lastCodePage;
    uint32_t codePage = Resolve(name, FindBuiltIn).value_or(kFallbackCodePage);
    lastName.assign(name);
    lastCodePage = codePage;
    return codePage;
}

uint32_t CodePageOf(std::string_view name, std::span<const platform::MimeCharset> database) {
    return Resolve(name, [database](
                             std::string_view n) { return platform::FindMimeCharset(database, n); })
        .value_or(kFallbackCodePage);
}

std::optional<uint32_t> KnownCodePageOf(std::string_view name) {
    return Resolve(name, FindBuiltIn);
}

bool HasC1Bytes(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size(), i = 0;
#if defined(__SSE2__)
    // A whole body is looked at when it is re-encoded: 64 bytes per test.
    const __m128i top = _mm_set1_epi8(static_cast<char>(0xE0));
    const __m128i c1 = _mm_set1_epi8(static_cast<char>(0x80));
    for (; i + 64 <= n; i += 64) {
        __m128i hit = _mm_setzero_si128();
        for (size_t k = 0; k < 64; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k));
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_and_si128(v, top), c1));
        }
        if (_mm_movemask_epi8(hit) != 0) return true;
    }
#endif
    for (; i < n; ++i)
        if ((static_cast<unsigned char>(p[i]) & 0xE0) == 0x80) return true;
    return false;
}

std::optional<uint32_t> WindowsCodePageFor(uint32_t iso) {
    switch (iso) {
        case 28591: case 28605: return 1252;  // Latin-1, Latin-9
        case 28592: return 1250;              // Central European
        case 28594: case 28603: return 1257;  // Baltic
        case 28595: return 1251;              // Cyrillic
        case 28596: return 1256;              // Arabic
        case 28597: return 1253;              // Greek
        case 28598: case 38598: return 1255;  // Hebrew
        case 28599: return 1254;              // Turkish
        default: return std::nullopt;
    }
}

uint32_t ReadingCodePage(uint32_t labelled, std::string_view text, bool lookForC1) {
    if (!platform::ConvertsPieceByPiece(labelled) || labelled == platform::kCodePageUtf8)
        return labelled;
    // Text in a single-byte code page is seldom valid UTF-8 for long: this
    // test ends early, the one for 8-bit bytes runs only when it holds.
    if (platform::IsWellFormedUtf8(text)) {
        if (!platform::IsAscii(text)) return platform::kCodePageUtf8;
        return labelled;
    }
    if (!lookForC1) return labelled;
    if (std::optional<uint32_t> windows = WindowsCodePageFor(labelled); windows && HasC1Bytes(text))
        return *windows;
    return labelled;
}

std::u16string DecodeToUtf16(std::string_view text, uint32_t codePage) {
    std::u16string out;
    if (!platform::AppendWideFromMultiByte(codePage, text, out)) out.clear();
    return out;
}

std::string EncodeFromUtf16(std::u16string_view text, uint32_t codePage) {
    std::string out;
    if (!platform::AppendMultiByteFromWide(codePage, text, out)) out.clear();
    return out;
}

std::string ConvertCodePage(std::string_view text, uint32_t sourceCodePage,
                            uint32_t targetCodePage) {
    std::string out;
    if (!platform::AppendConverted(sourceCodePage, targetCodePage, text, out)) out.clear();
    return out;
}

std::string ConvertFromAnsi(std::string_view text, uint32_t targetCodePage) {
    return ConvertCodePage(text, platform::GetACP(), targetCodePage);
}

}  // namespace sitowiak::filter

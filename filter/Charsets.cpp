#include "Charsets.h"

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

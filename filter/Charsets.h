// The charset operations of the article filter: MIME charset name
// to Windows code page, and conversions between 8-bit text and UTF-16.
// Nothing here reports an error: unknown names give 1252, unusable code
// pages give empty results, unmappable characters take the platform's
// replacement (platform/charset/CodePage.h lists what each malformed input
// becomes).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/charset/MimeCharsetDatabase.h"

namespace sitowiak::filter {

// The code page for names that cannot be resolved.
constexpr uint32_t kFallbackCodePage = 1252;

// The charset database's InternetEncoding for `name`, following
// "AliasForCharset" one step only (an alias of an alias is not resolved);
// 1252 for an empty or unknown name, or an entry without InternetEncoding.
// Names compare without regard to case. Looked up afresh on every call.
uint32_t CodePageOf(std::string_view name);
// The same over another database (tests).
uint32_t CodePageOf(std::string_view name, std::span<const platform::MimeCharset> database);
// The code page when the database knows `name` (it resolves without the
// fallback), else nullopt: what tells a declared charset that can be read
// from a typo or a name nobody registered.
std::optional<uint32_t> KnownCodePageOf(std::string_view name);

// The code page of "us-ascii" and its aliases.
constexpr uint32_t kUsAsciiCodePage = 20127;

// The code page a text under the label `labelled` is read in (labels
// that lie): when `labelled` is single-byte, a text that is well-formed
// UTF-8 and holds a multi-byte sequence is UTF-8, and an ISO-8859-n text
// with bytes 0x80-0x9F (C1 controls, which text never holds) is in the
// matching Windows code page. Otherwise `labelled`. `text` is what would be
// converted (transfer encoding undone, binary blocks left out). Without
// `lookForC1` the caller looks for C1 bytes itself (in a pass it makes
// anyway).
uint32_t ReadingCodePage(uint32_t labelled, std::string_view text, bool lookForC1 = true);
// True when a byte of `text` is 0x80-0x9F.
bool HasC1Bytes(std::string_view text);
// The Windows code page that extends ISO-8859 code page `iso` over bytes
// 0x80-0x9F, or nullopt.
std::optional<uint32_t> WindowsCodePageFor(uint32_t iso);

// The whole text (NUL bytes included) as UTF-16; empty for an empty text or
// an unusable code page.
std::u16string DecodeToUtf16(std::string_view text, uint32_t codePage);
// The text as bytes of `codePage`; empty for an unusable code page.
std::string EncodeFromUtf16(std::u16string_view text, uint32_t codePage);
// EncodeFromUtf16(DecodeToUtf16(text, source), target), in chunks.
std::string ConvertCodePage(std::string_view text, uint32_t sourceCodePage,
                            uint32_t targetCodePage);
// ConvertCodePage(text, the system's ANSI code page (65001), target).
std::string ConvertFromAnsi(std::string_view text, uint32_t targetCodePage);

}  // namespace sitowiak::filter

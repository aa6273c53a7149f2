// Code-page conversions chosen by Windows code page number, the stand-in for
// MultiByteToWideChar, WideCharToMultiByte and GetACP. ICU does the work
// (ISO-8859-16, which ICU lacks, has a table of its own).
//
// What malformed input becomes (each has a test in tests/CodePageTest.cpp):
//  - a byte or byte sequence that is invalid or unassigned in the source code
//    page becomes one U+FFFD (for UTF-8: one per maximal ill-formed subpart,
//    as ICU and Windows Vista+ do); a multibyte sequence cut off by the end of
//    the input becomes one U+FFFD;
//  - a character that the target code page lacks takes ICU's fallback
//    mapping where there is one, else "?"; an unpaired surrogate becomes
//    U+FFFD in UTF-8 and "?" elsewhere;
//  - NUL bytes and 8-bit bytes are ordinary input: NUL maps to U+0000 and back;
//  - a code page that is unknown or cannot be opened converts nothing: the
//    functions report failure (0, or false) and leave the output unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace sitowiak::platform {

constexpr uint32_t kCodePageUtf8 = 65001;

// The system's ANSI code page: the program's own texts are UTF-8 in the
// source, so it is 65001 whatever the locale.
uint32_t GetACP();

// True when no byte of `text` is 0x80 or above.
bool IsAscii(std::string_view text);

// True when `codePage` names a code page that can be converted.
bool IsValidCodePage(uint32_t codePage);

// True when bytes 0x00-0x7F and U+0000-U+007F map to each other one to one
// in `codePage` (every single-byte ASCII superset; not UTF-7 or ISO-2022-JP).
bool IsAsciiTransparent(uint32_t codePage);

// Windows-shaped calls: with dstLength 0 they return the length the whole
// conversion needs; otherwise they convert into dst and return the length
// written, or 0 when dst is too small. 0 also for an unusable code page.
int MultiByteToWideChar(uint32_t codePage, const char* src, int srcLength, char16_t* dst,
                        int dstLength);
int WideCharToMultiByte(uint32_t codePage, const char16_t* src, int srcLength, char* dst,
                        int dstLength);

// One-pass forms used by the filter: append the conversion of the whole
// input to `dst`. False (and `dst` unchanged) for an unusable code page.
bool AppendWideFromMultiByte(uint32_t codePage, std::string_view src, std::u16string& dst);
bool AppendMultiByteFromWide(uint32_t codePage, std::u16string_view src, std::string& dst);
// Decode `src` in `fromCodePage` and encode it in `toCodePage`, in chunks so
// that the UTF-16 form of a large text never exists as a whole. Same result
// as AppendMultiByteFromWide(to, decode(from, src)).
bool AppendConverted(uint32_t fromCodePage, uint32_t toCodePage, std::string_view src,
                     std::string& dst);

// True when converting a text from or to `codePage` piece by piece gives the
// bytes of converting it whole: UTF-8 and single-byte code pages, which keep
// no state between characters and never decode to a lone surrogate.
bool ConvertsPieceByPiece(uint32_t codePage);

// True when `text` is well-formed UTF-8 (Unicode's Table 3-7: no overlong
// forms, no surrogates, nothing above U+10FFFF, no cut-off sequence).
// Converting such a text from UTF-8 to UTF-8 gives it back unchanged.
bool IsWellFormedUtf8(std::string_view text);

// A single-byte source code page composed with a single-byte or UTF-8
// target: the target bytes of every source byte, exactly what decoding and
// encoding give. A text then converts byte by byte, its converted length is
// known before converting, and every byte gives at least one byte, so the
// conversion can run in place from the end (TranslateBackward).
struct ByteMap {
    // The target bytes of one source byte and their count, four bytes in
    // all: copied as one word, the count lands just past the translation,
    // where the next one overwrites it, so a writer needs one spare byte.
    struct Entry {
        char bytes[3];
        uint8_t length;
    };
    Entry entry[256];
    bool asciiIdentity;  // bytes 0x00-0x7F translate to themselves

    // Writes the translation of `b` at `d`, and one byte more, and returns
    // the end of the translation.
    char* Put(unsigned char b, char* d) const {
        std::memcpy(d, &entry[b], sizeof entry[b]);
        return d + entry[b].length;
    }
};
// Non-null for such a pair of code pages; kept for the thread's life.
const ByteMap* SingleByteMap(uint32_t fromCodePage, uint32_t toCodePage);
// Appends `src` translated to `dst`.
void AppendTranslated(const ByteMap& map, std::string_view src, std::string& dst);
// The length of `src` translated.
size_t TranslatedLength(const ByteMap& map, std::string_view src);
// Translates the n bytes at src into the TranslatedLength bytes that end at
// dstEnd, last byte first. dstEnd may be src + TranslatedLength (in place).
void TranslateBackward(const ByteMap& map, const char* src, size_t n, char* dstEnd);

}  // namespace sitowiak::platform

// MIME header words: decoding of header and overview lines that hold
// encoded words (RFC 2047) in the Q or the B encoding. The filter only
// decodes them.
//
// What each kind of input becomes in DecodeHeaderWords:
//  - raw text (outside encoded words) is read as UTF-8; a piece of raw
//    text that is not valid UTF-8 is read in the charset for undeclared
//    text when one is given (in its Windows code page when it holds C1
//    bytes, see ReadingCodePage), else its invalid bytes become U+FFFD;
//    NUL bytes are ordinary text (U+0000). Raw text with a byte 0x80 or
//    above makes the line not clean unless it can be read: it is UTF-8,
//    or a charset for undeclared text is given (HeaderWordsClean: any
//    such byte);
//  - "=?" charset "?Q?" text "?=" is decoded with DecodeQ, and
//    "=?" charset "?B?" text "?=" as base64 (AppendDecodedBase64: bytes
//    outside the alphabet, "=" included, are skipped; a last group of one
//    character gives nothing, of two or three one or two bytes); the letter
//    may be lower case; the bytes are read in the code page of charset
//    (1252 when the name is unknown); bytes that are no character there
//    become U+FFFD, as does a character cut off at the end of a word that no
//    neighbouring word continues;
//  - the charset of an encoded word ends at the first "?" after "=?"; when
//    that "?" is not followed by "Q?" or "B?" (in either case), or there is
//    no "?" (a lone "=?", as in "x=?y"), the "=?" is raw text and the rest
//    is read again, as raw text unless it starts with "=?";
//  - a Q or B word without its closing "?=" stays as it is: "=?", charset,
//    "?Q?" or "?B?" and the rest are raw text;
//  - spaces between two encoded words that are both decoded are dropped, and
//    neighbouring words in the same code page (Q or B alike) are decoded as
//    one byte string, so a character split between them stays whole
//    (RFC 2047). Only spaces count: a tab separates overview fields and is
//    kept;
//  - an encoded word does not reach over a TAB, which ends an overview
//    field: a charset with a TAB in it is no charset ("=?" alone is
//    dropped), and a TAB before the closing "?=" makes the word one
//    without its close;
//  - C0 controls in the decoded text of encoded words (CR, LF, TAB, NUL
//    and the rest below U+0020) become spaces, as servers write them in
//    overview data: the line stays one line with the fields it came with.
//    Raw text keeps its bytes;
//  - the inside of a decoded encoded word never affects clean.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/charset/CodePage.h"

namespace sitowiak::filter {

// Decodes `s` (a header or overview line, CR LF included) into `W`
// (replacing its content) and returns clean: every piece of raw text with
// a byte 0x80 or above can be read. `undeclared`: the code page of the
// charset for undeclared text, 0 for none.
bool DecodeHeaderWords(std::string_view s, std::u16string& W, uint32_t undeclared = 0);
// Whether no byte of raw text is 0x80 or above, without decoding anything.
bool HeaderWordsClean(std::string_view s);
// What a caller may know of a line from its own pass over it, so that the
// decoding skips searches: whether every byte is below 0x80, and where the
// first and the last "=?" of the line begin (first is npos for none).
struct LineHint {
    bool ascii = false;
    bool startsKnown = false;
    size_t firstWordStart = 0;
    size_t lastWordStart = 0;
};

// DecodeHeaderWords followed by encoding into one code page, without the
// UTF-16 step: each piece (raw text, a run of words in one code page) goes
// straight into the target, through a byte table where the piece's code
// page is single-byte. What it learns of code pages is kept from line to
// line.
class HeaderWordsEncoder {
public:
    explicit HeaderWordsEncoder(uint32_t codePage, uint32_t undeclared = 0);
    uint32_t Undeclared() const { return m_undeclared; }

    // Appends the decoded `s` encoded in the code page to `out` and returns
    // clean. Returns nullopt (and `out` as it was) when a piece or the
    // target is in a code page whose conversion depends on its neighbours
    // (UTF-7, UTF-16, ISO-2022, ...): the caller then takes the UTF-16
    // road, which gives the same bytes where both apply.
    std::optional<bool> Append(std::string_view s, std::string& out, const LineHint& hint = {});

    // The pieces, for the scan. False when the piece cannot go straight.
    bool AppendRaw(std::string_view raw, bool ascii, std::string& out) {
        if (m_asciiTransparent && ascii) {
            out.append(raw);
            return true;
        }
        return AppendRawConverted(raw, out);
    }
    // The decoded bytes of a run of words; `bytes` may be changed.
    bool AppendWords(uint32_t codePage, std::string& bytes, std::string& out);
    // The byte table from a single-byte `codePage` into the target, with
    // controls as spaces, or null.
    const platform::ByteMap* MapFrom(uint32_t codePage);

private:
    bool AppendAsciiLine(std::string_view s, std::string& out, const LineHint& hint);
    bool AppendRawConverted(std::string_view raw, std::string& out);

    uint32_t m_codePage;
    uint32_t m_undeclared;
    bool m_usable;
    bool m_asciiTransparent;
    uint32_t m_lastSource = 0;  // the code page of the last run of words
    const platform::ByteMap* m_lastMap = nullptr;
};

// The Q encoding of one encoded word's text: "_" is a space; "=" and two
// hexadecimal digits (either case) is that byte; at the very end, "=" and
// one hexadecimal digit is that digit's value; any other "=" is dropped and
// what follows is read on as ordinary input. Escaped bytes are final.
std::string DecodeQ(std::string_view text);
// The same, appending to `out`.
void AppendDecodedQ(std::string_view text, std::string& out);

}  // namespace sitowiak::filter

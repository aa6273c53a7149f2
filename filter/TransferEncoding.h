// Content transfer encodings of a text body in NNTP wire form (CR LF lines,
// dot-stuffed), for re-encoding a quoted-printable or base64 body into
// another charset: decode, convert, encode again in the same encoding.
//
// Malformed input:
//  - quoted-printable: "=" not followed by two hexadecimal digits stays a
//    literal "="; white space at a line end is transport padding and goes;
//    a line ending in "=" is a soft break; a leading "." of a line is taken
//    as dot-stuffing and removed;
//  - base64: bytes outside the alphabet (CR LF, ".", "=", spaces, anything
//    else) are skipped; a final group of one character gives nothing, of two
//    or three characters one or two bytes.
#pragma once

#include <string>
#include <string_view>

namespace sitowiak::filter {

enum class TransferEncoding { kNone, kQuotedPrintable, kBase64 };

std::string DecodeQuotedPrintable(std::string_view body);
// Lines of at most 76 characters; a "." that would begin a line is written
// "=2E", so the result needs no dot-stuffing; a text that does not end with
// CR LF ends with a soft line break, so the body still ends with CR LF.
std::string EncodeQuotedPrintable(std::string_view text);
std::string DecodeBase64(std::string_view body);
// The same, appending to `out` (also the B encoding of MIME header words).
void AppendDecodedBase64(std::string_view body, std::string& out);
// Lines of 76 characters, each ending with CR LF.
std::string EncodeBase64(std::string_view bytes);

// Adding text to the end of an encoded body (the footer of a posted
// article) without decoding and encoding the whole body again: `text`
// replaces body[keep, end), so the body decodes to what it held followed by
// a line break (when what it held did not end with one) and the text.
struct EncodedAppendix {
    size_t keep;
    std::string text;
};
// Encoded lines after the body; a body whose last line is a soft break
// gets a hard one first.
EncodedAppendix AppendToQuotedPrintable(std::string_view body, std::string_view text);
// The body's last group is taken apart when it carries padding ("=") and
// encoded again with the text; the bytes before it stay as they are.
EncodedAppendix AppendToBase64(std::string_view body, std::string_view text);

}  // namespace sitowiak::filter

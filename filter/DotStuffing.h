// NNTP dot-stuffing of a body in wire form (CR LF lines, a "." doubled at
// the start of a line), for bodies whose charset conversion does not keep
// line ends and dots where they were: UTF-7, ISO-2022, EBCDIC and the like
// can decode to a line that is "." alone, which would end the reply for
// the reader. Such a body is taken out of its wire form, converted, and put
// back into it.
#pragma once

#include <string>
#include <string_view>

namespace sitowiak::filter {

// The body without the "." that stuffing put at the start of its lines.
std::string Unstuffed(std::string_view body);

// Appends `text` to `out` with every line end made CR LF (a lone CR or LF
// becomes one) and a "." doubled at the start of every line. `atLineStart`
// says whether `out` ends at the start of a line, and is kept up to date.
void AppendStuffed(std::string_view text, std::string& out, bool& atLineStart);

// The same for bytes that keep their line ends (a yEnc or uuencoded block):
// only the dots at line starts are doubled.
void AppendDotsStuffed(std::string_view bytes, std::string& out, bool& atLineStart);

}  // namespace sitowiak::filter

// Reading a MIME header field's value and parameters (RFC 2045, 2231):
// Content-Type and Content-Transfer-Encoding go through this one reader,
// the one-pass article rewriter and the plain reference rewriting alike.
// It knows what clients write: parameter names in any letter case, blanks
// (and folded line breaks) around ";" and "=", comments in parentheses,
// quoted strings with backslash escapes, and the RFC 2231 form
// `charset*=iso-8859-2''` (or `charset*=''iso-8859-2`).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sitowiak::filter {

// `line` begins with the field name `name` (letter case aside), blanks and
// ":" (e.g. "Content-Type: ..." or "content-type:..."); false otherwise.
bool IsFieldNamed(std::string_view line, std::string_view name);

// The offset in `field` (the whole field from its name, continuation lines
// included) where its value's first token begins: after the ":", blanks,
// folded line breaks and comments. field.size() when there is none.
size_t FieldValueStart(std::string_view field);

// One parameter found in a field: where it stands in the field (from its
// name to the end of its value, closing quote included) and its value.
struct MimeParameter {
    size_t start = 0;
    size_t end = 0;
    std::string value;
    bool closed = true;  // false: a quoted value that runs to the field's end
};

// The first parameter of `field` named `name` ("charset", "boundary") or,
// in the RFC 2231 form, `name` + "*", or nullopt. A quoted value without
// its closing quote has `closed` false and is no value to read; it still
// has its place, which relabelling replaces. The RFC 2231 value is its percent-decoded
// text, or its charset part when the text is empty.
std::optional<MimeParameter> FindMimeParameter(std::string_view field, std::string_view name);

}  // namespace sitowiak::filter

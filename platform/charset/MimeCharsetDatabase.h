// The MIME charset database: the built-in stand-in for the Windows registry
// key HKLM\SOFTWARE\Classes\MIME\Database\Charset. It has the registry's
// shape: one entry ("subkey") per charset name, holding either a string
// "AliasForCharset" naming another entry, or an integer "InternetEncoding"
// (a Windows code page number), or neither. Names compare without regard to
// the case of ASCII letters, as registry key names do.
//
// The reader of the database (CodePageOf, filter/Charsets.h) follows an
// alias one step only; every alias in the built-in table therefore names an
// entry that carries its own InternetEncoding.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace sitowiak::platform {

struct MimeCharset {
    std::string_view Name;
    std::string_view AliasForCharset;  // empty: the value is missing
    int64_t InternetEncoding = -1;     // -1: the value is missing
};

// The built-in table, in no particular order.
std::span<const MimeCharset> BuiltInMimeCharsets();

// Opens "the subkey called name" in `database`: the entry whose name equals
// `name` without regard to ASCII case, or nullptr. An empty name has no entry.
const MimeCharset* FindMimeCharset(std::span<const MimeCharset> database, std::string_view name);
// The same in the built-in table (hashed, for the overview's per-word lookups).
const MimeCharset* FindMimeCharset(std::string_view name);

}  // namespace sitowiak::platform

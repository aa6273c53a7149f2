// An INI file edited with the semantics of the Windows profile functions:
//
//   ; comment                 kept as it is
//   [Section]                 names compare without regard to case
//   Key=Value                 spaces around key and value are not part of them;
//   Quoted="  a b  "          one pair of surrounding quotes is removed on reading
//
// The first of duplicate sections or keys is the one read and written.
// A value is updated in place; a new key goes after the last key of its
// section; a new section goes to the end of the file. Lines the editor does
// not read (comments, blank lines, text before the first section, lines
// without "=") are kept as they are. Changes stay in memory until UpdateFile,
// which replaces the file atomically; lines end with CR LF there.
//
// Malformed input: a section line without "]" names the rest of the line; a
// NUL or any other byte is kept as text; a lone CR ends no line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sitowiak::util {

class IniFile {
public:
    // Loads `fileName`; a missing or unreadable file gives an empty file.
    explicit IniFile(std::string fileName);
    static IniFile FromText(std::string_view text);

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // A decimal integer with an optional sign; `fallback` when the value is
    // missing, not a number or outside the 32-bit range.
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    // Line breaks in a value would end its line, so they are written as spaces.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);

    // Writes the file; false when it could not be written (the file is unchanged).
    bool UpdateFile() const;
    std::string Text() const;
    const std::string& FileName() const { return m_fileName; }

private:
    struct KeyLine {
        size_t index;
        std::string_view value;
    };

    void Parse(std::string_view text);
    std::optional<size_t> FindSection(std::string_view section) const;
    // End of the section that starts at header line `header`: the index of the
    // next section header, or the line count.
    size_t SectionEnd(size_t header) const;
    std::optional<KeyLine> FindKey(std::string_view section, std::string_view key) const;

    std::string m_fileName;
    std::vector<std::string> m_lines;
};

}  // namespace sitowiak::util

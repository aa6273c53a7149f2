#include "IniFile.h"

#include <charconv>

#include "platform/core/FileUtil.h"
#include "platform/core/RegistryHive.h"

namespace sitowiak::util {
namespace {

std::string_view Trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// The section name of a header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

// The key of a key line, or nullopt for comments and lines without "=".
std::optional<std::string_view> KeyName(std::string_view line) {
    std::string_view trimmed = Trim(line);
    size_t eq = line.find('=');
    if (trimmed.empty() || trimmed.front() == ';' || eq == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(0, eq));
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string SingleLine(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

}  // namespace

IniFile::IniFile(std::string fileName) : m_fileName(std::move(fileName)) {
    if (auto text = platform::ReadWholeFile(m_fileName)) Parse(*text);
}

IniFile IniFile::FromText(std::string_view text) {
    IniFile file("");
    file.Parse(text);
    return file;
}

void IniFile::Parse(std::string_view text) {
    m_lines.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        m_lines.emplace_back(line);
        pos = nl + 1;
    }
}

std::optional<size_t> IniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < m_lines.size(); ++i) {
        auto name = SectionName(m_lines[i]);
        if (name && platform::RegNamesEqual(*name, Trim(section))) return i;
    }
    return std::nullopt;
}

size_t IniFile::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < m_lines.size() && !SectionName(m_lines[i])) ++i;
    return i;
}

std::optional<IniFile::KeyLine> IniFile::FindKey(std::string_view section,
                                                 std::string_view key) const {
    auto header = FindSection(section);
    if (!header) return std::nullopt;
    for (size_t i = *header + 1, end = SectionEnd(*header); i < end; ++i) {
        auto name = KeyName(m_lines[i]);
        if (name && platform::RegNamesEqual(*name, Trim(key))) {
            std::string_view line = m_lines[i];
            return KeyLine{i, Trim(line.substr(line.find('=') + 1))};
        }
    }
    return std::nullopt;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
    auto line = FindKey(section, key);
    return std::string(line ? Unquote(line->value) : fallback);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
    std::string text = ReadString(section, key, "");
    std::string_view digits = Trim(text);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return fallback;
    return value;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::string keyText(Trim(key));
    std::string entry = "=" + SingleLine(value);
    if (auto line = FindKey(section, key)) {
        std::string& text = m_lines[line->index];
        text = std::string(Trim(std::string_view(text).substr(0, text.find('=')))) + entry;
        return;
    }
    auto header = FindSection(section);
    if (!header) {
        if (!m_lines.empty() && !Trim(m_lines.back()).empty()) m_lines.emplace_back();
        m_lines.push_back("[" + std::string(Trim(section)) + "]");
        m_lines.push_back(keyText + entry);
        return;
    }
    size_t insertAt = *header + 1;
    for (size_t i = insertAt, end = SectionEnd(*header); i < end; ++i)
        if (KeyName(m_lines[i])) insertAt = i + 1;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), keyText + entry);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string IniFile::Text() const {
    std::string text;
    for (const std::string& line : m_lines) text += line + "\r\n";
    return text;
}

bool IniFile::UpdateFile() const {
    return !m_fileName.empty() && platform::WriteFileAtomically(m_fileName, Text(), nullptr);
}

}  // namespace sitowiak::util

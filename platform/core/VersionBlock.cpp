#include "VersionBlock.h"

#include <elf.h>

#include <cstring>
#include <fstream>

#include "RegistryHive.h"

namespace sitowiak::platform {
namespace {

constexpr std::string_view kSectionName = ".sitowiak.version";
constexpr std::string_view kMagic = "SITOWIAK-VERSIONINFO 1\n";

template <typename T>
bool ReadAt(std::ifstream& in, uint64_t offset, T& out) {
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(&out), sizeof out);
    return static_cast<bool>(in);
}

// The section's bytes (up to the first NUL, which ends the C string the
// build writes), or nullopt.
std::optional<std::string> ReadSection(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    Elf64_Ehdr eh{};
    if (!in || !ReadAt(in, 0, eh)) return std::nullopt;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_shentsize != sizeof(Elf64_Shdr) ||
        eh.e_shstrndx >= eh.e_shnum)
        return std::nullopt;
    auto header = [&](uint32_t i, Elf64_Shdr& sh) {
        return ReadAt(in, eh.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), sh);
    };
    Elf64_Shdr names{};
    if (!header(eh.e_shstrndx, names)) return std::nullopt;
    for (uint32_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh{};
        if (!header(i, sh) || sh.sh_name >= names.sh_size) continue;
        char name[32] = {};
        in.seekg(static_cast<std::streamoff>(names.sh_offset + sh.sh_name));
        in.read(name, sizeof name - 1);
        in.clear();
        if (kSectionName != name || sh.sh_type == SHT_NOBITS || sh.sh_size > (1u << 20)) continue;
        std::string data(sh.sh_size, '\0');
        in.seekg(static_cast<std::streamoff>(sh.sh_offset));
        if (!in.read(data.data(), static_cast<std::streamsize>(data.size()))) return std::nullopt;
        data.resize(std::strlen(data.c_str()));
        if (!data.starts_with(kMagic)) return std::nullopt;
        return data;
    }
    return std::nullopt;
}

// Calls f(section, key, value) for each "key=value" line; section is the
// current "[...]" name, empty before the first one.
template <typename F>
void ForEachEntry(std::string_view block, F f) {
    std::string_view section;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t nl = block.find('\n', pos);
        if (nl == std::string_view::npos) nl = block.size();
        std::string_view line = block.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string_view::npos) f(section, line.substr(0, eq), line.substr(eq + 1));
    }
}

}  // namespace

bool ParseVersionText(std::string_view text, uint32_t& ms, uint32_t& ls) {
    uint32_t parts[4] = {0, 0, 0, 0};
    int index = 0;
    uint32_t value = 0;
    bool digits = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (value > 0xFFFF) return false;
            digits = true;
        } else if (c == '.' && digits && index < 3) {
            parts[index++] = value;
            value = 0;
            digits = false;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    parts[index] = value;
    ms = (parts[0] << 16) | parts[1];
    ls = (parts[2] << 16) | parts[3];
    return true;
}

uint32_t GetFileVersionInfoSize(const std::filesystem::path& file) {
    std::optional<std::string> data = ReadSection(file);
    return data ? static_cast<uint32_t>(data->size()) : 0;
}

bool GetFileVersionInfo(const std::filesystem::path& file, uint32_t size,
                        std::vector<char>& block) {
    std::optional<std::string> data = ReadSection(file);
    if (!data || size == 0) return false;
    block.assign(data->begin(), data->begin() + std::min<size_t>(size, data->size()));
    return true;
}

std::optional<FixedFileInfo> VerQueryFixed(std::string_view block) {
    if (!block.starts_with(kMagic)) return std::nullopt;
    FixedFileInfo info;
    bool any = false;
    ForEachEntry(
        block, [&](std::string_view section, std::string_view key, std::string_view value) {
            if (!section.empty()) return;
            if (key == "FileVersion")
                any |= ParseVersionText(value, info.fileVersionMS, info.fileVersionLS);
            else if (key == "ProductVersion")
                any |= ParseVersionText(value, info.productVersionMS, info.productVersionLS);
        });
    if (!any) return std::nullopt;
    return info;
}

std::vector<uint32_t> VerQueryTranslations(std::string_view block) {
    std::vector<uint32_t> out;
    if (!block.starts_with(kMagic)) return out;
    ForEachEntry(block,
                 [&](std::string_view section, std::string_view key, std::string_view value) {
                     if (!section.empty() || key != "Translation") return;
                     unsigned lang = 0, cp = 0;
                     std::string text(value);
                     if (std::sscanf(text.c_str(), "%4x %4x", &lang, &cp) == 2)
                         out.push_back((cp << 16) | lang);
                 });
    return out;
}

std::optional<std::string> VerQueryString(std::string_view block, std::string_view path) {
    constexpr std::string_view kPrefix = "\\StringFileInfo\\";
    if (!block.starts_with(kMagic) || !path.starts_with(kPrefix)) return std::nullopt;
    path.remove_prefix(kPrefix.size());
    size_t slash = path.find('\\');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view table = path.substr(0, slash), name = path.substr(slash + 1);
    std::optional<std::string> found;
    ForEachEntry(block, [&](std::string_view section, std::string_view key,
                            std::string_view value) {
        if (!found && !section.empty() && RegNamesEqual(section, table) && RegNamesEqual(key, name))
            found = std::string(value);
    });
    return found;
}

}  // namespace sitowiak::platform

// The version information of a file: a text record that the build writes
// into the ELF section ".sitowiak.version" of every program and shared library
// it makes (cmake/version_block.cpp.in):
//
//   SITOWIAK-VERSIONINFO 1
//   FileVersion=5.0.0.48
//   ProductVersion=5.0.0.48
//   Translation=0415 04E2          language, code page (hex)
//   [041504E2]                     a string table per translation
//   ProductName=Sitowiak
//   ...
//
// The calls mirror the Windows ones: ask the size, fetch the raw block, then
// query it by path ("\", "\VarFileInfo\Translation",
// "\StringFileInfo\041504E2\ProductName"). A file that is not ELF, has no
// such section, or whose section does not start with the record's first line
// has no version information (size 0).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sitowiak::platform {

// The fixed part: each version as two 32-bit halves, most significant pair
// of 16-bit parts in the high half ("5.0.0.48" -> MS 0x00050000, LS 0x00000030).
struct FixedFileInfo {
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
};

// Size of the file's version block in bytes; 0 when it has none.
uint32_t GetFileVersionInfoSize(const std::filesystem::path& file);
// Copies at most `size` bytes of the block into `block`; false when the file
// has no block.
bool GetFileVersionInfo(const std::filesystem::path& file, uint32_t size, std::vector<char>& block);

std::optional<FixedFileInfo> VerQueryFixed(std::string_view block);
// The translations as (code page << 16) | language, in block order.
std::vector<uint32_t> VerQueryTranslations(std::string_view block);
// A string value by its path "\StringFileInfo\<8 hex digits>\<name>".
std::optional<std::string> VerQueryString(std::string_view block, std::string_view path);

// Parses "a.b.c.d" (missing parts are 0, each part 0..65535) into MS/LS halves.
bool ParseVersionText(std::string_view text, uint32_t& ms, uint32_t& ls);

}  // namespace sitowiak::platform

// The product's identity as the program file's version information gives it:
// name, web page, copyright line and the 64-bit product version. The frame
// windows, the article footer and the tools read it the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sitowiak::platform {

struct ProductIdentity {
    int32_t versionInfoSize = 0;    // size of the raw block, 0 when there is none
    std::vector<char> versionInfo;  // the raw block
    uint64_t ProductVersion = 0;    // four 16-bit parts, major in the highest
    std::string ProductName;
    std::string LegalCopyright;
    std::string ProductUrl;
};

// Reads the version information of `file` into `identity`. Returns false when
// the file has none; then every text is empty and ProductVersion is 0.
bool ReadVersionInfo(const std::filesystem::path& file, ProductIdentity& identity);
// Releases the raw block and sets its size to 0.
void FreeVersionInfo(ProductIdentity& identity);

// "%d.%.2d.%.2d.%.2d" of the low 8 bits of each 16-bit part: 5.0.0.48 gives
// "5.00.00.48", a part of 300 shows as 44.
std::string FormatProductVersion(uint64_t productVersion);

// The running program's own file.
std::filesystem::path ProgramFile();

}  // namespace sitowiak::platform

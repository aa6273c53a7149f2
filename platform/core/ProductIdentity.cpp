#include "ProductIdentity.h"

#include <cstdio>

#include "platform/core/VersionBlock.h"

namespace sitowiak::platform {

bool ReadVersionInfo(const std::filesystem::path& file, ProductIdentity& identity) {
    uint32_t size = platform::GetFileVersionInfoSize(file);
    identity.ProductVersion = 0;
    identity.ProductName.clear();
    identity.ProductUrl.clear();
    identity.LegalCopyright.clear();
    identity.versionInfo.clear();
    identity.versionInfoSize = 0;
    if (size == 0 || !platform::GetFileVersionInfo(file, size, identity.versionInfo)) return false;
    identity.versionInfoSize = static_cast<int32_t>(identity.versionInfo.size());
    std::string_view block(identity.versionInfo.data(), identity.versionInfo.size());
    if (auto fixed = platform::VerQueryFixed(block))
        identity.ProductVersion =
            (uint64_t{fixed->productVersionMS} << 32) | uint64_t{fixed->productVersionLS};
    std::vector<uint32_t> translations = platform::VerQueryTranslations(block);
    if (!translations.empty()) {
        char prefix[40];
        std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\",
                      translations[0] & 0xFFFF, translations[0] >> 16);
        auto text = [&](const char* name) {
            return platform::VerQueryString(block, std::string(prefix) + name).value_or("");
        };
        identity.ProductName = text("ProductName");
        identity.ProductUrl = text("ProductUrl");
        identity.LegalCopyright = text("LegalCopyright");
    }
    return true;
}

void FreeVersionInfo(ProductIdentity& identity) {
    if (identity.versionInfoSize > 0) identity.versionInfo.clear();
    identity.versionInfoSize = 0;
}

std::string FormatProductVersion(uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%.2d.%.2d.%.2d", static_cast<int>((v >> 48) & 0xFF),
                  static_cast<int>((v >> 32) & 0xFF), static_cast<int>((v >> 16) & 0xFF),
                  static_cast<int>(v & 0xFF));
    return text;
}

std::filesystem::path ProgramFile() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}

}  // namespace sitowiak::platform

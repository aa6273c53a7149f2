#include "PackagePaths.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "util/Folders.h"

namespace sitowiak::package {
namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix) {
    if (prefix.empty() || text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    return true;
}

}  // namespace

ClassifiedPath ClassifyPath(const std::string& path) {
    const std::pair<const char*, std::string> folders[] = {
        {"S", util::SystemFolder()},
        {"W", util::WindowsFolder()},
        {"P", util::ProgramFilesFolder()},
        {"C", util::CommonFilesFolder()},
    };
    for (const auto& [code, folder] : folders)
        if (StartsWithIgnoringAsciiCase(path, folder)) return {code, path.substr(folder.size())};
    return {"~", path};
}

std::string FlattenPath(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':') {
            out += '~';
        } else if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            out += "~~";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string MirrorPath(const std::string& temp, const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path.empty() ? "." : path, ec);
    std::string normal = FlattenPath(full.lexically_normal().string());
    if (ec || normal.empty()) return temp + FlattenPath(path);  // no current folder
    if (!path.empty() && path.back() == '/' && normal.back() != '/') normal += '/';
    // The absolute path's leading "/" follows the temporary folder's own.
    return temp + (normal.front() == '/' ? normal.substr(1) : normal);
}

std::string FolderPart(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string FileNamePart(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace sitowiak::package

#include "IndexLists.h"

#include <vector>

#include "package/PackagePaths.h"
#include "platform/core/FileUtil.h"
#include "platform/core/RegistryHive.h"
#include "util/Folders.h"

namespace sitowiak::package {
namespace {

using Lines = std::vector<std::string>;

// The lines of a list file; empty when it is missing or unreadable.
Lines LoadList(const std::string& file) {
    Lines lines;
    auto text = platform::ReadWholeFile(file);
    if (!text) return lines;
    size_t pos = 0;
    while (pos < text->size()) {
        size_t nl = text->find('\n', pos);
        if (nl == std::string::npos) nl = text->size();
        std::string line = text->substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        pos = nl + 1;
    }
    return lines;
}

bool Contains(const Lines& lines, const std::string& line) {
    for (const std::string& candidate : lines)
        if (platform::RegNamesEqual(candidate, line)) return true;
    return false;
}

bool SaveList(const std::string& file, const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    std::string folder = FolderPart(file);  // empty for a list in the current folder
    return (folder.empty() || util::ForceFolders(folder)) &&
           platform::WriteFileAtomically(file, text, nullptr);
}

}  // namespace

bool AddListLine(const std::string& temp, const std::string& root, const std::string& listName,
                 const std::string& line) {
    Lines lines = LoadList(root + listName);
    if (Contains(lines, line)) return true;
    lines.push_back(line);
    return SaveList(root + listName, lines) && SaveList(MirrorPath(temp, root + listName), lines);
}

}  // namespace sitowiak::package

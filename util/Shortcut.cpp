#include "Shortcut.h"

#include <filesystem>

#include "platform/core/FileUtil.h"
#include "platform/core/SystemErrorText.h"
#include "util/Folders.h"

namespace sitowiak::util {
namespace {

// A value of type string: backslash and control characters escaped.
std::string EscapeString(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// One Exec argument, always in double quotes: inside them ", `, $ and \ take
// a backslash, and % is doubled because it introduces field codes.
std::string QuoteExecArgument(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

std::string FolderOf(const std::string& file) {
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? "" : file.substr(0, slash + 1);
}

// Why a folder that ForceFolders could not make is missing.
std::string FolderFailure(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return ec ? platform::SystemErrorText(ec.value()) : "to nie jest folder";
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string DesktopEntryText(const std::string& target, const std::string& arguments,
                             const std::string& name) {
    std::string exec = QuoteExecArgument(target);
    for (const std::string& word : SplitCommandLine(arguments))
        exec += " " + QuoteExecArgument(word);
    return "[Desktop Entry]\nType=Application\nName=" + EscapeString(name) +
           "\nExec=" + EscapeString(exec) + "\nPath=" + EscapeString(FolderOf(target)) + "\n";
}

bool CreateShortcut(void* owner, int folder, const std::string& target,
                    const std::string& arguments, const std::string& name, std::string* error) {
    std::string place = GetSpecialFolder(owner, folder);
    std::string file = WithTrailingSeparator(place) + name + ".desktop";
    std::string reason;
    if (place.empty())
        reason = "brak folderu nr " + std::to_string(folder) + " w tym systemie";
    else if (!ForceFolders(place))
        reason = "nie można utworzyć folderu: " + FolderFailure(place);
    else if (platform::WriteFileAtomically(file, DesktopEntryText(target, arguments, name),
                                           &reason))
        return true;
    if (error) *error = file + ": " + reason;
    return false;
}

}  // namespace sitowiak::util

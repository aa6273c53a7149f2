#include "HelpConnection.h"

#include "frame/windows/ShellOpen.h"

namespace sitowiak::frame {

HelpConnection HelpConnection::Find(const std::filesystem::path& programFile,
                                    const std::string& abbreviation) {
    std::filesystem::path stem =
        programFile.parent_path() / (programFile.stem().string() + abbreviation);
    HelpConnection help;
    std::error_code ec;
    for (auto [extension, kind] :
         {std::pair{".chm", HelpKind::hkHtml}, std::pair{".HLP", HelpKind::hkWinHelp}}) {
        std::filesystem::path candidate = stem;
        candidate += extension;
        if (std::filesystem::is_regular_file(candidate, ec)) {
            help.m_kind = kind;
            help.m_file = candidate;
            break;
        }
    }
    return help;
}

bool HelpConnection::Command(unsigned command, const std::string& topic) const {
    switch (m_kind) {
        case HelpKind::hkHtml:
            return HandleHtmlHelp(command, topic);
        case HelpKind::hkWinHelp:
            return WinHelp(command);
        case HelpKind::hkNone:
            return false;
    }
    return false;
}

bool HelpConnection::HandleHtmlHelp(unsigned command, const std::string& topic) const {
    if (command == HELP_QUIT) return false;
    std::string target = m_file.string();
    if (!topic.empty()) target += "::/" + topic;
    return ShellOpen(target);
}

bool HelpConnection::WinHelp(unsigned command) const {
    if (command == HELP_QUIT) return false;
    return ShellOpen(m_file.string());
}

}  // namespace sitowiak::frame

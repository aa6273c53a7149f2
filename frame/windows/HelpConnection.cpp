#include "HelpConnection.h"

#include "frame/windows/ShellOpen.h"

namespace sitowiak::frame {
namespace {

constexpr char kProgramLanguage[] = "PLK";

}  // namespace

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
            return help;
        }
    }
    const std::string page = programFile.stem().string() + abbreviation + ".html";
    for (const std::filesystem::path& candidate :
         {programFile.parent_path() / page,
          programFile.parent_path().parent_path() / "share" / "doc" / programFile.stem() / page}) {
        if (std::filesystem::is_regular_file(candidate, ec)) {
            help.m_kind = HelpKind::hkPage;
            help.m_file = candidate;
            return help;
        }
    }
    return help;
}

HelpConnection HelpConnection::FindForUser(const std::filesystem::path& programFile,
                                           const std::string& abbreviation) {
    HelpConnection help = Find(programFile, abbreviation);
    if (help.Kind() == HelpKind::hkNone && abbreviation != kProgramLanguage)
        help = Find(programFile, kProgramLanguage);
    return help;
}

bool HelpConnection::Command(unsigned command, const std::string& topic) const {
    switch (m_kind) {
        case HelpKind::hkHtml:
            return HandleHtmlHelp(command, topic);
        case HelpKind::hkWinHelp:
        case HelpKind::hkPage:
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

// WinHelp and a page take no topic: both open at their contents.
bool HelpConnection::WinHelp(unsigned command) const {
    if (command == HELP_QUIT) return false;
    return ShellOpen(m_file.string());
}

}  // namespace sitowiak::frame

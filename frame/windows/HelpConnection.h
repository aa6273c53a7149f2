// The window frame's help file: compiled HTML help ("<base><LNG>.chm") when
// one lies next to the program file, else WinHelp ("<base><LNG>.HLP") when
// that one does, else an HTML page ("<base><LNG>.html") next to the program
// file or where an installation puts it (<prefix>/share/doc/<base>/ for the
// program <prefix>/bin/<base>), else none. Opening help means handing the
// file to the desktop (ShellOpen); the viewer is a program of the desktop's
// choice: a browser for the page.
#pragma once

#include <filesystem>
#include <string>

namespace sitowiak::frame {

// Help commands, with the Windows values.
inline constexpr unsigned HELP_QUIT = 2;
inline constexpr unsigned HELP_HELPONHELP = 4;
inline constexpr unsigned HELP_FINDER = 11;

enum class HelpKind { hkNone, hkHtml, hkWinHelp, hkPage };

class HelpConnection {
public:
    HelpConnection() = default;

    // `programFile`'s folder and name without extension, then `abbreviation`
    // directly after it; ".chm" is looked for before ".HLP", and both before
    // ".html", which may also be in the installed documentation folder.
    static HelpConnection Find(const std::filesystem::path& programFile,
                               const std::string& abbreviation);
    // The help in the user's language (`abbreviation`), else in the
    // program's own, Polish, which every window speaks anyway.
    static HelpConnection FindForUser(const std::filesystem::path& programFile,
                                      const std::string& abbreviation);

    HelpKind Kind() const { return m_kind; }
    // The help file, empty with hkNone.
    const std::filesystem::path& File() const { return m_file; }

    // Sends a help command. HELP_QUIT would close the viewer, but a viewer
    // the desktop started is not ours to close, so it does nothing; every
    // other command opens the help file. Without a help file nothing
    // happens. Returns whether the file was opened.
    bool Command(unsigned command, const std::string& topic) const;

private:
    // Compiled help: the file alone, or "file::/topic" when a topic is set.
    bool HandleHtmlHelp(unsigned command, const std::string& topic) const;
    bool WinHelp(unsigned command) const;

    HelpKind m_kind = HelpKind::hkNone;
    std::filesystem::path m_file;
};

}  // namespace sitowiak::frame

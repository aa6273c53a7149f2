// Special and well-known folders. The Windows design names folders of its
// own system; on Linux these stand in for them:
//
//   WindowsFolder       /usr/lib/
//   SystemFolder        /usr/lib/<multiarch triplet>/   inside the Windows folder,
//                                                       as System32 is inside Windows
//   ProgramFilesFolder  "ProgramFilesDir", else "ProgramFilesPath" from system.reg,
//                       else /opt/
//   CommonFilesFolder   "CommonFilesDir" from system.reg, else /usr/local/
//   TempFolder          $TMPDIR, else /tmp/
//
// Apart from the system folder inside the Windows folder the four folders do
// not contain each other, so every folder code of the package builder can
// occur. Every folder function returns its folder with exactly one trailing
// "/" except GetSpecialFolder, which returns the folder as it finds it.
#pragma once

#include <string>

namespace sitowiak::util {

// Folder numbers of the Windows shell that have a Linux counterpart here.
enum : int {
    CSIDL_DESKTOP = 0x00,              // $HOME/Desktop
    CSIDL_PROGRAMS = 0x02,             // $XDG_DATA_HOME/applications
    CSIDL_PERSONAL = 0x05,             // $HOME
    CSIDL_STARTUP = 0x07,              // $XDG_CONFIG_HOME/autostart
    CSIDL_APPDATA = 0x1A,              // $XDG_CONFIG_HOME
    CSIDL_LOCAL_APPDATA = 0x1C,        // $XDG_DATA_HOME
    CSIDL_WINDOWS = 0x24,              // WindowsFolder
    CSIDL_SYSTEM = 0x25,               // SystemFolder
    CSIDL_PROGRAM_FILES = 0x26,        // ProgramFilesFolder
    CSIDL_PROGRAM_FILES_COMMON = 0x2B  // CommonFilesFolder
};

// The folder of a shell folder number, without a trailing "/"; empty for a
// number that has no counterpart. The owner window is not used on Linux.
std::string GetSpecialFolder(void* owner, int folder);

// Appends "/" when `text` is not empty and does not end with one.
std::string WithTrailingSeparator(std::string text);

// A string value under HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion". The key is opened for reading
// and writing, as the Windows design asks; when system.reg exists but may not
// be written, or the value is missing or not a string, the result is empty.
std::string ReadWindowsSetting(const std::string& name);

std::string CommonFilesFolder();
std::string TempFolder();
std::string WindowsFolder();
std::string SystemFolder();
std::string ProgramFilesFolder();

// Creates `path` together with every missing parent. True when the folder
// exists afterwards; false for an empty path or when something in the way is
// not a folder or cannot be created.
bool ForceFolders(const std::string& path);

}  // namespace sitowiak::util

#include "ProjectMode.h"

#include <QtGlobal>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "util/FileFacts.h"

namespace sitowiak::package {
namespace {

constexpr char kWizard[] = "InstallShield Wizard";
constexpr char kVisualDesign[] = "VisualDesign";
constexpr char kSequence[] = "Sequence";
constexpr char kGroups[] = "Groups";
constexpr char kExt[] = "Ext";
constexpr char kComponents[] = "Components";
constexpr char kTypes[] = "Types";
// Names the tools the program was built with.
#if defined(__clang__)
constexpr char kDevTool[] = "C++20, Clang " __clang_version__ ", Qt " QT_VERSION_STR;
#else
constexpr char kDevTool[] = "C++20, GCC " __VERSION__ ", Qt " QT_VERSION_STR;
#endif

std::string WithoutExtension(const std::string& programFile) {
    return std::filesystem::path(programFile).replace_extension().string();
}

std::string GroupKey(int group, const std::string& what) {
    return "Group" + std::to_string(group) + what;
}

// The folder a group of the code installs into; empty for codes that never
// match an existing group.
std::string TargetFolder(const ClassifiedPath& place) {
    if (place.code == "P") return "<ProgramFilesDir>\\" + FolderPart(place.rest);
    if (place.code == "S") return "<WINSYSDIR>\\" + FolderPart(place.rest);
    return "";
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

std::string VersionText(util::FileVersionHalves v) {
    return std::to_string(v.high >> 16) + "." + std::to_string(v.high & 0xFFFF) + "." +
           std::to_string(v.low >> 16) + "." + std::to_string(v.low & 0xFFFF);
}

}  // namespace

std::string ProjectFileName(const std::string& programFile) {
    return std::filesystem::path(programFile).replace_extension(".iwz").string();
}

ProjectMode::ProjectMode(const ProgramInfo& program)
    : m_program(program), m_ini(ProjectFileName(program.file)) {}

bool ProjectMode::Describe(const std::string& source) {
    ClassifiedPath place = ClassifyPath(source);
    WriteHeader();
    WriteVisualDesign();
    WriteSequence();
    int group = FindOrAddGroup(source, place);
    AddFile(group, source);
    WriteComponentsAndTypes();
    return m_ini.UpdateFile();
}

void ProjectMode::WriteHeader() {
    // The folder exists only so that its name can be taken; on Linux the
    // program file itself usually has that name already.
    std::string disks = WithoutExtension(m_program.file);
    std::error_code ec;
    std::filesystem::create_directory(disks, ec);
    m_ini.WriteString(kWizard, "DevTool", kDevTool);
    m_ini.WriteString(kWizard, "Version", "1.11");
    m_ini.WriteString(kWizard, "Platform", "Win32");
    m_ini.WriteString(kWizard, "DisksDir", FileNamePart(util::ShortPath(disks)) + "\\144MB\\");
}

void ProjectMode::WriteVisualDesign() {
    m_ini.WriteString(kVisualDesign, "AppName", m_program.name);
    m_ini.WriteString(kVisualDesign, "Title", m_program.name);
    m_ini.WriteString(kVisualDesign, "Company", "Plaskun");
    const std::pair<const char*, int> numbers[] = {
        {"TitleType", 1}, {"BackgrndAlign", 4}, {"Backgrnd", 1}, {"BackgrndColor", 0},
        {"Uninstall", 1}, {"Silent", 1},        {"SmsMode", 0}};
    for (const auto& [key, value] : numbers) m_ini.WriteInteger(kVisualDesign, key, value);
}

void ProjectMode::WriteSequence() {
    const ClassifiedPath& place = m_program.place;
    std::string folder = FolderPart(place.rest);
    std::string location = place.code == "C"   ? "<CommonFilesDir>\\" + folder
                           : place.code == "P" ? "<ProgramFilesDir>\\" + folder
                           : place.code == "S" ? "<WINSYSDIR>\\" + folder
                                               : place.rest;
    m_ini.WriteString(kSequence, "DestinationLocationDir", location);
    m_ini.WriteString(kSequence, "SelectProgramFolderName", m_program.name);
}

int ProjectMode::FindOrAddGroup(const std::string& source, const ClassifiedPath& place) {
    int count = m_ini.ReadInteger(kGroups, kGroups, 0);
    std::string target = TargetFolder(place);
    for (int i = 1; i <= count && !target.empty(); ++i)
        if (m_ini.ReadString(kGroups, GroupKey(i, "Dir"), "") == target) return i;
    int group = count + 1;
    bool shared = place.code == "S";
    m_ini.WriteInteger(kGroups, kGroups, group);
    m_ini.WriteString(kGroups, GroupKey(group, "Name"),
                      (shared ? "Pliki współdzielone" : "Pliki programu") + std::to_string(group));
    m_ini.WriteString(kGroups, GroupKey(group, "Dir"),
                      (shared ? "<WINSYSDIR>\\" : "<ProgramFilesDir>\\") + FolderPart(place.rest));
    if (source == m_program.file) WriteProgramEntry(group, source, place);
    return group;
}

void ProjectMode::WriteProgramEntry(int group, const std::string& source,
                                    const ClassifiedPath& place) {
    std::string exe = "[" + m_ini.ReadString(kGroups, GroupKey(group, "Name"), "") + "]\\" +
                      FileNamePart(place.rest);
    m_ini.WriteString(kVisualDesign, "AppExe", exe);
    m_ini.WriteString(kExt, "Ext1Param1", exe);
    util::FileVersionHalves version = util::FileVersion(source);
    if (!version.IsZero()) m_ini.WriteString(kVisualDesign, "Version", VersionText(version));
    m_ini.WriteString(kExt, "Ext1Param2", "-zarejestruj");
    m_ini.WriteInteger(kExt, "Ext1Param4", 1);
    m_ini.WriteString(kExt, "Ext1Dlg", "Exit Install");
    m_ini.WriteString(kExt, "Ext1Op", "EXE");
}

void ProjectMode::AddFile(int group, const std::string& source) {
    int count = m_ini.ReadInteger(kGroups, GroupKey(group, "Files"), 0);
    for (int j = 1; j <= count; ++j) {
        std::string file =
            m_ini.ReadString(kGroups, GroupKey(group, "File" + std::to_string(j)), "");
        if (EqualIgnoringAsciiCase(file, source)) return;
    }
    // A file that cannot be measured adds nothing rather than lowering the size.
    int32_t size = std::max<int32_t>(util::FileSize(source), 0);
    m_ini.WriteString(kGroups, GroupKey(group, "File" + std::to_string(count + 1)), source);
    m_ini.WriteInteger(kGroups, GroupKey(group, "Files"), count + 1);
    m_ini.WriteInteger(kGroups, GroupKey(group, "Size"),
                       m_ini.ReadInteger(kGroups, GroupKey(group, "Size"), 0) + size);
}

void ProjectMode::WriteComponentsAndTypes() {
    int groups = m_ini.ReadInteger(kGroups, kGroups, 0);
    std::string list;
    for (int i = 1; i <= groups; ++i) list += (i > 1 ? " " : "") + std::to_string(i);
    m_ini.WriteInteger(kComponents, kComponents, 1);
    m_ini.WriteString(kComponents, "Component1Name", "Pliki programu");
    m_ini.WriteString(kComponents, "Component1Description", "Pliki niezbędne do pracy programu");
    m_ini.WriteInteger(kComponents, "Component1Groups", groups);
    m_ini.WriteString(kComponents, "Component1GroupList", list);
    m_ini.WriteInteger(kTypes, kTypes, 1);
    m_ini.WriteInteger(kTypes, "Type1Components", 1);
    m_ini.WriteString(kTypes, "Type1Name", "Kompletna");
    m_ini.WriteInteger(kTypes, "Type1ComponentList", 1);
}

}  // namespace sitowiak::package

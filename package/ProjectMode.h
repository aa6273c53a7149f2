// Project mode: describes a file of the program in the installer project
// beside the program (its file name with the extension ".iwz"). The project
// is an INI file updated in place, so the runs for several files accumulate;
// in a new project the sections appear in the order "InstallShield Wizard",
// "VisualDesign", "Sequence", "Groups", "Ext" (when written), "Components",
// "Types".
#pragma once

#include <string>

#include "package/ProgramInfo.h"
#include "util/IniFile.h"

namespace sitowiak::package {

// The project file of a program file: its extension replaced by ".iwz", or
// ".iwz" appended when it has none.
std::string ProjectFileName(const std::string& programFile);

class ProjectMode {
public:
    explicit ProjectMode(const ProgramInfo& program);

    // Adds `source` to the project. False only when the project file could
    // not be written.
    bool Describe(const std::string& source);

private:
    void WriteHeader();
    void WriteVisualDesign();
    void WriteSequence();
    // The group whose folder is the source's target folder, or a new one.
    int FindOrAddGroup(const std::string& source, const ClassifiedPath& place);
    void WriteProgramEntry(int group, const std::string& source, const ClassifiedPath& place);
    void AddFile(int group, const std::string& source);
    void WriteComponentsAndTypes();

    const ProgramInfo& m_program;
    util::IniFile m_ini;
};

}  // namespace sitowiak::package

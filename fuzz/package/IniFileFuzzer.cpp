// Any bytes as an INI file: parsing and editing never crash, the written text
// reads back as the same file, and a write changes only its own key.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "util/IniFile.h"

using sitowiak::util::IniFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    IniFile ini = IniFile::FromText(text);
    std::string once = ini.Text();
    if (IniFile::FromText(once).Text() != once) std::abort();

    std::string groups = ini.ReadString("Groups", "Groups", "<none>");
    int count = ini.ReadInteger("Groups", "Groups", -1);
    ini.WriteString("Types", "Type1Name", "Kompletna");
    ini.WriteInteger("Groups", "Group1Files", count);
    if (ini.ReadString("Types", "Type1Name", "") != "Kompletna") std::abort();
    if (ini.ReadInteger("Groups", "Group1Files", 0) != count) std::abort();
    // The writes above touch no other key.
    if (ini.ReadString("Groups", "Groups", "<none>") != groups) std::abort();
    IniFile reread = IniFile::FromText(ini.Text());
    if (reread.ReadString("Types", "Type1Name", "") != "Kompletna") std::abort();
    return 0;
}

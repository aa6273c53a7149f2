#include <gtest/gtest.h>

#include "util/IniFile.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

TEST(IniFile, NewSectionsAndKeysKeepTheOrderOfTheirFirstWrite) {
    IniFile ini = IniFile::FromText("");
    ini.WriteString("B", "x", "1");
    ini.WriteString("A", "y", "2");
    ini.WriteString("b", "Z", "3");
    ini.WriteInteger("B", "X", 4);
    EXPECT_EQ(ini.Text(), "[B]\r\nx=4\r\nZ=3\r\n\r\n[A]\r\ny=2\r\n");
}

TEST(IniFile, EditsFollowTheWindowsProfileRules) {
    IniFile ini = IniFile::FromText(
        "; c\n[Grupa]\n  Klucz = \"pierwszy\"  \nklucz=drugi\n; note\n\n[GRUPA]\nklucz=trzeci\n");
    EXPECT_EQ(ini.ReadString("grupa", "KLUCZ", "-"), "pierwszy");
    ini.WriteString("grupa", "klucz", "nowy");
    ini.WriteString("Grupa", "inny", "a\r\nb");
    EXPECT_EQ(ini.Text(),
              "; c\r\n[Grupa]\r\nKlucz=nowy\r\nklucz=drugi\r\ninny=a  b\r\n; note\r\n\r\n"
              "[GRUPA]\r\nklucz=trzeci\r\n");
}

TEST(IniFile, IntegersFallBackOnAnythingButADecimalNumber) {
    IniFile ini = IniFile::FromText("[S]\nn= -42 \nbad=12x\nbig=99999999999\nempty=\n");
    EXPECT_EQ(ini.ReadInteger("S", "n", 0), -42);
    for (const char* key : {"bad", "big", "empty", "missing"})
        EXPECT_EQ(ini.ReadInteger("S", key, 7), 7) << key;
}

TEST(IniFile, UpdateFileReplacesTheFileOrLeavesItAlone) {
    testing::TempHome home;
    std::string file = home.Path("p.iwz");
    testing::WriteFile(file, "[A]\na=1\n");
    IniFile ini(file);
    ini.WriteString("A", "b", "2");
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(testing::ReadFile(file), "[A]\r\na=1\r\nb=2\r\n");
    EXPECT_FALSE(IniFile(home.Path("missing/folder/p.iwz")).UpdateFile());
}

}  // namespace
}  // namespace sitowiak::util

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

TEST(IniFile, NamesCompareWithoutRegardToCaseAndTheFirstDuplicateWins) {
    IniFile ini = IniFile::FromText(
        "; comment\n[Grupa]\n  Klucz = pierwszy  \nklucz=drugi\n[GRUPA]\nklucz=trzeci\n");
    EXPECT_EQ(ini.ReadString("grupa", "KLUCZ", "-"), "pierwszy");
    ini.WriteString("grupa", "klucz", "nowy");
    EXPECT_EQ(ini.Text(),
              "; comment\r\n[Grupa]\r\nKlucz=nowy\r\nklucz=drugi\r\n[GRUPA]\r\nklucz=trzeci\r\n");
    EXPECT_EQ(ini.ReadString("Grupa", "brak", "domyślny"), "domyślny");
}

TEST(IniFile, NewKeysFollowTheLastKeyOfTheirSection) {
    IniFile ini = IniFile::FromText("[A]\r\na=1\r\n; note\r\n\r\n[B]\r\nb=2\r\n");
    ini.WriteString("A", "c", "3");
    EXPECT_EQ(ini.Text(), "[A]\r\na=1\r\nc=3\r\n; note\r\n\r\n[B]\r\nb=2\r\n");
}

TEST(IniFile, ValuesAreReadAsTheWindowsProfileFunctionsReadThem) {
    IniFile ini = IniFile::FromText(
        "[S]\nq=\"  spaced  \"\nn= -42 \nbad=12x\nbig=99999999999\nempty=\nnoequals\n[broken\nk=v");
    EXPECT_EQ(ini.ReadString("S", "q", ""), "  spaced  ");
    EXPECT_EQ(ini.ReadInteger("S", "n", 0), -42);
    EXPECT_EQ(ini.ReadInteger("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "big", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "empty", 7), 7);
    EXPECT_EQ(ini.ReadString("S", "noequals", "-"), "-");
    EXPECT_EQ(ini.ReadString("broken", "k", "-"), "v");
    ini.WriteString("S", "multi", "a\r\nb");
    EXPECT_EQ(ini.ReadString("S", "multi", ""), "a  b");
}

TEST(IniFile, UpdateFileReplacesTheFileOrLeavesItAlone) {
    testing::TempHome home;
    std::string file = home.Path("p.iwz");
    testing::WriteFile(file, "[A]\na=1\n");
    IniFile ini(file);
    ini.WriteString("A", "b", "2");
    EXPECT_EQ(testing::ReadFile(file), "[A]\na=1\n");  // nothing written before UpdateFile
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(testing::ReadFile(file), "[A]\r\na=1\r\nb=2\r\n");
    EXPECT_EQ(IniFile(file).ReadString("a", "B", ""), "2");
    EXPECT_FALSE(IniFile(home.Path("missing/folder/p.iwz")).UpdateFile());
}

}  // namespace
}  // namespace sitowiak::util

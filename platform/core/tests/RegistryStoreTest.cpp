#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/core/FileUtil.h"
#include "platform/core/Registry.h"
#include "platform/core/RegistryStore.h"

namespace sitowiak::platform {
namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/store-test-XXXXXX";
        m_dir = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
};

TEST_F(StoreTest, ValuesAreStringsAndReadBackWithDefaults) {
    RegistryStore store("Sitowiak");
    EXPECT_EQ(store.KeyPath(), "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak");
    store.WriteInteger("S", "Int", -42);
    store.WriteBool("S", "Yes", true);
    store.WriteBool("S", "No", false);
    store.WriteString("S", "Two", "2");
    store.WriteString("S", "Junk", "x");
    store.WriteString("S", "Spaced", " 5");

    RegistryStore again("Sitowiak");
    EXPECT_EQ(again.ReadString("S", "Int", "?"), "-42");
    EXPECT_EQ(again.ReadInteger("S", "Int", 0), -42);
    EXPECT_TRUE(again.ReadBool("S", "Yes", false));
    EXPECT_FALSE(again.ReadBool("S", "No", true));
    EXPECT_TRUE(again.ReadBool("S", "Two", false));
    EXPECT_TRUE(again.ReadBool("S", "Junk", true));
    EXPECT_FALSE(again.ReadBool("S", "Junk", false));
    EXPECT_EQ(again.ReadInteger("S", "Spaced", 9), 9);
    EXPECT_EQ(again.ReadString("S", "Missing", "dflt"), "dflt");
    EXPECT_EQ(again.ReadString("Other", "Int", "dflt"), "dflt");
}

TEST_F(StoreTest, DwordValuesWrittenByHandReadAsNumbers) {
    platform::RegistryHive hive = platform::OpenHive(platform::RegRoot::kCurrentUser);
    hive.WriteValue("HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\S", "D",
                    platform::RegValue::Dword(7));
    hive.WriteValue("HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\S", "B",
                    platform::RegValue::Bytes(3, "\x01"));
    RegistryStore store("Sitowiak");
    EXPECT_EQ(store.ReadInteger("S", "D", 0), 7);
    EXPECT_EQ(store.ReadString("S", "D", ""), "7");
    EXPECT_EQ(store.ReadInteger("S", "B", 5), 5);
}

TEST_F(StoreTest, AnEmptyProductNameUsesTheMakersKeyAndStoresShareTheKey) {
    RegistryStore empty("");
    EXPECT_EQ(empty.KeyPath(), "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun");
    RegistryStore a("Sitowiak"), b("Sitowiak");
    a.WriteString("S", "V", "from a");
    EXPECT_EQ(b.ReadString("S", "V", ""), "from a");
}

// Stored settings that cannot be read: the store reads the defaults and
// writes nothing, this run or the next, until the user goes on without
// them; then a damaged file is kept aside and writes work again. A missing
// file is simply a first run.
TEST_F(StoreTest, UnreadableSettingsHoldEveryWriteUntilTheUserGoesOn) {
    {
        RegistryStore first("Sitowiak");
        EXPECT_FALSE(first.Unreadable());
    }
    const std::filesystem::path file = HiveFile(RegRoot::kCurrentUser);
    const std::string garbage = "\x01\x02 not a hive \xff";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << garbage;
    for (int run = 0; run < 2; ++run) {
        RegistryStore store("Sitowiak");
        EXPECT_TRUE(store.Unreadable());
        EXPECT_EQ(store.Condition().state, HiveState::kDamaged);
        EXPECT_EQ(store.ReadString("Parametry", "ReadAccess", "*"), "*");
        EXPECT_FALSE(store.WriteString("Parametry", "ReadAccess", "*"));
        RegistryStore::Batch batch(store);
        store.WriteInteger("Placement", "Left", 5);
        EXPECT_FALSE(batch.Commit());
        EXPECT_EQ(ReadWholeFile(file), garbage);
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".damaged-1"));
    }
    RegistryStore store("Sitowiak");
    store.GoOnWithoutStored();
    EXPECT_FALSE(store.Unreadable());
    EXPECT_EQ(ReadWholeFile(file.string() + ".damaged-1"), garbage);
    EXPECT_TRUE(store.WriteString("Parametry", "ReadAccess", "10.*"));
    EXPECT_EQ(RegistryStore("Sitowiak").ReadString("Parametry", "ReadAccess", ""), "10.*");
    EXPECT_EQ(ReadWholeFile(file.string() + ".damaged-1"), garbage);
}

}  // namespace
}  // namespace sitowiak::platform

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/core/FileUtil.h"
#include "platform/core/RegistryHive.h"
#include "platform/core/SystemErrorText.h"

namespace sitowiak::platform {
namespace {

namespace fs = std::filesystem;

// The process's umask for the object's lifetime.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_saved(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_saved); }

private:
    mode_t m_saved;
};

unsigned ModeOf(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

class FileUtilTest : public ::testing::Test {
protected:
    FileUtilTest() {
        char pattern[] = "/tmp/fileutil-test-XXXXXX";
        m_dir = ::mkdtemp(pattern);
    }
    ~FileUtilTest() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

// The reasons reach boxes and the log as the program's own words, in
// Polish like the rest of them.
TEST_F(FileUtilTest, FailuresAreToldInPolish) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(m_dir / "missing" / "file", "x", &error));
    EXPECT_EQ(error, "nie można utworzyć pliku: nie ma takiego pliku ani folderu");
    fs::create_directories(m_dir / "folder" / "inside");
    EXPECT_FALSE(WriteFileAtomically(m_dir / "folder", "x", &error));
    EXPECT_EQ(error, "nie można zastąpić pliku: to jest folder");
    EXPECT_EQ(SystemErrorText(EACCES), "brak uprawnień");
    EXPECT_TRUE(SystemErrorText(4000).starts_with("błąd systemu nr 4000 (")) << SystemErrorText(4000);

    ASSERT_TRUE(WriteFileAtomically(m_dir / "user.reg",
                                    "Windows Registry Editor Version 5.00\n\xff\n", nullptr));
    EXPECT_EQ(RegistryHive(m_dir / "user.reg").Condition().reason,
              "wiersz 1: plik nie jest tekstem UTF-8");
}

// New files get what any program's new file gets, so a tree written for a
// web server is readable by it; the settings hive stays the owner's alone.
TEST_F(FileUtilTest, NewFilesFollowTheUmaskReplacedFilesKeepTheirMode) {
    for (auto [mask, usual] : {std::pair{mode_t{022}, 0644u}, std::pair{mode_t{077}, 0600u}}) {
        ScopedUmask scoped(mask);
        fs::path shared = m_dir / ("shared" + std::to_string(mask));
        ASSERT_TRUE(WriteFileAtomically(shared, "one", nullptr));
        EXPECT_EQ(ModeOf(shared), usual) << mask;
        fs::path secret = m_dir / ("secret" + std::to_string(mask));
        ASSERT_TRUE(WriteFileAtomically(secret, "one", nullptr, kPrivateFileMode));
        EXPECT_EQ(ModeOf(secret), 0600u) << mask;
        fs::path hive = m_dir / ("user" + std::to_string(mask) + ".reg");
        ASSERT_TRUE(RegistryHive(hive).WriteValue("HKEY_CURRENT_USER\\A", "B", RegValue::Dword(1)));
        EXPECT_EQ(ModeOf(hive), 0600u) << mask;
    }

    ScopedUmask scoped(022);
    fs::path file = m_dir / "kept";
    ASSERT_TRUE(WriteFileAtomically(file, "old", nullptr));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(file, "new", nullptr, kPrivateFileMode));
    EXPECT_EQ(ModeOf(file), 0640u);
    EXPECT_EQ(ReadWholeFile(file), "new");
}

}  // namespace
}  // namespace sitowiak::platform

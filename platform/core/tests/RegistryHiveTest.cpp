#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/core/FileUtil.h"
#include "platform/core/Registry.h"
#include "platform/core/RegistryHive.h"

namespace sitowiak::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry";

class HiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hive-test-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_file = m_dir / "user.reg";
        SetHiveDamageReporter([this](const std::string& m) { m_reports.push_back(m); });
    }
    void TearDown() override {
        SetHiveDamageReporter(nullptr);
        fs::remove_all(m_dir);
    }
    void WriteRaw(const std::string& text) { std::ofstream(m_file, std::ios::binary) << text; }
    std::string ReadRaw() { return ReadWholeFile(m_file).value_or(""); }

    fs::path m_dir, m_file;
    std::vector<std::string> m_reports;
};

TEST_F(HiveTest, EveryValueKindAndEscapeRoundTrips) {
    RegistryHive hive(m_file);
    const std::string tricky = "a\\b\"c\nd\re ąę €";
    ASSERT_TRUE(hive.WriteValue(kKey, "Text", RegValue::String(tricky)));
    ASSERT_TRUE(hive.WriteValue(kKey, "Empty", RegValue::String("")));
    ASSERT_TRUE(hive.WriteValue(kKey, "Number", RegValue::Dword(0xDEADBEEF)));
    ASSERT_TRUE(hive.WriteValue(kKey, "", RegValue::String("default")));
    std::string bytes;
    for (int i = 0; i < 60; ++i) bytes += static_cast<char>(i * 5);
    ASSERT_TRUE(hive.WriteValue(kKey, "Blob", RegValue::Bytes(7, bytes)));

    RegistryHive again(m_file);
    EXPECT_EQ(again.ReadValue(kKey, "Text")->data, tricky);
    EXPECT_EQ(again.ReadValue(kKey, "Empty")->data, "");
    EXPECT_EQ(again.ReadValue(kKey, "Number")->AsDword(), 0xDEADBEEFu);
    EXPECT_EQ(again.ReadValue(kKey, "")->data, "default");
    EXPECT_EQ(*again.ReadValue(kKey, "Blob"), (RegValue::Bytes(7, bytes)));
    EXPECT_TRUE(m_reports.empty());

    std::string text = ReadRaw();
    EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n"));
    EXPECT_NE(text.find("\"Text\"=\"a\\\\b\\\"c\\nd\\re ąę €\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Number\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
}

TEST_F(HiveTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    RegistryHive hive(m_file);
    hive.WriteValue("HKEY_CURRENT_USER\\Software\\Pląskun\\X", "LocalPort", RegValue::String("1"));
    hive.WriteValue("hkey_current_user\\SOFTWARE\\PLĄSKUN\\x", "LOCALPORT", RegValue::String("2"));
    EXPECT_EQ(hive.ReadValue("HKEY_CURRENT_USER\\software\\pląskun\\X", "localport")->data, "2");
    std::string text = ReadRaw();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Pląskun\\X]\n\"LocalPort\"=\"2\""),
              std::string::npos);
    EXPECT_TRUE(hive.KeyExists("HKEY_CURRENT_USER\\SOFTWARE"));
    EXPECT_FALSE(hive.KeyExists("HKEY_CURRENT_USER\\SOFT"));
}

// A file written by hand may repeat keys and names in other cases: the later
// value wins and the first spelling stays, however many values there are.
TEST_F(HiveTest, RepeatedKeysAndNamesInAFileMergeAsOnImport) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n";
    for (int i = 0; i < 3000; ++i) text += "\"v" + std::to_string(i) + "\"=\"x\"\n";
    text += "\"ŻÓŁW\"=\"1\"\n[hkey_current_user\\a]\n\"V7\"=\"y\"\n\"żółw\"=\"2\"\n";
    WriteRaw(text);
    RegistryContent content = RegistryHive(m_file).Snapshot();
    ASSERT_EQ(content.Keys().size(), 1u);
    EXPECT_EQ(content.Keys()[0].path, "HKEY_CURRENT_USER\\A");
    EXPECT_EQ(content.Keys()[0].values.size(), 3001u);
    EXPECT_EQ(content.FindValue("HKEY_CURRENT_USER\\A", "v7")->data, "y");
    EXPECT_EQ(content.Keys()[0].values[3000].name, "ŻÓŁW");
    EXPECT_EQ(content.FindValue("HKEY_CURRENT_USER\\A", "Żółw")->data, "2");
    EXPECT_TRUE(m_reports.empty());
}

// A writer killed between writing its temporary file and renaming it leaves
// the file behind; the next save removes it once its process is gone and it
// is over a minute old. A live writer's file, or a fresh one, stays.
TEST_F(HiveTest, TemporariesOfAKilledSaveGoAtTheNextSave) {
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    auto make = [&](pid_t pid, bool old) {
        fs::path p = m_dir / ("user.reg.tmp-" + std::to_string(pid) + "-0");
        std::ofstream(p) << "half";
        if (old) fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::minutes(5));
        return p;
    };
    fs::path abandoned = make(dead, true);
    fs::path live = make(getppid(), true);
    fs::path fresh = make(dead + 100000, false);
    RegistryHive(m_file).WriteValue(kKey, "A", RegValue::String("1"));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(fresh));
}

TEST_F(HiveTest, WritingOneValueKeepsOtherProgramsKeysAndHexValues) {
    WriteRaw(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other\\Program]\r\n"
        "\"Path\"=\"C:\\\\x\"\r\n"
        "\"List\"=hex(7):41,00,\\\r\n  00,00\r\n"
        "\"Flag\"=dword:00000001\r\n");
    RegistryHive hive(m_file);
    ASSERT_TRUE(hive.WriteValue(kKey, "LocalPort", RegValue::String("888")));
    const char* other = "HKEY_CURRENT_USER\\Software\\Other\\Program";
    EXPECT_EQ(hive.ReadValue(other, "Path")->data, "C:\\x");
    EXPECT_EQ(*hive.ReadValue(other, "List"), RegValue::Bytes(7, std::string("A\0\0\0", 4)));
    EXPECT_EQ(hive.ReadValue(other, "Flag")->AsDword(), 1u);
    EXPECT_TRUE(m_reports.empty());
}

// A string or number given as a hex list (as some exports write them) stays
// bytes: it is written back as the same hex list and never read as text.
TEST_F(HiveTest, StringsGivenAsHexListsStayBytes) {
    WriteRaw(
        "Windows Registry Editor Version 5.00\n[K]\n\"S\"=hex(1):82,00,00,00\n"
        "\"D\"=hex(4):01\n");
    RegistryHive hive(m_file);
    ASSERT_TRUE(hive.WriteValue("K", "Other", RegValue::String("x")));
    EXPECT_FALSE(hive.ReadValue("K", "S")->IsString());
    EXPECT_FALSE(hive.ReadValue("K", "D")->IsDword());
    std::string text = ReadRaw();
    EXPECT_NE(text.find("\"S\"=hex(1):82,00,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"D\"=hex(4):01\n"), std::string::npos);
    EXPECT_TRUE(m_reports.empty());
}

// Reading a damaged file changes nothing: it reads as empty, is reported to
// nobody and stays in place, so a program can hold back before anything
// replaces it. The first write keeps it aside and starts a fresh file.
TEST_F(HiveTest, DamagedFilesStayUntilAWriteKeepsThemAside) {
    const std::string damaged[] = {
        "Windows Registry Editor Version 5.00\n[K]\n\"A\"=\"bad \\q escape\"\n",
        "Windows Registry Editor Version 5.00\n[K]\nsomething unknown\n",
        "Windows Registry Editor Version 5.00\n[K]\n\"A\"=\"truncated",
        "Windows Registry Editor Version 5.00\n[K]\n\"A\"=hex:01,\\\n",
        "Windows Registry Editor Version 5.00\n\"A\"=\"outside a key\"\n",
        "\x7f"
        "ELF\x02\x01\x01\0\0\0\xff\xfe binary garbage",
        "Windows Registry Editor Version 5.00\n[K]\n\"A\"=dword:12\n",
        // UTF-16 with a byte-order mark but an odd byte count, or a lone
        // surrogate.
        std::string("\xff\xfeW\0i\0n\0", 9),
        std::string("\xff\xfe\x00\xd8W\0", 6),
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_reports.clear();
        WriteRaw(text);
        const std::string original = ReadRaw();
        RegistryHive hive(m_file);
        EXPECT_FALSE(hive.ReadValue("K", "A").has_value());
        HiveCondition condition = hive.Condition();
        EXPECT_EQ(condition.state, HiveState::kDamaged);
        EXPECT_TRUE(condition.reason.starts_with("wiersz ")) << condition.reason;
        EXPECT_EQ(ReadRaw(), original);
        EXPECT_TRUE(m_reports.empty());
        ASSERT_TRUE(hive.WriteValue("K", "A", RegValue::String("new")));
        ASSERT_EQ(m_reports.size(), 1u);
        EXPECT_NE(m_reports[0].find("user.reg.damaged-1"), std::string::npos);
        EXPECT_EQ(ReadWholeFile(m_dir / "user.reg.damaged-1").value_or(""), original);
        EXPECT_EQ(hive.ReadValue("K", "A")->data, "new");
        EXPECT_TRUE(hive.Condition().Readable());
        // Later writes never touch the kept copy.
        ASSERT_TRUE(hive.WriteValue("K", "A", RegValue::String("newer")));
        EXPECT_EQ(ReadWholeFile(m_dir / "user.reg.damaged-1").value_or(""), original);
        EXPECT_EQ(m_reports.size(), 1u);
    }
    // Kept aside on request, once; a file mended meanwhile stays.
    WriteRaw("garbage");
    EXPECT_EQ(RegistryHive(m_file).SetDamagedAside(), m_dir / "user.reg.damaged-2");
    EXPECT_FALSE(fs::exists(m_file));
    WriteRaw("Windows Registry Editor Version 5.00\n");
    EXPECT_EQ(RegistryHive(m_file).SetDamagedAside(), fs::path());
    EXPECT_TRUE(fs::exists(m_file));
}

// Exports of the Windows registry editor: UTF-16 with a byte-order mark and
// CR LF, little- or big-endian, and UTF-8 with a byte-order mark. They read
// like any hive, and a write keeps their values in UTF-8.
TEST_F(HiveTest, ByteOrderMarkedExportsAreRead) {
    const std::u16string lines =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\r\n"
        u"\"ReadAccess\"=\"192.168.*;ŻÓŁW 𝄞\"\r\n"
        u"\"Aktywne\"=dword:00000001\r\n";
    auto utf16 = [&](bool bigEndian) {
        std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
        for (char16_t c : lines) {
            char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
            bytes += bigEndian ? high : low;
            bytes += bigEndian ? low : high;
        }
        return bytes;
    };
    const std::string utf8Export =
        "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n[" + std::string(kKey) +
        "]\r\n\"ReadAccess\"=\"192.168.*;ŻÓŁW 𝄞\"\r\n\"Aktywne\"=dword:00000001\r\n";
    const std::pair<const char*, std::string> exports[] = {
        {"UTF-16LE", utf16(false)}, {"UTF-16BE", utf16(true)}, {"UTF-8", utf8Export}};
    for (const auto& [encoding, file] : exports) {
        SCOPED_TRACE(encoding);
        WriteRaw(file);
        RegistryHive hive(m_file);
        std::optional<RegValue> access = hive.ReadValue(kKey, "readaccess");
        ASSERT_TRUE(access.has_value());
        EXPECT_EQ(access->data, "192.168.*;ŻÓŁW 𝄞");
        EXPECT_EQ(hive.ReadValue(kKey, "Aktywne")->AsDword(), 1u);
        ASSERT_TRUE(hive.WriteValue(kKey, "LocalPort", RegValue::String("1119")));
        const std::string written = ReadRaw();
        EXPECT_TRUE(written.starts_with("Windows Registry Editor Version 5.00\n")) << written;
        EXPECT_NE(written.find("\"ReadAccess\"=\"192.168.*;ŻÓŁW 𝄞\"\n"), std::string::npos);
        EXPECT_NE(written.find("\"LocalPort\"=\"1119\"\n"), std::string::npos);
        EXPECT_TRUE(m_reports.empty());
        EXPECT_FALSE(fs::exists(m_dir / "user.reg.damaged-1"));
    }
}

// Runs `body` in a child process that a deadline ends and whose memory is
// bounded, so that a read that blocks or never ends fails here instead of
// hanging or exhausting the machine. The body returns what went wrong, or
// nothing.
std::string InChildWithDeadline(const std::function<std::string()>& body) {
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        alarm(10);
#if !defined(__SANITIZE_ADDRESS__)
        struct rlimit memory = {size_t{2} << 30, size_t{2} << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        // The child never returns into the test runner, whatever happens.
        std::string problems;
        try {
            problems = body();
        } catch (const std::exception& e) {
            problems = std::string("exception: ") + e.what();
        } catch (...) {
            problems = "exception";
        }
        (void)!write(out[1], problems.data(), problems.size());
        _exit(0);
    }
    close(out[1]);
    std::string problems;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) problems.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return "the read did not end normally (signal " + std::to_string(WTERMSIG(status)) + ")";
    return problems;
}

// A FIFO, a device behind a symbolic link, a folder, or a file over the
// limit: refused from its status, never read, reported only when a write
// is refused, and left as it is. A symbolic link to a regular file reads.
TEST_F(HiveTest, FilesThatAreNotSmallRegularFilesAreRefusedUnread) {
    auto check = [&](const char* what, const char* reason, const std::function<void()>& make) {
        SCOPED_TRACE(what);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        make();
        const fs::file_type type = fs::symlink_status(m_file).type();
        std::string problems = InChildWithDeadline([&] {
            std::string found;
            std::vector<std::string> reports;
            SetHiveDamageReporter([&](const std::string& m) { reports.push_back(m); });
            RegistryHive hive(m_file);
            if (hive.ReadValue("K", "A")) found += " read a value;";
            HiveCondition condition = hive.Condition();
            if (condition.state != HiveState::kRefused ||
                condition.reason.find(reason) == std::string::npos)
                found += " condition '" + condition.reason + "';";
            if (hive.WriteValue("K", "A", RegValue::String("x"))) found += " write succeeded;";
            if (reports.size() != 1 ||
                reports[0].find("Nie można zapisać ustawień") == std::string::npos)
                found += " " + std::to_string(reports.size()) + " reports;";
            return found;
        });
        EXPECT_EQ(problems, "");
        EXPECT_EQ(fs::symlink_status(m_file).type(), type);
        for (const auto& entry : fs::directory_iterator(m_dir))
            EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos);
    };
    check("FIFO", "nie jest zwykły", [&] { ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0); });
    check("link to /dev/zero", "nie jest zwykły", [&] { fs::create_symlink("/dev/zero", m_file); });
    check("folder", "nie jest zwykły", [&] { fs::create_directory(m_file); });
    check("over the limit", "MiB", [&] {
        int fd = open(m_file.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(fd, off_t(kMaxHiveBytes) + 1), 0);
        close(fd);
    });

    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "elsewhere.reg")
        << "Windows Registry Editor Version 5.00\n[K]\n\"A\"=\"1\"\n";
    fs::create_symlink(m_dir / "elsewhere.reg", m_file);
    EXPECT_EQ(RegistryHive(m_file).ReadValue("K", "A")->data, "1");
}

TEST_F(HiveTest, ConcurrentWritersInTwoProcessesLoseNothing) {
    constexpr int kPerWriter = 40;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    bool isChild = child == 0;
    RegistryHive hive(m_file);
    for (int i = 0; i < kPerWriter; ++i)
        hive.WriteValue(kKey, (isChild ? "Child" : "Parent") + std::to_string(i),
                        RegValue::String(std::to_string(i)));
    if (isChild) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    for (int i = 0; i < kPerWriter; ++i) {
        EXPECT_TRUE(hive.ReadValue(kKey, "Child" + std::to_string(i)).has_value()) << i;
        EXPECT_TRUE(hive.ReadValue(kKey, "Parent" + std::to_string(i)).has_value()) << i;
    }
    // No temporary files are left beside the hive.
    for (const auto& entry : fs::directory_iterator(m_dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
}

TEST(RegistryRoots, HivesLiveInTheXdgConfigFolder) {
    setenv("XDG_CONFIG_HOME", "/tmp/xdg-example", 1);
    EXPECT_EQ(HiveFile(RegRoot::kCurrentUser), fs::path("/tmp/xdg-example/sitowiak/user.reg"));
    EXPECT_EQ(HiveFile(RegRoot::kLocalMachine), fs::path("/tmp/xdg-example/sitowiak/system.reg"));
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(HiveFile(RegRoot::kCurrentUser), fs::path("/home/someone/.config/sitowiak/user.reg"));
    EXPECT_EQ(FullKeyPath(RegRoot::kCurrentUser, "SOFTWARE\\Pląskun\\"),
              "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun");
}

}  // namespace
}  // namespace sitowiak::platform

#include <filesystem>

#include "package/tests/PackageTestSupport.h"
#include "util/FileFacts.h"
#include "util/Process.h"

namespace sitowiak::package {
namespace {

using util::testing::ReadFile;
using util::testing::WriteFile;

const std::string kCompress = std::string(SITOWIAK_TOOL_FOLDER) + "/compress";

int RunCompress(const std::vector<std::string>& args) {
    pid_t pid = util::StartProgram(kCompress, args);
    return pid > 0 ? util::WaitForProgram(pid).value_or(-1) : -1;
}

TEST(Compress, WritesTheGzipFormOfItsSource) {
    util::testing::TempHome home;
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>("abcabcxyz\n"[i % 10] + i % 3);
    for (const std::string& content : {data, std::string()}) {
        WriteFile(home.Path("in"), content);
        WriteFile(home.Path("out"), "old");
        ASSERT_EQ(RunCompress({home.Path("in"), home.Path("out")}), 0);
        EXPECT_EQ(testing::Gunzip(home.Path("out")), content);
    }
    EXPECT_EQ(util::FileVersion(kCompress), (util::FileVersionHalves{0x00050000, 0x30}));
}

TEST(Compress, FailuresLeaveTheTargetAsItWas) {
    util::testing::TempHome home;
    WriteFile(home.Path("out"), "old");
    EXPECT_EQ(RunCompress({home.Path("missing"), home.Path("out")}), 1);
    EXPECT_EQ(ReadFile(home.Path("out")), "old");
    EXPECT_EQ(RunCompress({home.Path("out"), home.Path("no/such/dir/out")}), 1);
    EXPECT_EQ(RunCompress({home.Path("out")}), 2);

    // The source as its own target, by its name or through other names.
    std::filesystem::create_hard_link(home.Path("out"), home.Path("link"));
    std::filesystem::create_symlink(home.Path("out"), home.Path("symlink"));
    for (const char* target : {"out", "link", "symlink", "./out"}) {
        EXPECT_EQ(RunCompress({home.Path("out"), home.Path(target)}), 1) << target;
        EXPECT_EQ(ReadFile(home.Path("out")), "old") << target;
    }
}

}  // namespace
}  // namespace sitowiak::package

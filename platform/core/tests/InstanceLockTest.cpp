#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/core/FileUtil.h"
#include "platform/core/InstanceLock.h"

namespace sitowiak::platform {
namespace {

// flock locks belong to the open file, so a second opening in this process
// is refused just as another process would be.
TEST(InstanceLockTest, TheSecondHolderIsRefusedAndLearnsTheFirstOnesPid) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("instance-lock-" + std::to_string(::getpid()));
    const auto file = dir / "new" / "sitowiak.pid";
    {
        InstanceLock first(file);
        ASSERT_TRUE(first.Held()) << first.Failure();
        EXPECT_EQ(ReadWholeFile(file), std::to_string(::getpid()) + "\n");
        InstanceLock second(file);
        EXPECT_FALSE(second.Held());
        EXPECT_TRUE(second.Failure().empty());
        EXPECT_EQ(second.HolderPid(), ::getpid());
    }
    InstanceLock again(file);
    EXPECT_TRUE(again.Held());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sitowiak::platform

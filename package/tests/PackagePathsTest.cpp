#include <filesystem>

#include "package/PackagePaths.h"
#include "package/tests/PackageTestSupport.h"
#include "util/Folders.h"

namespace sitowiak::package {
namespace {

std::string Classified(const std::string& path) {
    ClassifiedPath place = ClassifyPath(path);
    return place.code + "|" + place.rest;
}

TEST(PackagePaths, FoldersAreTriedInOrderWithoutRegardToAsciiCase) {
    util::testing::TempHome home;
    util::testing::SetWindowsSetting("ProgramFilesDir", "/srv/Programs");
    util::testing::SetWindowsSetting("CommonFilesDir", "/srv/Programs/Common");
    std::string system = util::SystemFolder();
    EXPECT_EQ(Classified(system + "libx.so"), "S|libx.so");
    EXPECT_EQ(Classified("/usr/lib/os-release"), "W|os-release");
    EXPECT_EQ(Classified("/SRV/programs/App/app"), "P|App/app");
    // The common files folder inside the program files folder classifies as P.
    EXPECT_EQ(Classified("/srv/Programs/Common/lib.so"), "P|Common/lib.so");
    util::testing::SetWindowsSetting("CommonFilesDir", "/srv/Common");
    EXPECT_EQ(Classified("/srv/Common/lib.so"), "C|lib.so");
    EXPECT_EQ(Classified("/home/u/sitowiak"), "~|/home/u/sitowiak");
    EXPECT_EQ(Classified("/srv/Programs"), "~|/srv/Programs");
}

TEST(PackagePaths, FlattenedPathsStayInsideTheFolderTheyFollow) {
    EXPECT_EQ(FlattenPath("c:/a//b///c"), "c~/a~~b~~/c");
    EXPECT_EQ(FlattenPath("//server/share/"), "~~server/share/");
    EXPECT_EQ(FlattenPath(""), "");
    EXPECT_EQ(MirrorPath("/tmp/", "/a/../b//c:/"), "/tmp/b/c~/");
    EXPECT_EQ(MirrorPath("/tmp/", "/../../etc/x"), "/tmp/etc/x");
    std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(MirrorPath("/tmp/", "tree/~//a/"), "/tmp/" + here.substr(1) + "/tree/~/a/");
    EXPECT_EQ(MirrorPath("/tmp/", ""), "/tmp/" + here.substr(1) + "/");
    EXPECT_EQ(FolderPart("/a/b/c"), "/a/b/");
    EXPECT_EQ(FolderPart("c"), "");
    EXPECT_EQ(FileNamePart("/a/b/c"), "c");
}

}  // namespace
}  // namespace sitowiak::package

#include <filesystem>

#include "package/PackageBuilder.h"
#include "package/tests/PackageTestSupport.h"
#include "util/Modules.h"

int SitowiakTestPackageA();

namespace sitowiak::package {
namespace {

using util::testing::ReadFile;

class ModulePackagesTest : public testing::PackageTest {
protected:
    std::string Canonical(const char* file) { return std::filesystem::canonical(file).string(); }
};

TEST_F(ModulePackagesTest, OurSharedLibrariesArePublishedWithTheProgram) {
    ASSERT_EQ(SitowiakTestPackageA(), 42);  // keeps the package linked
    std::string a = Canonical(SITOWIAK_TESTPKG_A), b = Canonical(SITOWIAK_TESTPKG_B);
    std::vector<std::string> modules = util::LoadedModules();
    EXPECT_EQ(modules.front(), util::ModulePath(nullptr));
    EXPECT_NE(std::find(modules.begin(), modules.end(), a), modules.end());

    std::string tree = m_home.Path("tree/");
    PackageBuilder builder(Context(tree));
    ASSERT_TRUE(builder.BuildPackage(m_program));
    ASSERT_TRUE(builder.BuildModulePackages());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(testing::Gunzip(tree + "~/" + a + ".zawartosc"), ReadFile(a));
    EXPECT_EQ(testing::Gunzip(tree + "~/" + b + ".zawartosc"), ReadFile(b));
    std::string list = ReadFile(tree + "~/" + m_program + ".install");
    EXPECT_NE(list.find("~" + a + "\r\n"), std::string::npos) << list;
    EXPECT_NE(list.find("~" + b + "\r\n"), std::string::npos) << list;
    // No system library is a package: only the program and the two packages are listed.
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;
}

TEST_F(ModulePackagesTest, TheWalkStopsAtTheFirstPackageThatFails) {
    util::testing::WriteScript(m_home.Path("tools/compress"), "exit 1");
    PackageContext context = Context(m_home.Path("tree/"));
    context.toolFolder = m_home.Path("tools");
    EXPECT_FALSE(PackageBuilder(context).BuildModulePackages());
    EXPECT_EQ(m_boxes.size(), 2u);  // the compressor's warning and the copy warning, once
}

}  // namespace
}  // namespace sitowiak::package

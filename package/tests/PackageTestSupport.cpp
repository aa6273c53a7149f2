#include "PackageTestSupport.h"

#include <sys/stat.h>
#include <zlib.h>

#include <QApplication>
#include <filesystem>

#include "platform/gui/MessageBox.h"

// Fontconfig, which Qt loads when the progress window is first shown, keeps
// caches it never frees; LeakSanitizer reads this when the tests run under it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace sitowiak::package::testing {
namespace {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "package_tests";
    static char* argv[] = {name, nullptr};
    // Kept for the whole run: widgets may be created by any test.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

}  // namespace

PackageTest::PackageTest() : m_program(m_home.Path("Program Dir/sitowiak")) {
    EnsureApplication();
    platform::SetMessageBoxHook(
        [this](const std::string& text, const std::string& caption, unsigned flags) {
            m_boxes.push_back({caption, text, flags});
            return platform::IDOK;
        });
    CopyProgram(m_program);
}

PackageTest::~PackageTest() {
    platform::SetMessageBoxHook(nullptr);
}

PackageContext PackageTest::Context(const std::string& argument) const {
    return {m_program, argument, SITOWIAK_TOOL_FOLDER};
}

std::vector<std::string> PackageTest::BoxTexts() const {
    std::vector<std::string> texts;
    for (const Box& box : m_boxes) texts.push_back(box.caption + "|" + box.text);
    return texts;
}

void PackageTest::CopyProgram(const std::string& path) const {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(SITOWIAK_TESTPKG_B, path,
                               std::filesystem::copy_options::overwrite_existing);
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            files[std::filesystem::relative(it->path(), folder).string()] =
                util::testing::ReadFile(it->path().string());
    return files;
}

std::string Gunzip(const std::string& file) {
    std::string packed = util::testing::ReadFile(file);
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) return "<not gzip>";
    zs.next_in = reinterpret_cast<Bytef*>(packed.data());
    zs.avail_in = static_cast<uInt>(packed.size());
    std::string out;
    char buffer[65536];
    int result = Z_OK;
    while (result == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        result = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - zs.avail_out);
    }
    inflateEnd(&zs);
    return result == Z_STREAM_END ? out : "<not gzip>";
}

long long ModifiedNs(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace sitowiak::package::testing

#include "FileFacts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/core/VersionBlock.h"
#include "util/Folders.h"

namespace sitowiak::util {
namespace {

// The status of a regular file opened for reading; false otherwise.
bool StatRegularFile(const std::string& file, struct stat& st) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return ok;
}

}  // namespace

int32_t FileDate(const std::string& file) {
    struct stat st {};
    if (!StatRegularFile(file, st)) return -1;
    struct tm local {};
    if (!::localtime_r(&st.st_mtime, &local)) return -1;
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return -1;
    uint32_t date =
        static_cast<uint32_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time =
        static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return static_cast<int32_t>(date << 16 | time);
}

int32_t FileSize(const std::string& file) {
    struct stat st {};
    if (!StatRegularFile(file, st) || st.st_size > INT32_MAX) return -1;
    return static_cast<int32_t>(st.st_size);
}

FileVersionHalves FileVersion(const std::string& file) {
    uint32_t size = platform::GetFileVersionInfoSize(file);
    std::vector<char> block;
    if (size == 0 || !platform::GetFileVersionInfo(file, size, block)) return {};
    auto fixed = platform::VerQueryFixed(std::string_view(block.data(), block.size()));
    if (!fixed) return {};
    return {fixed->fileVersionMS, fixed->fileVersionLS};
}

int CompareVersions(FileVersionHalves a, FileVersionHalves b) {
    auto compare = [](uint32_t x, uint32_t y) {
        int32_t sx = static_cast<int32_t>(x), sy = static_cast<int32_t>(y);
        return sx < sy ? -1 : sx > sy ? 1 : 0;
    };
    int result = compare(a.high, b.high);
    return result != 0 ? result : compare(a.low, b.low);
}

std::string ShortPath(const std::string& path) {
    if (path.empty()) return "";
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return "";
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string NewTempFileName() {
    std::string folder = ShortPath(TempFolder());
    if (folder.empty()) return "";
    std::string pattern = WithTrailingSeparator(folder) + "ptXXXXXX.tmp";
    int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0) return "";
    ::close(fd);
    return pattern;
}

}  // namespace sitowiak::util

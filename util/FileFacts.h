// Facts about files: the packed date of the last write, the size, the version
// from our version block, the canonical ("short") path, and new temporary files.
#pragma once

#include <cstdint>
#include <string>

namespace sitowiak::util {

// A file version as two 32-bit halves: the most significant pair of 16-bit
// parts in `high`, the least significant pair in `low` (5.0.0.48 gives
// high 0x00050000, low 0x00000030).
struct FileVersionHalves {
    uint32_t high = 0;
    uint32_t low = 0;
    bool IsZero() const { return high == 0 && low == 0; }
    bool operator==(const FileVersionHalves&) const = default;
};

// The last-write time of a regular file in local time, packed as the FAT
// file systems do: date in the high 16 bits ((year - 1980) << 9 | month << 5
// | day), time in the low 16 bits (hour << 11 | minute << 5 | seconds / 2).
// -1 when the file cannot be opened for reading, is not a regular file, or its
// date lies outside 1980..2107, which the packed form cannot hold.
int32_t FileDate(const std::string& file);

// The size of a regular file; -1 when it cannot be opened for reading, is not
// a regular file, or is larger than the 32-bit size can say.
int32_t FileSize(const std::string& file);

// The file version of the file's version block; (0, 0) when it has none.
FileVersionHalves FileVersion(const std::string& file);

// -1 when a is lower, 1 when a is higher, 0 when equal; the high halves
// first, then the low halves, each compared as a signed 32-bit number.
int CompareVersions(FileVersionHalves a, FileVersionHalves b);

// The canonical absolute path of an existing file or folder (symbolic links
// resolved); empty when it does not exist. Linux has no 8.3 names; the
// canonical path is what callers rely on: one stable name per file.
std::string ShortPath(const std::string& path);

// Creates a new, empty file "ptXXXXXX.tmp" with a unique name in the
// temporary folder (atomically: an existing file is never reused) and
// returns its path; empty when it cannot be created.
std::string NewTempFileName();

}  // namespace sitowiak::util

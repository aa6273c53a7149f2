// The marker files beside each content file of the distribution tree, all
// little-endian:
//   ".dlugosc"  4 bytes: size of the content file
//   ".wersja"   8 bytes: the source's version, high half then low half
//   ".data"     4 bytes: the source's packed last-write date
// Each is written atomically, so a reader sees the old marker or the new one.
#pragma once

#include <cstdint>
#include <string>

#include "util/FileFacts.h"

namespace sitowiak::package {

inline constexpr char kLengthMarker[] = ".dlugosc";
inline constexpr char kVersionMarker[] = ".wersja";
inline constexpr char kDateMarker[] = ".data";

// (0, 0) when the marker is missing or not 8 bytes long.
util::FileVersionHalves ReadVersionMarker(const std::string& contentFile);
// -1 when the marker is missing or not 4 bytes long.
int32_t ReadDateMarker(const std::string& contentFile);
// -1 when the marker is missing, not 4 bytes long or holds no 32-bit size.
int32_t ReadLengthMarker(const std::string& contentFile);
// True when both content files have version and date markers of the right
// length and each pair is the same byte for byte.
bool SameVersionAndDate(const std::string& contentFile, const std::string& otherContentFile);

bool WriteLengthMarker(const std::string& contentFile, int32_t size);
bool WriteVersionMarker(const std::string& contentFile, util::FileVersionHalves version);
bool WriteDateMarker(const std::string& contentFile, int32_t date);

}  // namespace sitowiak::package

#include "Markers.h"

#include <utility>

#include "platform/core/FileUtil.h"

namespace sitowiak::package {
namespace {

std::string LittleEndian(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

uint32_t FromLittleEndian(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t{static_cast<unsigned char>(bytes[offset + i])} << (8 * i);
    return value;
}

std::string ReadMarker(const std::string& contentFile, const char* suffix, size_t size) {
    auto bytes = platform::ReadWholeFile(contentFile + suffix);
    return bytes && bytes->size() == size ? *bytes : "";
}

bool WriteMarker(const std::string& contentFile, const char* suffix, const std::string& bytes) {
    return platform::WriteFileAtomically(contentFile + suffix, bytes, nullptr);
}

}  // namespace

util::FileVersionHalves ReadVersionMarker(const std::string& contentFile) {
    std::string bytes = ReadMarker(contentFile, kVersionMarker, 8);
    if (bytes.empty()) return {};
    return {FromLittleEndian(bytes, 0), FromLittleEndian(bytes, 4)};
}

int32_t ReadDateMarker(const std::string& contentFile) {
    std::string bytes = ReadMarker(contentFile, kDateMarker, 4);
    return bytes.empty() ? -1 : static_cast<int32_t>(FromLittleEndian(bytes, 0));
}

int32_t ReadLengthMarker(const std::string& contentFile) {
    std::string bytes = ReadMarker(contentFile, kLengthMarker, 4);
    return bytes.empty() ? -1 : static_cast<int32_t>(FromLittleEndian(bytes, 0));
}

bool SameVersionAndDate(const std::string& contentFile, const std::string& otherContentFile) {
    for (auto [suffix, size] :
         {std::pair{kVersionMarker, size_t{8}}, std::pair{kDateMarker, size_t{4}}}) {
        std::string bytes = ReadMarker(contentFile, suffix, size);
        if (bytes.empty() || bytes != ReadMarker(otherContentFile, suffix, size)) return false;
    }
    return true;
}

bool WriteLengthMarker(const std::string& contentFile, int32_t size) {
    return WriteMarker(contentFile, kLengthMarker, LittleEndian(static_cast<uint32_t>(size)));
}

bool WriteVersionMarker(const std::string& contentFile, util::FileVersionHalves version) {
    return WriteMarker(contentFile, kVersionMarker,
                       LittleEndian(version.high) + LittleEndian(version.low));
}

bool WriteDateMarker(const std::string& contentFile, int32_t date) {
    return WriteMarker(contentFile, kDateMarker, LittleEndian(static_cast<uint32_t>(date)));
}

}  // namespace sitowiak::package

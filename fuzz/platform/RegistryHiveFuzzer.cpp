// Any bytes as a hive file: parsing never crashes, and whatever parses
// serializes to text that parses again to the same content.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/core/RegistryHive.h"

using sitowiak::platform::RegistryContent;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto content = RegistryContent::Parse(text, nullptr);
    if (!content) return 0;
    std::string once = content->Serialize();
    auto again = RegistryContent::Parse(once, nullptr);
    if (!again || again->Serialize() != once) std::abort();
    return 0;
}

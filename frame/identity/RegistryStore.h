// The settings store of the frame's second level: the registry key
// HKEY_CURRENT_USER\SOFTWARE\Pląskun\<ProductName>, whose sections are
// subkeys and whose values are strings. Every write reaches the hive file at
// once, so releasing the store has nothing left to flush.
//
// Reading: a missing value gives the caller's default. Integers and booleans
// are decimal text ("2" and "-1" are true, "x" gives the default). A value
// of another type written by hand is read through its text form when it has
// one (REG_DWORD as its decimal number) and gives the default otherwise.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Registry.h"

namespace sitowiak::frame {

class RegistryStore {
public:
    // Opens (creates when missing) the product's key.
    explicit RegistryStore(std::string_view productName);

    const std::string& KeyPath() const { return m_keyPath; }

    std::string ReadString(std::string_view section, std::string_view name,
                           const std::string& fallback) const;
    int ReadInteger(std::string_view section, std::string_view name, int fallback) const;
    bool ReadBool(std::string_view section, std::string_view name, bool fallback) const;

    bool WriteString(std::string_view section, std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view name, int value);
    bool WriteBool(std::string_view section, std::string_view name, bool value);

private:
    std::optional<std::string> ReadText(std::string_view section, std::string_view name) const;
    std::string SectionPath(std::string_view section) const;

    std::string m_keyPath;  // full path with the root
    platform::RegistryHive m_hive;
};

// Decimal text to int as the store reads it: optional sign, digits, nothing
// else, within int's range.
std::optional<int> ParseDecimal(std::string_view text);

}  // namespace sitowiak::frame

// A registry hive kept as a text file in the layout of a Windows registry
// export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Pląskun\Sitowiak\Parametry]
//   "LocalPort"="888"          REG_SZ; \\ \" \n \r are the only escapes
//   "Count"=dword:0000000a     REG_DWORD, eight hex digits
//   "Blob"=hex(3):01,02,\      any other type, kept byte for byte
//     03
//   @="..."                    the key's default value
//
// Key and value names compare without regard to case and keep the case they
// were first written with. Every write is durable at once: under an advisory
// lock the file is re-read, the change applied, a temporary file written and
// synced, then renamed over the hive, so other writers' values (other
// programs' keys included) survive and a crash never leaves half a file.
//
// The file is UTF-8 (a UTF-8 byte-order mark is skipped) or, as the Windows
// registry editor exports, UTF-16 with its byte-order mark (FF FE or FE FF);
// it is always written back as UTF-8.
//
// A file that cannot be read reads as an empty hive and is left as it is:
// reading never renames, replaces or reports. One that does not parse (an
// unknown line, a broken escape, a value before any key, a truncated hex
// list, bytes that are not UTF-8 or UTF-16) is damaged: the next write keeps
// it aside with a ".damaged-N" suffix, tells the damage reporter and starts a
// fresh file. One that is not a regular file (a FIFO, a device), is larger
// than kMaxHiveBytes or cannot be opened is refused: never read, and every
// write fails rather than replace it. Condition() says which, so that a
// program can hold back before settings it could not read are lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sitowiak::platform {

enum class RegType : uint32_t { kNone = 0, kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4 };

struct RegValue {
    uint32_t type = static_cast<uint32_t>(RegType::kSz);
    // REG_SZ: the UTF-8 text. REG_DWORD: four bytes, little-endian.
    // Other types: the raw bytes of the hex list.
    std::string data;
    // Written as a hex list in the file (hex(1): for a string, say): kept and
    // written back as bytes, never read as text.
    bool raw = false;

    static RegValue String(std::string text);
    static RegValue Dword(uint32_t value);
    // Any type as a list of bytes.
    static RegValue Bytes(uint32_t type, std::string bytes);
    bool IsString() const { return !raw && type == static_cast<uint32_t>(RegType::kSz); }
    bool IsDword() const {
        return !raw && type == static_cast<uint32_t>(RegType::kDword) && data.size() == 4;
    }
    uint32_t AsDword() const;
    bool operator==(const RegValue&) const = default;
};

struct RegNamedValue {
    std::string name;  // empty for the default value "@"
    RegValue value;
};

struct RegKey {
    std::string path;  // full path with the root, "\" separated
    std::vector<RegNamedValue> values;
};

// The parsed content of a hive file, in file order.
class RegistryContent {
public:
    // Parses the text of a hive. On failure returns nullopt and sets *error
    // to "line N: what".
    static std::optional<RegistryContent> Parse(std::string_view text, std::string* error);
    std::string Serialize() const;

    const RegKey* FindKey(std::string_view path) const;
    RegKey& CreateKey(std::string_view path);
    bool KeyExists(std::string_view path) const;  // also true for a parent of a stored key
    const RegValue* FindValue(std::string_view path, std::string_view name) const;
    void SetValue(std::string_view path, std::string_view name, RegValue value);
    bool DeleteValue(std::string_view path, std::string_view name);
    const std::vector<RegKey>& Keys() const { return m_keys; }

private:
    std::vector<RegKey> m_keys;
};

// Compares two UTF-8 names without regard to case (full Unicode case folding,
// so "PLĄSKUN" and "pląskun" are one name).
bool RegNamesEqual(std::string_view a, std::string_view b);

// A settings file is a few kilobytes; one larger than this is not ours to read.
inline constexpr size_t kMaxHiveBytes = 16 * 1024 * 1024;

enum class HiveState {
    kReadable,  // parsed, or there is no file yet
    kDamaged,   // a regular file that does not parse
    kRefused,   // not a regular file, larger than kMaxHiveBytes, or unreadable
};

struct HiveCondition {
    HiveState state = HiveState::kReadable;
    // For a message: "line N: what", or why the file was refused.
    std::string reason;
    bool Readable() const { return state == HiveState::kReadable; }
};

using HiveDamageReporter = std::function<void(const std::string& message)>;
// Who is told about a damaged hive; standard error until the program sets one.
void SetHiveDamageReporter(HiveDamageReporter reporter);

class RegistryHive {
public:
    explicit RegistryHive(std::filesystem::path file);

    const std::filesystem::path& File() const { return m_file; }

    // Reads go to the file each time, so values written by another process
    // are seen at once.
    std::optional<RegValue> ReadValue(std::string_view key, std::string_view name) const;
    bool KeyExists(std::string_view key) const;
    // The content; *condition, when given, says whether the file could be read.
    RegistryContent Snapshot(HiveCondition* condition = nullptr) const;
    HiveCondition Condition() const;
    // Keeps a damaged file aside now, under the lock, and returns its new
    // name. Empty, and nothing done, when the file is not (or no longer)
    // damaged or cannot be renamed.
    std::filesystem::path SetDamagedAside();

    // Each write is one locked read-modify-write of the whole file.
    // They return false when the file could not be written (and report why
    // through the damage reporter's channel).
    bool WriteValue(std::string_view key, std::string_view name, const RegValue& value);
    // Several values, each under its own key, in one locked write: a crash
    // leaves either all of them or none.
    bool WriteValues(const std::vector<std::pair<std::string, RegNamedValue>>& values);
    bool CreateKey(std::string_view key);
    bool DeleteValue(std::string_view key, std::string_view name);

private:
    bool Modify(const std::function<void(RegistryContent&)>& change);
    RegistryContent Load(int lockType, HiveCondition* condition = nullptr) const;
    RegistryContent LoadUnlocked(HiveCondition* condition) const;

    std::filesystem::path m_file;
};

}  // namespace sitowiak::platform

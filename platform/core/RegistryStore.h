// The settings store of the frame's second level: the registry key
// HKEY_CURRENT_USER\SOFTWARE\Pląskun\<ProductName>, whose sections are
// subkeys and whose values are strings. Every write reaches the hive file at
// once, so releasing the store has nothing left to flush.
//
// Reading: a missing value gives the caller's default. Integers and booleans
// are decimal text ("2" and "-1" are true, "x" gives the default). A value
// of another type written by hand is read through its text form when it has
// one (REG_DWORD as its decimal number) and gives the default otherwise.
//
// Stored settings that exist but cannot be read (a damaged or refused hive,
// see RegistryHive) make the store unreadable from its opening: it reads the
// defaults and writes nothing, so that no default takes the place of what
// the user had, until its owner has shown why and the user chooses to go on
// (GoOnWithoutStored). A missing file is no such case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Registry.h"

namespace sitowiak::platform {

class RegistryStore {
public:
    // Opens (creates when missing) the product's key.
    explicit RegistryStore(std::string_view productName);

    const std::string& KeyPath() const { return m_keyPath; }

    // True while stored settings that could not be read at the opening hold
    // every write back; Condition() says why.
    bool Unreadable() const { return m_unreadable; }
    const HiveCondition& Condition() const { return m_condition; }
    const std::filesystem::path& File() const { return m_hive.File(); }
    // The user goes on without the stored settings: a damaged file is kept
    // aside now (a later write starts a fresh one), and writes reach the hive
    // again. A refused file stays where it is, and writes to it still fail.
    void GoOnWithoutStored();

    std::string ReadString(std::string_view section, std::string_view name,
                           const std::string& fallback) const;
    int ReadInteger(std::string_view section, std::string_view name, int fallback) const;
    bool ReadBool(std::string_view section, std::string_view name, bool fallback) const;

    bool WriteString(std::string_view section, std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view name, int value);
    bool WriteBool(std::string_view section, std::string_view name, bool value);

    // Collects every write made while it lives and writes them to the hive
    // in one go at Commit, so that values saved together (all settings at
    // exit) are stored all or none, with one lock, one sync and one rename.
    // Writes made meanwhile count as done; a batch dropped without Commit
    // writes nothing, and so does Commit while the store is unreadable.
    class Batch {
    public:
        explicit Batch(RegistryStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        bool Commit();

    private:
        RegistryStore& m_store;
    };

    // Reads that take many values at once (the settings at start) read the
    // hive file once: a snapshot of the store's key and its sections.
    class Snapshot {
    public:
        std::string ReadString(std::string_view section, std::string_view name,
                               const std::string& fallback) const;
        bool ReadBool(std::string_view section, std::string_view name, bool fallback) const;
        // The value's text, none when it is missing or has none.
        std::optional<std::string> ReadText(std::string_view section, std::string_view name) const;

    private:
        friend class RegistryStore;
        Snapshot(const RegistryStore& store, RegistryContent content)
            : m_store(store), m_content(std::move(content)) {}
        const RegistryStore& m_store;
        RegistryContent m_content;
    };
    Snapshot TakeSnapshot() const { return Snapshot(*this, m_hive.Snapshot()); }
    // The same, reading the file again now; *condition says whether it could
    // be read (the store's own state stays as it was at its opening).
    Snapshot TakeSnapshot(HiveCondition* condition) const {
        return Snapshot(*this, m_hive.Snapshot(condition));
    }

private:
    std::optional<std::string> ReadText(std::string_view section, std::string_view name) const;
    std::string SectionPath(std::string_view section) const;

    std::string m_keyPath;  // full path with the root
    platform::RegistryHive m_hive;
    HiveCondition m_condition;
    bool m_unreadable = false;
    // The writes of an open batch, in order; none while no batch is open.
    std::optional<std::vector<std::pair<std::string, RegNamedValue>>> m_pending;
};

// Decimal text to int as the store reads it: optional sign, digits, nothing
// else, within int's range.
std::optional<int> ParseDecimal(std::string_view text);

}  // namespace sitowiak::platform

#include "RegistryStore.h"

#include <charconv>

namespace sitowiak::platform {

std::optional<int> ParseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

RegistryStore::RegistryStore(std::string_view productName)
    : m_keyPath(platform::FullKeyPath(platform::RegRoot::kCurrentUser,
                                      "SOFTWARE\\Pląskun\\" + std::string(productName))),
      m_hive(platform::OpenHive(platform::RegRoot::kCurrentUser)) {
    RegistryContent content = m_hive.Snapshot(&m_condition);
    m_unreadable = !m_condition.Readable();
    if (!m_unreadable && !content.KeyExists(m_keyPath)) m_hive.CreateKey(m_keyPath);
}

void RegistryStore::GoOnWithoutStored() {
    if (!m_unreadable) return;
    if (m_condition.state == HiveState::kDamaged) m_hive.SetDamagedAside();
    m_unreadable = false;
}

std::string RegistryStore::SectionPath(std::string_view section) const {
    return section.empty() ? m_keyPath : m_keyPath + "\\" + std::string(section);
}

namespace {

// A value's text as the store reads it: a string as it is, a REG_DWORD as its
// decimal number, anything else none.
std::optional<std::string> TextOf(const RegValue* value) {
    if (!value) return std::nullopt;
    if (value->IsString()) return value->data;
    if (value->IsDword()) return std::to_string(static_cast<int32_t>(value->AsDword()));
    return std::nullopt;
}

bool BoolOf(const std::optional<std::string>& text, bool fallback) {
    if (!text) return fallback;
    return ParseDecimal(*text).value_or(fallback ? 1 : 0) != 0;
}

}  // namespace

std::optional<std::string> RegistryStore::ReadText(std::string_view section,
                                                   std::string_view name) const {
    std::optional<platform::RegValue> value = m_hive.ReadValue(SectionPath(section), name);
    return TextOf(value ? &*value : nullptr);
}

std::string RegistryStore::Snapshot::ReadString(std::string_view section, std::string_view name,
                                                const std::string& fallback) const {
    return TextOf(m_content.FindValue(m_store.SectionPath(section), name)).value_or(fallback);
}

std::optional<std::string> RegistryStore::Snapshot::ReadText(std::string_view section,
                                                             std::string_view name) const {
    return TextOf(m_content.FindValue(m_store.SectionPath(section), name));
}

bool RegistryStore::Snapshot::ReadBool(std::string_view section, std::string_view name,
                                       bool fallback) const {
    return BoolOf(TextOf(m_content.FindValue(m_store.SectionPath(section), name)), fallback);
}

RegistryStore::Batch::Batch(RegistryStore& store) : m_store(store) {
    m_store.m_pending.emplace();
}

RegistryStore::Batch::~Batch() {
    m_store.m_pending.reset();
}

bool RegistryStore::Batch::Commit() {
    auto pending = std::move(*m_store.m_pending);
    m_store.m_pending.emplace();
    if (m_store.m_unreadable) return false;
    return pending.empty() || m_store.m_hive.WriteValues(pending);
}

std::string RegistryStore::ReadString(std::string_view section, std::string_view name,
                                      const std::string& fallback) const {
    return ReadText(section, name).value_or(fallback);
}

int RegistryStore::ReadInteger(std::string_view section, std::string_view name,
                               int fallback) const {
    std::optional<std::string> text = ReadText(section, name);
    if (!text) return fallback;
    return ParseDecimal(*text).value_or(fallback);
}

bool RegistryStore::ReadBool(std::string_view section, std::string_view name, bool fallback) const {
    return BoolOf(ReadText(section, name), fallback);
}

bool RegistryStore::WriteString(std::string_view section, std::string_view name,
                                std::string_view value) {
    if (m_unreadable) return false;
    RegValue text = RegValue::String(std::string(value));
    if (m_pending) {
        m_pending->push_back({SectionPath(section), RegNamedValue{std::string(name), text}});
        return true;
    }
    return m_hive.WriteValue(SectionPath(section), name, text);
}

bool RegistryStore::WriteInteger(std::string_view section, std::string_view name, int value) {
    return WriteString(section, name, std::to_string(value));
}

bool RegistryStore::WriteBool(std::string_view section, std::string_view name, bool value) {
    return WriteString(section, name, value ? "1" : "0");
}

}  // namespace sitowiak::platform

#include "RegistryHive.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "FileUtil.h"
#include "SystemErrorText.h"

namespace sitowiak::platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";

std::mutex g_reporterMutex;
HiveDamageReporter g_reporter;

void Report(const std::string& message) {
    HiveDamageReporter reporter;
    {
        std::lock_guard lock(g_reporterMutex);
        reporter = g_reporter;
    }
    if (reporter)
        reporter(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || (len > 1 && c < 0xC2) || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 (after its byte-order mark) as UTF-8; nullopt for an odd byte count
// or a surrogate without its pair.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    auto unit = [&](size_t i) -> uint32_t {
        auto first = static_cast<unsigned char>(bytes[i]);
        auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8) | second : (second << 8) | first;
    };
    std::string out;
    out.reserve(bytes.size() / 2 * 3 / 2);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return std::nullopt;
            uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(out, c);
    }
    return out;
}

// Reads a quoted string starting at s[pos] == '"'. Returns the position after
// the closing quote, or npos for a broken escape or a missing quote.
size_t ParseQuoted(std::string_view s, size_t pos, std::string& out) {
    out.clear();
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') return i + 1;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == s.size()) return std::string_view::npos;
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "01,02,ff" (white space allowed around the commas) into bytes.
bool ParseHexList(std::string_view list, std::string& out) {
    out.clear();
    size_t i = 0;
    auto skipSpace = [&] {
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
    };
    skipSpace();
    if (i == list.size()) return true;
    for (;;) {
        skipSpace();
        if (i + 2 > list.size()) return false;
        int hi = HexDigit(list[i]), lo = HexDigit(list[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        skipSpace();
        if (i == list.size()) return true;
        if (list[i++] != ',') return false;
    }
}

// The value part after '=': string, dword or hex list.
bool ParseValueData(std::string_view data, RegValue& value) {
    if (!data.empty() && data.front() == '"') {
        value.type = static_cast<uint32_t>(RegType::kSz);
        size_t end = ParseQuoted(data, 0, value.data);
        return end == data.size();
    }
    if (data.starts_with("dword:")) {
        std::string_view digits = data.substr(6);
        if (digits.size() != 8) return false;
        uint32_t v = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        value = RegValue::Dword(v);
        return true;
    }
    value.raw = true;
    if (data.starts_with("hex:")) {
        value.type = static_cast<uint32_t>(RegType::kBinary);
        return ParseHexList(data.substr(4), value.data);
    }
    if (data.starts_with("hex(")) {
        size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4) return false;
        uint32_t type = 0;
        for (char c : data.substr(4, close - 4)) {
            int d = HexDigit(c);
            if (d < 0 || type > 0x0FFFFFFF) return false;
            type = type * 16 + static_cast<uint32_t>(d);
        }
        value.type = type;
        return ParseHexList(data.substr(close + 2), value.data);
    }
    return false;
}

void AppendValueData(std::string& out, const RegValue& value) {
    if (value.IsString()) {
        AppendQuoted(out, value.data);
        return;
    }
    if (value.IsDword()) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", value.AsDword());
        out += buf;
        return;
    }
    if (value.type == static_cast<uint32_t>(RegType::kBinary)) {
        out += "hex:";
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        out += buf;
    }
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < value.data.size(); ++i) {
        if (i) out += (i % 24 == 0) ? ",\\\n  " : ",";
        auto b = static_cast<unsigned char>(value.data[i]);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

}  // namespace

RegValue RegValue::String(std::string text) {
    return RegValue{static_cast<uint32_t>(RegType::kSz), std::move(text)};
}

RegValue RegValue::Dword(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return RegValue{static_cast<uint32_t>(RegType::kDword), bytes};
}

RegValue RegValue::Bytes(uint32_t type, std::string bytes) {
    return RegValue{type, std::move(bytes), true};
}

uint32_t RegValue::AsDword() const {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A name in the form names are compared in: ASCII lowered, anything else
// through Unicode case folding.
std::string FoldedName(std::string_view name) {
    if (IsAscii(name)) {
        std::string lowered(name);
        for (char& c : lowered)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        return lowered;
    }
    auto text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
    std::string folded;
    text.foldCase(U_FOLD_CASE_DEFAULT).toUTF8String(folded);
    return folded;
}

}  // namespace

bool RegNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
            return x == y ||
                   ((x | 0x20) == (y | 0x20) && std::isalpha(static_cast<unsigned char>(x)));
        }))
        return true;
    // Two ASCII names that differ in more than letter case differ.
    if (IsAscii(a) && IsAscii(b)) return false;
    auto ua =
        icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    auto ub =
        icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

std::optional<RegistryContent> RegistryContent::Parse(std::string_view text, std::string* error) {
    auto fail = [&](size_t line, const char* what) {
        if (error) *error = "wiersz " + std::to_string(line + 1) + ": " + what;
        return std::nullopt;
    };
    // Exports of the Windows registry editor are UTF-16 with a byte-order mark.
    std::string decoded;
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        std::optional<std::string> utf8 = Utf16ToUtf8(text.substr(2), text.front() == '\xFE');
        if (!utf8) return fail(0, "plik nie jest tekstem UTF-16");
        decoded = std::move(*utf8);
        text = decoded;
    }
    if (!IsValidUtf8(text)) return fail(0, "plik nie jest tekstem UTF-8");
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    RegistryContent content;
    RegKey* current = nullptr;
    // Keys and each key's values by folded name, so that a file of many
    // values parses in linear time.
    std::unordered_map<std::string, size_t> keyIndex;
    std::vector<std::unordered_map<std::string, size_t>> valueIndex;
    std::unordered_map<std::string, size_t>* currentValues = nullptr;
    std::vector<std::string_view> lines = SplitLines(text);
    bool sawHeader = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string_view line = TrimRight(lines[n]);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (!sawHeader) {
            if (line != kHeader && line != kOldHeader) return fail(n, "brak wiersza nagłówka");
            sawHeader = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3 || line[1] == '-')
                return fail(n, "błędny wiersz klucza");
            std::string_view path = line.substr(1, line.size() - 2);
            auto [at, added] = keyIndex.try_emplace(FoldedName(path), content.m_keys.size());
            if (added) {
                content.m_keys.push_back(RegKey{std::string(path), {}});
                valueIndex.emplace_back();
            }
            current = &content.m_keys[at->second];
            currentValues = &valueIndex[at->second];
            continue;
        }
        if (!current) return fail(n, "wartość poza kluczem");
        std::string name;
        size_t afterName;
        if (line.front() == '@') {
            afterName = 1;
        } else if (line.front() == '"') {
            afterName = ParseQuoted(line, 0, name);
            if (afterName == std::string_view::npos) return fail(n, "błędna nazwa wartości");
        } else {
            return fail(n, "nieznany wiersz");
        }
        if (afterName >= line.size() || line[afterName] != '=') return fail(n, "missing '='");
        std::string data(line.substr(afterName + 1));
        // Hex lists continue on the next line after a trailing backslash.
        while (!data.empty() && data.back() == '\\' && !data.starts_with("\"")) {
            data.pop_back();
            if (++n == lines.size()) return fail(n - 1, "urwana lista szesnastkowa");
            std::string_view more = TrimRight(lines[n]);
            while (!more.empty() && (more.front() == ' ' || more.front() == '\t'))
                more.remove_prefix(1);
            data += more;
        }
        RegValue value;
        if (!ParseValueData(data, value)) return fail(n, "błędne dane wartości");
        // A name given twice: the later line wins, as on import.
        auto [at, added] = currentValues->try_emplace(FoldedName(name), current->values.size());
        if (added)
            current->values.push_back({name, std::move(value)});
        else
            current->values[at->second].value = std::move(value);
    }
    if (!text.empty() && !sawHeader) return fail(0, "brak wiersza nagłówka");
    return content;
}

std::string RegistryContent::Serialize() const {
    std::string out(kHeader);
    out += "\n";
    for (const RegKey& key : m_keys) {
        out += "\n[";
        out += key.path;
        out += "]\n";
        for (const RegNamedValue& v : key.values) {
            if (v.name.empty())
                out += '@';
            else
                AppendQuoted(out, v.name);
            out += '=';
            AppendValueData(out, v.value);
            out += '\n';
        }
    }
    return out;
}

const RegKey* RegistryContent::FindKey(std::string_view path) const {
    for (const RegKey& key : m_keys)
        if (RegNamesEqual(key.path, path)) return &key;
    return nullptr;
}

RegKey& RegistryContent::CreateKey(std::string_view path) {
    for (RegKey& key : m_keys)
        if (RegNamesEqual(key.path, path)) return key;
    m_keys.push_back(RegKey{std::string(path), {}});
    return m_keys.back();
}

bool RegistryContent::KeyExists(std::string_view path) const {
    for (const RegKey& key : m_keys) {
        if (key.path.size() < path.size()) continue;
        std::string_view head(key.path.data(), path.size());
        bool boundary = key.path.size() == path.size() || key.path[path.size()] == '\\';
        if (boundary && RegNamesEqual(head, path)) return true;
    }
    return false;
}

const RegValue* RegistryContent::FindValue(std::string_view path, std::string_view name) const {
    const RegKey* key = FindKey(path);
    if (!key) return nullptr;
    for (const RegNamedValue& v : key->values)
        if (RegNamesEqual(v.name, name)) return &v.value;
    return nullptr;
}

void RegistryContent::SetValue(std::string_view path, std::string_view name, RegValue value) {
    RegKey& key = CreateKey(path);
    for (RegNamedValue& v : key.values)
        if (RegNamesEqual(v.name, name)) {
            v.value = std::move(value);
            return;
        }
    key.values.push_back({std::string(name), std::move(value)});
}

bool RegistryContent::DeleteValue(std::string_view path, std::string_view name) {
    for (RegKey& key : m_keys) {
        if (!RegNamesEqual(key.path, path)) continue;
        for (auto it = key.values.begin(); it != key.values.end(); ++it)
            if (RegNamesEqual(it->name, name)) {
                key.values.erase(it);
                return true;
            }
    }
    return false;
}

void SetHiveDamageReporter(HiveDamageReporter reporter) {
    std::lock_guard lock(g_reporterMutex);
    g_reporter = std::move(reporter);
}

RegistryHive::RegistryHive(std::filesystem::path file) : m_file(std::move(file)) {}

std::optional<RegValue> RegistryHive::ReadValue(std::string_view key, std::string_view name) const {
    RegistryContent content = Load(LOCK_SH);
    const RegValue* v = content.FindValue(key, name);
    if (!v) return std::nullopt;
    return *v;
}

bool RegistryHive::KeyExists(std::string_view key) const {
    return Load(LOCK_SH).KeyExists(key);
}

RegistryContent RegistryHive::Snapshot(HiveCondition* condition) const {
    return Load(LOCK_SH, condition);
}

HiveCondition RegistryHive::Condition() const {
    HiveCondition condition;
    Load(LOCK_SH, &condition);
    return condition;
}

std::filesystem::path RegistryHive::SetDamagedAside() {
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    FileLock lock(LockPathFor(m_file), LOCK_EX);
    HiveCondition condition;
    LoadUnlocked(&condition);
    if (condition.state != HiveState::kDamaged) return {};
    return MoveAside(m_file, ".damaged");
}

bool RegistryHive::WriteValue(std::string_view key, std::string_view name, const RegValue& value) {
    return Modify([&](RegistryContent& c) { c.SetValue(key, name, value); });
}

bool RegistryHive::WriteValues(const std::vector<std::pair<std::string, RegNamedValue>>& values) {
    return Modify([&](RegistryContent& content) {
        for (const auto& [key, named] : values) content.SetValue(key, named.name, named.value);
    });
}

bool RegistryHive::CreateKey(std::string_view key) {
    return Modify([&](RegistryContent& c) { c.CreateKey(key); });
}

bool RegistryHive::DeleteValue(std::string_view key, std::string_view name) {
    return Modify([&](RegistryContent& c) { c.DeleteValue(key, name); });
}

RegistryContent RegistryHive::Load(int lockType, HiveCondition* condition) const {
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    FileLock lock(LockPathFor(m_file), lockType);
    return LoadUnlocked(condition);
}

// Reads and parses the hive; the caller holds the lock. A file that cannot be
// read gives an empty hive and is left as it is.
RegistryContent RegistryHive::LoadUnlocked(HiveCondition* condition) const {
    HiveCondition found;
    RegistryContent content;
    LimitedRead file = ReadRegularFile(m_file, kMaxHiveBytes);
    switch (file.outcome) {
        case FileReadOutcome::kMissing:
            break;
        case FileReadOutcome::kRead:
            if (auto parsed = RegistryContent::Parse(file.content, &found.reason))
                content = std::move(*parsed);
            else
                found.state = HiveState::kDamaged;
            break;
        case FileReadOutcome::kNotRegular:
            found = {HiveState::kRefused, "to nie jest zwykły plik"};
            break;
        case FileReadOutcome::kTooLarge:
            found = {HiveState::kRefused,
                     "plik jest większy niż " + std::to_string(kMaxHiveBytes >> 20) + " MiB"};
            break;
        case FileReadOutcome::kFailed:
            found = {HiveState::kRefused, SystemErrorText(file.error)};
            break;
    }
    if (condition) *condition = std::move(found);
    return content;
}

namespace {

// Temporary files of a save that never finished ("user.reg.tmp-PID-N"): the
// writer was killed between writing and renaming. One whose process is gone
// and that is older than a minute is removed; a live writer's is left alone.
void RemoveAbandonedTemporaries(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + ".tmp-";
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const std::string rest = name.substr(prefix.size());
        const size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos) continue;
        const std::optional<int> pid = [&]() -> std::optional<int> {
            int value = 0;
            auto [end, err] = std::from_chars(rest.data(), rest.data() + dash, value);
            if (err != std::errc() || end != rest.data() + dash || value <= 0) return std::nullopt;
            return value;
        }();
        if (!pid || *pid == ::getpid()) continue;
        if (::kill(*pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code timeError;
        auto written = std::filesystem::last_write_time(entry.path(), timeError);
        if (timeError || now - written < std::chrono::minutes(1)) continue;
        std::filesystem::remove(entry.path(), timeError);
    }
}

}  // namespace

bool RegistryHive::Modify(const std::function<void(RegistryContent&)>& change) {
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    FileLock lock(LockPathFor(m_file), LOCK_EX);
    RemoveAbandonedTemporaries(m_file);
    HiveCondition condition;
    RegistryContent content = LoadUnlocked(&condition);
    if (condition.state == HiveState::kRefused) {
        Report("Nie można zapisać ustawień w pliku " + m_file.string() + ": " + condition.reason +
               ".");
        return false;
    }
    // A damaged file is kept, never replaced: if it cannot be set aside,
    // nothing is written.
    if (condition.state == HiveState::kDamaged) {
        std::filesystem::path aside = MoveAside(m_file, ".damaged");
        Report("Plik ustawień " + m_file.string() + " jest uszkodzony (" + condition.reason +
               "). " +
               (aside.empty() ? "Nie udało się go przenieść, więc ustawień nie zapisano."
                              : "Zachowano go jako " + aside.string() + "."));
        if (aside.empty()) return false;
    }
    change(content);
    std::string error;
    // Settings are the user's own: a new hive is readable by its owner only.
    if (!WriteFileAtomically(m_file, content.Serialize(), &error, kPrivateFileMode)) {
        Report("Nie można zapisać ustawień w pliku " + m_file.string() + ": " + error);
        return false;
    }
    return true;
}

}  // namespace sitowiak::platform

#include "MimeCharsetDatabase.h"

#include <array>
#include <string>
#include <unordered_map>

namespace sitowiak::platform {
namespace {

constexpr MimeCharset Cs(std::string_view name, int64_t internetEncoding) {
    return MimeCharset{name, {}, internetEncoding};
}
constexpr MimeCharset Alias(std::string_view name, std::string_view target) {
    return MimeCharset{name, target, -1};
}

// Canonical names carry their Windows code page; the code pages follow the
// Windows registry where Windows has one (iso-8859-1 is 28591, us-ascii
// 20127, euc-jp 51932, iso-2022-jp 50220, gb2312 and gbk 936). ISO-8859-10,
// -11, -14 and -16 have no Windows code page; they take the free numbers of
// the 2859x series that .NET and others use. Aliases are the spellings that
// news articles carry; each names a canonical entry directly.
constexpr auto kTable = std::to_array<MimeCharset>({
    Cs("us-ascii", 20127),
    Alias("ascii", "us-ascii"),
    Alias("us", "us-ascii"),
    Alias("ansi_x3.4-1968", "us-ascii"),
    Alias("ansi_x3.4-1986", "us-ascii"),
    Alias("iso646-us", "us-ascii"),
    Alias("iso-ir-6", "us-ascii"),
    Alias("cp367", "us-ascii"),
    Alias("ibm367", "us-ascii"),
    Alias("csascii", "us-ascii"),
    Alias("646", "us-ascii"),
    Alias("x-ascii", "us-ascii"),

    Cs("utf-8", 65001),
    Alias("utf8", "utf-8"),
    Alias("unicode-1-1-utf-8", "utf-8"),
    Alias("unicode-2-0-utf-8", "utf-8"),
    Alias("x-unicode20utf8", "utf-8"),
    Alias("x-unicode-2-0-utf-8", "utf-8"),
    Alias("cp65001", "utf-8"),
    Cs("utf-7", 65000),
    Alias("utf7", "utf-7"),
    Alias("unicode-1-1-utf-7", "utf-7"),
    Alias("x-unicode20utf7", "utf-7"),

    Cs("windows-1250", 1250),
    Alias("cp1250", "windows-1250"),
    Alias("x-cp1250", "windows-1250"),
    Alias("windows1250", "windows-1250"),
    Alias("win-1250", "windows-1250"),
    Alias("ms-ee", "windows-1250"),
    Cs("windows-1251", 1251),
    Alias("cp1251", "windows-1251"),
    Alias("x-cp1251", "windows-1251"),
    Alias("windows1251", "windows-1251"),
    Alias("win-1251", "windows-1251"),
    Alias("ms-cyrl", "windows-1251"),
    Cs("windows-1252", 1252),
    Alias("cp1252", "windows-1252"),
    Alias("x-cp1252", "windows-1252"),
    Alias("windows1252", "windows-1252"),
    Alias("win-1252", "windows-1252"),
    Alias("ms-ansi", "windows-1252"),
    Cs("windows-1253", 1253),
    Alias("cp1253", "windows-1253"),
    Alias("x-cp1253", "windows-1253"),
    Alias("windows1253", "windows-1253"),
    Alias("ms-greek", "windows-1253"),
    Cs("windows-1254", 1254),
    Alias("cp1254", "windows-1254"),
    Alias("x-cp1254", "windows-1254"),
    Alias("windows1254", "windows-1254"),
    Alias("ms-turk", "windows-1254"),
    Cs("windows-1255", 1255),
    Alias("cp1255", "windows-1255"),
    Alias("x-cp1255", "windows-1255"),
    Alias("windows1255", "windows-1255"),
    Alias("ms-hebr", "windows-1255"),
    Cs("windows-1256", 1256),
    Alias("cp1256", "windows-1256"),
    Alias("x-cp1256", "windows-1256"),
    Alias("windows1256", "windows-1256"),
    Alias("ms-arab", "windows-1256"),
    Cs("windows-1257", 1257),
    Alias("cp1257", "windows-1257"),
    Alias("x-cp1257", "windows-1257"),
    Alias("windows1257", "windows-1257"),
    Alias("winbaltrim", "windows-1257"),
    Cs("windows-1258", 1258),
    Alias("cp1258", "windows-1258"),
    Alias("x-cp1258", "windows-1258"),
    Alias("windows1258", "windows-1258"),
    Cs("windows-874", 874),
    Alias("cp874", "windows-874"),
    Alias("tis-620", "windows-874"),
    Alias("x-cp874", "windows-874"),
    Alias("dos-874", "windows-874"),

    Cs("iso-8859-1", 28591),
    Alias("latin1", "iso-8859-1"),
    Alias("l1", "iso-8859-1"),
    Alias("iso8859-1", "iso-8859-1"),
    Alias("iso_8859-1", "iso-8859-1"),
    Alias("iso8859_1", "iso-8859-1"),
    Alias("iso_8859_1", "iso-8859-1"),
    Alias("iso_8859-1:1987", "iso-8859-1"),
    Alias("iso-ir-100", "iso-8859-1"),
    Alias("cp819", "iso-8859-1"),
    Alias("ibm819", "iso-8859-1"),
    Alias("csisolatin1", "iso-8859-1"),
    Alias("latin-1", "iso-8859-1"),
    Alias("iso88591", "iso-8859-1"),
    Cs("iso-8859-2", 28592),
    Alias("latin2", "iso-8859-2"),
    Alias("l2", "iso-8859-2"),
    Alias("iso8859-2", "iso-8859-2"),
    Alias("iso_8859-2", "iso-8859-2"),
    Alias("iso8859_2", "iso-8859-2"),
    Alias("iso_8859_2", "iso-8859-2"),
    Alias("iso_8859-2:1987", "iso-8859-2"),
    Alias("iso-ir-101", "iso-8859-2"),
    Alias("csisolatin2", "iso-8859-2"),
    Alias("latin-2", "iso-8859-2"),
    Alias("iso88592", "iso-8859-2"),
    Alias("cp912", "iso-8859-2"),
    Alias("ibm912", "iso-8859-2"),
    Cs("iso-8859-3", 28593),
    Alias("latin3", "iso-8859-3"),
    Alias("l3", "iso-8859-3"),
    Alias("iso8859-3", "iso-8859-3"),
    Alias("iso_8859-3", "iso-8859-3"),
    Alias("iso_8859-3:1988", "iso-8859-3"),
    Alias("iso-ir-109", "iso-8859-3"),
    Alias("csisolatin3", "iso-8859-3"),
    Cs("iso-8859-4", 28594),
    Alias("latin4", "iso-8859-4"),
    Alias("l4", "iso-8859-4"),
    Alias("iso8859-4", "iso-8859-4"),
    Alias("iso_8859-4", "iso-8859-4"),
    Alias("iso_8859-4:1988", "iso-8859-4"),
    Alias("iso-ir-110", "iso-8859-4"),
    Alias("csisolatin4", "iso-8859-4"),
    Cs("iso-8859-5", 28595),
    Alias("cyrillic", "iso-8859-5"),
    Alias("iso8859-5", "iso-8859-5"),
    Alias("iso_8859-5", "iso-8859-5"),
    Alias("iso_8859-5:1988", "iso-8859-5"),
    Alias("iso-ir-144", "iso-8859-5"),
    Alias("csisolatincyrillic", "iso-8859-5"),
    Cs("iso-8859-6", 28596),
    Alias("arabic", "iso-8859-6"),
    Alias("iso8859-6", "iso-8859-6"),
    Alias("iso_8859-6", "iso-8859-6"),
    Alias("iso_8859-6:1987", "iso-8859-6"),
    Alias("iso-ir-127", "iso-8859-6"),
    Alias("ecma-114", "iso-8859-6"),
    Alias("asmo-708", "iso-8859-6"),
    Alias("csisolatinarabic", "iso-8859-6"),
    Cs("iso-8859-7", 28597),
    Alias("greek", "iso-8859-7"),
    Alias("greek8", "iso-8859-7"),
    Alias("iso8859-7", "iso-8859-7"),
    Alias("iso_8859-7", "iso-8859-7"),
    Alias("iso_8859-7:1987", "iso-8859-7"),
    Alias("iso-ir-126", "iso-8859-7"),
    Alias("elot_928", "iso-8859-7"),
    Alias("ecma-118", "iso-8859-7"),
    Alias("csisolatingreek", "iso-8859-7"),
    Cs("iso-8859-8", 28598),
    Alias("hebrew", "iso-8859-8"),
    Alias("iso8859-8", "iso-8859-8"),
    Alias("iso_8859-8", "iso-8859-8"),
    Alias("iso_8859-8:1988", "iso-8859-8"),
    Alias("iso-ir-138", "iso-8859-8"),
    Alias("visual", "iso-8859-8"),
    Alias("csisolatinhebrew", "iso-8859-8"),
    Alias("iso-8859-8-e", "iso-8859-8"),
    Cs("iso-8859-8-i", 38598),
    Alias("logical", "iso-8859-8-i"),
    Cs("iso-8859-9", 28599),
    Alias("latin5", "iso-8859-9"),
    Alias("l5", "iso-8859-9"),
    Alias("iso8859-9", "iso-8859-9"),
    Alias("iso_8859-9", "iso-8859-9"),
    Alias("iso_8859-9:1989", "iso-8859-9"),
    Alias("iso-ir-148", "iso-8859-9"),
    Alias("csisolatin5", "iso-8859-9"),
    Cs("iso-8859-10", 28600),
    Alias("latin6", "iso-8859-10"),
    Alias("l6", "iso-8859-10"),
    Alias("iso8859-10", "iso-8859-10"),
    Alias("iso_8859-10", "iso-8859-10"),
    Alias("iso_8859-10:1992", "iso-8859-10"),
    Alias("iso-ir-157", "iso-8859-10"),
    Alias("csisolatin6", "iso-8859-10"),
    Cs("iso-8859-11", 28601),
    Alias("iso8859-11", "iso-8859-11"),
    Alias("iso_8859-11", "iso-8859-11"),
    Cs("iso-8859-13", 28603),
    Alias("latin7", "iso-8859-13"),
    Alias("l7", "iso-8859-13"),
    Alias("iso8859-13", "iso-8859-13"),
    Alias("iso_8859-13", "iso-8859-13"),
    Alias("iso-ir-179", "iso-8859-13"),
    Cs("iso-8859-14", 28604),
    Alias("latin8", "iso-8859-14"),
    Alias("l8", "iso-8859-14"),
    Alias("iso8859-14", "iso-8859-14"),
    Alias("iso_8859-14", "iso-8859-14"),
    Alias("iso_8859-14:1998", "iso-8859-14"),
    Alias("iso-ir-199", "iso-8859-14"),
    Alias("iso-celtic", "iso-8859-14"),
    Cs("iso-8859-15", 28605),
    Alias("latin9", "iso-8859-15"),
    Alias("l9", "iso-8859-15"),
    Alias("latin-9", "iso-8859-15"),
    Alias("latin0", "iso-8859-15"),
    Alias("iso8859-15", "iso-8859-15"),
    Alias("iso_8859-15", "iso-8859-15"),
    Alias("iso8859_15", "iso-8859-15"),
    Alias("csisolatin9", "iso-8859-15"),
    Alias("iso-8859-15:1998", "iso-8859-15"),
    Cs("iso-8859-16", 28606),
    Alias("latin10", "iso-8859-16"),
    Alias("l10", "iso-8859-16"),
    Alias("iso8859-16", "iso-8859-16"),
    Alias("iso_8859-16", "iso-8859-16"),
    Alias("iso_8859-16:2001", "iso-8859-16"),
    Alias("iso-ir-226", "iso-8859-16"),

    Cs("koi8-r", 20866),
    Alias("koi8", "koi8-r"),
    Alias("cskoi8r", "koi8-r"),
    Alias("koi", "koi8-r"),
    Alias("koi8r", "koi8-r"),
    Cs("koi8-u", 21866),
    Alias("koi8-ru", "koi8-u"),
    Alias("koi8u", "koi8-u"),
    Cs("ibm852", 852),
    Alias("cp852", "ibm852"),
    Alias("852", "ibm852"),
    Alias("ibm-852", "ibm852"),
    Alias("cspcp852", "ibm852"),
    Cs("ibm850", 850),
    Alias("cp850", "ibm850"),
    Alias("850", "ibm850"),
    Alias("ibm-850", "ibm850"),
    Alias("cspc850multilingual", "ibm850"),
    Cs("ibm866", 866),
    Alias("cp866", "ibm866"),
    Alias("866", "ibm866"),
    Alias("csibm866", "ibm866"),
    Cs("ibm437", 437),
    Alias("cp437", "ibm437"),
    Alias("437", "ibm437"),
    Alias("cspc8codepage437", "ibm437"),
    Cs("x-mac-ce", 10029),
    Alias("x-mac-centraleurroman", "x-mac-ce"),
    Alias("mac-ce", "x-mac-ce"),
    Alias("maccentraleurope", "x-mac-ce"),
    Cs("macintosh", 10000),
    Alias("mac", "macintosh"),
    Alias("x-mac-roman", "macintosh"),
    Alias("csmacintosh", "macintosh"),
    Alias("macroman", "macintosh"),

    Cs("shift_jis", 932),
    Alias("shift-jis", "shift_jis"),
    Alias("sjis", "shift_jis"),
    Alias("x-sjis", "shift_jis"),
    Alias("ms_kanji", "shift_jis"),
    Alias("csshiftjis", "shift_jis"),
    Alias("windows-31j", "shift_jis"),
    Alias("cp932", "shift_jis"),
    Alias("x-ms-cp932", "shift_jis"),
    Cs("euc-jp", 51932),
    Alias("x-euc-jp", "euc-jp"),
    Alias("eucjp", "euc-jp"),
    Alias("euc_jp", "euc-jp"),
    Alias("x-euc", "euc-jp"),
    Alias("cseucpkdfmtjapanese", "euc-jp"),
    Cs("iso-2022-jp", 50220),
    Alias("csiso2022jp", "iso-2022-jp"),
    Alias("iso2022jp", "iso-2022-jp"),
    Alias("jis", "iso-2022-jp"),
    Cs("gb2312", 936),
    Alias("gb_2312-80", "gb2312"),
    Alias("gb_2312", "gb2312"),
    Alias("csgb2312", "gb2312"),
    Alias("chinese", "gb2312"),
    Alias("euc-cn", "gb2312"),
    Alias("x-euc-cn", "gb2312"),
    Alias("csiso58gb231280", "gb2312"),
    Alias("iso-ir-58", "gb2312"),
    Cs("gbk", 936),
    Alias("cp936", "gbk"),
    Alias("x-gbk", "gbk"),
    Alias("windows-936", "gbk"),
    Cs("gb18030", 54936),
    Cs("big5", 950),
    Alias("cn-big5", "big5"),
    Alias("x-x-big5", "big5"),
    Alias("csbig5", "big5"),
    Alias("big-5", "big5"),
    Alias("cp950", "big5"),
    Cs("euc-kr", 51949),
    Alias("euckr", "euc-kr"),
    Alias("euc_kr", "euc-kr"),
    Alias("cseuckr", "euc-kr"),
    Alias("korean", "euc-kr"),
    Cs("ks_c_5601-1987", 949),
    Alias("ks_c_5601", "ks_c_5601-1987"),
    Alias("ks_c_5601-1989", "ks_c_5601-1987"),
    Alias("ksc5601", "ks_c_5601-1987"),
    Alias("ksc_5601", "ks_c_5601-1987"),
    Alias("cp949", "ks_c_5601-1987"),
    Alias("windows-949", "ks_c_5601-1987"),
});

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Longest name in the table, so that a longer name is rejected without work.
constexpr size_t kMaxNameLength = 32;

class Index {
public:
    Index() {
        for (const MimeCharset& entry : kTable) m_map.emplace(Lower(entry.Name), &entry);
    }
    const MimeCharset* Find(std::string_view name) const {
        if (name.empty() || name.size() > kMaxNameLength) return nullptr;
        char lower[kMaxNameLength];
        for (size_t i = 0; i < name.size(); ++i) lower[i] = LowerAscii(name[i]);
        auto it = m_map.find(std::string_view(lower, name.size()));
        return it == m_map.end() ? nullptr : it->second;
    }

private:
    static std::string Lower(std::string_view s) {
        std::string out(s);
        for (char& c : out) c = LowerAscii(c);
        return out;
    }
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, const MimeCharset*, Hash, std::equal_to<>> m_map;
};

}  // namespace

std::span<const MimeCharset> BuiltInMimeCharsets() {
    return kTable;
}

const MimeCharset* FindMimeCharset(std::span<const MimeCharset> database, std::string_view name) {
    if (name.empty()) return nullptr;
    for (const MimeCharset& entry : database)
        if (EqualIgnoringCase(entry.Name, name)) return &entry;
    return nullptr;
}

const MimeCharset* FindMimeCharset(std::string_view name) {
    static const Index index;
    return index.Find(name);
}

}  // namespace sitowiak::platform

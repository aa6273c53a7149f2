#include "HeaderWords.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "ByteSearch.h"
#include "Charsets.h"
#include "TransferEncoding.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

constexpr std::string_view kWordStart = "=?";
constexpr std::string_view kWordEnd = "?=";

// The value of each byte as a hexadecimal digit, -1 for other bytes.
constexpr std::array<int8_t, 256> kHexValues = [] {
    std::array<int8_t, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[static_cast<size_t>(c)] = static_cast<int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                                    : -1);
    return values;
}();

int HexValue(char c) {
    return kHexValues[static_cast<unsigned char>(c)];
}

bool HasEightBit(std::string_view text) {
    return !platform::IsAscii(text);
}

bool OnlySpaces(std::string_view text) {
    return text.find_first_not_of(' ') == text.npos;
}

// The decoded text of an encoded word may hold any character, an overview
// line may not: a CR LF would end the line early (and a line "." the whole
// reply, so that what follows is taken for the next reply), a TAB would add
// a field. So C0 controls decoded from words become spaces, the rule servers
// follow for overview data; raw text keeps its bytes. For UTF-16 and for
// UTF-8, where a byte below 0x20 is always that control.
template <typename Char>
void BlankControls(Char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (static_cast<std::make_unsigned_t<Char>>(p[i]) < 0x20) p[i] = ' ';
}

// The byte table from a single-byte `from` into `to` with each byte that
// stands for a C0 control in `from` translated as a space (see
// BlankControls), built once a thread; null where there is no table.
const platform::ByteMap* WordByteMap(uint32_t from, uint32_t to) {
    // Every byte of a Q word is looked up here: aligned to a cache line, as
    // placed anywhere on the heap it cost up to an eighth more time per
    // overview line in measurements.
    struct alignas(64) Table {
        platform::ByteMap map;
    };
    thread_local std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<Table>> tables;
    const auto key = std::make_pair(from, to);
    if (auto it = tables.find(key); it != tables.end())
        return it->second ? &it->second->map : nullptr;
    std::unique_ptr<Table> table;
    const platform::ByteMap* plain = platform::SingleByteMap(from, to);
    // What each byte of `from` stands for, as UTF-8: one byte below 0x20 is
    // a control, one byte 0x20 is the space.
    const platform::ByteMap* chars = platform::SingleByteMap(from, platform::kCodePageUtf8);
    auto is = [&](size_t b, auto test) {
        return chars->entry[b].length == 1 &&
               test(static_cast<unsigned char>(chars->entry[b].bytes[0]));
    };
    if (plain != nullptr && chars != nullptr) {
        size_t space = 0;
        while (space < 256 && !is(space, [](unsigned char c) { return c == ' '; })) ++space;
        if (space < 256) {
            table = std::make_unique<Table>(Table{*plain});
            for (size_t b = 0; b < 256; ++b) {
                if (is(b, [](unsigned char c) { return c < 0x20; })) {
                    table->map.entry[b] = plain->entry[space];
                    table->map.asciiIdentity = false;
                }
            }
        }
    }
    Table* made = tables.emplace(key, std::move(table)).first->second.get();
    return made ? &made->map : nullptr;
}

// Where a word may end: the first "?=" at or after a position, or the first
// TAB before it, which ends an overview field and so any word in it. It is
// remembered: later searches start further right in the same line, so the
// line is scanned once.
class WordEndFinder {
public:
    explicit WordEndFinder(std::string_view s) : m_s(s) {}
    size_t From(size_t pos) {
        if (m_searched && pos >= m_from && (m_at == m_s.npos || m_at >= pos)) return m_at;
        m_searched = true;
        m_from = pos;
        m_at = FindPairOrStop(m_s, pos, '?', '=', '\t');
        return m_at;
    }

private:
    std::string_view m_s;
    bool m_searched = false;
    size_t m_from = 0;
    size_t m_at = 0;
};

// The next "=?" at or after a position. Where the caller's hint tells where
// the first and the last are, searches before the first or after the last
// are answered without looking.
class WordStartFinder {
public:
    WordStartFinder(std::string_view s, const LineHint& hint) : m_s(s), m_hint(hint) {}
    size_t From(size_t pos) const {
        if (m_hint.startsKnown) {
            if (m_hint.firstWordStart == m_s.npos || pos > m_hint.lastWordStart) return m_s.npos;
            if (pos <= m_hint.firstWordStart) return m_hint.firstWordStart;
        }
        return FindPair(m_s, pos, '=', '?');
    }

private:
    std::string_view m_s;
    const LineHint& m_hint;
};

enum class WordEncoding { kQ, kB };

// One encoded word whose "=?" is at `start`: its charset, its encoding, its
// text and the position after its "?=".
struct EncodedWord {
    std::string_view charset;
    WordEncoding encoding = WordEncoding::kQ;
    std::string_view text;
    size_t end = 0;
};

enum class WordParse { kWord, kNotWord, kNoEnd };

// After "=?" at `start`: the charset runs to the first "?", which must be
// followed by "Q?" or "B?", in either case (kNotWord otherwise); the text
// runs to the next "?=" (kNoEnd when there is none; `word.end` is then just
// after "?Q?" or "?B?"). A word does not reach over a TAB, which ends an
// overview field: a charset or a text that would is taken as missing.
WordParse ParseWord(std::string_view s, size_t start, WordEndFinder& ends, EncodedWord& word) {
    size_t pos = start + kWordStart.size();
    size_t mark = FindEither(s, pos, '?', '\t');
    if (mark == s.npos || s[mark] == '\t' || mark + 2 >= s.size() || s[mark + 2] != '?')
        return WordParse::kNotWord;
    char letter = s[mark + 1];
    if (letter == 'Q' || letter == 'q')
        word.encoding = WordEncoding::kQ;
    else if (letter == 'B' || letter == 'b')
        word.encoding = WordEncoding::kB;
    else
        return WordParse::kNotWord;
    word.charset = s.substr(pos, mark - pos);
    pos = mark + 3;
    size_t close = ends.From(pos);
    if (close == s.npos || s[close] == '\t') {
        word.end = pos;
        return WordParse::kNoEnd;
    }
    word.text = s.substr(pos, close - pos);
    word.end = close + kWordEnd.size();
    return WordParse::kWord;
}

// Whether a whole encoded word begins at `start`.
bool WordAt(std::string_view s, size_t start, WordEndFinder& ends) {
    EncodedWord word;
    return ParseWord(s, start, ends, word) == WordParse::kWord;
}

// The Q decoding of `text` (see DecodeQ), written at `d`: each byte goes
// through `put(d, byte)`, which returns where the next one goes. The
// cursor is passed by value so that it stays in a register. Every line of
// a re-encoded overview passes through here: the common case, "=" and two
// digits, is tested first and with one branch, and "_" is mapped without
// one. Returns the end of what was written.
template <typename Put>
char* DecodeQInto(std::string_view text, char* d, Put put) {
    const char* t = text.data();
    const char* const end = t + text.size();
    while (t < end) {
        const char c = *t;
        if (c != '=') {
            d = put(d, c == '_' ? ' ' : c);
            ++t;
            continue;
        }
        if (end - t > 2) {
            const int high = HexValue(t[1]), low = HexValue(t[2]);
            if ((high | low) >= 0) {
                d = put(d, static_cast<char>(high * 16 + low));
                t += 3;
                continue;
            }
        } else if (end - t == 2 && HexValue(t[1]) >= 0) {
            d = put(d, static_cast<char>(HexValue(t[1])));  // "=" + one digit at the end
            t += 2;
            continue;
        }
        ++t;  // any other "=" is dropped; what follows is read on
    }
    return d;
}

// A Q word's text decoded through a byte table, written at `d`: at most
// three bytes a character, and one spare. Returns the end of what it wrote.
char* DecodeQThrough(const platform::ByteMap& map, std::string_view text, char* d) {
    return DecodeQInto(text, d,
                       [&map](char* at, char c) { return map.Put(static_cast<unsigned char>(c), at); });
}

// The bytes an encoded word's text stands for, appended to `out`.
void AppendWordBytes(const EncodedWord& word, std::string& out) {
    if (word.encoding == WordEncoding::kQ)
        AppendDecodedQ(word.text, out);
    else
        AppendDecodedBase64(word.text, out);
}

// Where Scan puts what it finds: raw text, and the bytes of neighbouring
// encoded words in one code page. A sink that cannot take a piece returns
// false and the scan stops.

// The code page raw 8-bit text is read in: UTF-8 when it is UTF-8, else
// the charset for undeclared text when there is one (0 for none), else
// UTF-8 all the same (its invalid bytes then become U+FFFD).
uint32_t RawCodePage(std::string_view raw, uint32_t undeclared) {
    if (undeclared == 0 || platform::IsWellFormedUtf8(raw)) return platform::kCodePageUtf8;
    return ReadingCodePage(undeclared, raw);
}

// Raw 8-bit text can be read when it is UTF-8 or a charset for undeclared
// text is set.
bool RawReadable(std::string_view raw, uint32_t undeclared) {
    return undeclared != 0 || platform::IsWellFormedUtf8(raw);
}

// Finds only whether the line is clean: no raw 8-bit byte at all.
struct CleanOnly {
    static constexpr bool kDecodes = false;
    bool Readable(std::string_view) const { return false; }
    bool Raw(std::string_view, bool) { return true; }
    bool Words(uint32_t, std::string&) { return true; }
    bool WordDirect(uint32_t, const EncodedWord&) { return false; }
};

// Decodes into UTF-16.
struct ToWide {
    static constexpr bool kDecodes = true;
    std::u16string& W;
    uint32_t undeclared;
    bool Readable(std::string_view raw) const { return RawReadable(raw, undeclared); }
    bool Raw(std::string_view raw, bool ascii) {
        uint32_t codePage = ascii ? platform::kCodePageUtf8 : RawCodePage(raw, undeclared);
        platform::AppendWideFromMultiByte(codePage, raw, W);
        return true;
    }
    bool Words(uint32_t codePage, std::string& bytes) {
        const size_t old = W.size();
        platform::AppendWideFromMultiByte(codePage, bytes, W);
        BlankControls(W.data() + old, W.size() - old);
        return true;
    }
    bool WordDirect(uint32_t, const EncodedWord&) { return false; }
};

// Decodes and encodes each piece straight into the encoder's code page.
struct ToCodePage {
    static constexpr bool kDecodes = true;
    HeaderWordsEncoder& encoder;
    std::string& out;
    bool Readable(std::string_view raw) const { return RawReadable(raw, encoder.Undeclared()); }
    bool Raw(std::string_view raw, bool ascii) { return encoder.AppendRaw(raw, ascii, out); }
    bool Words(uint32_t codePage, std::string& bytes) {
        return encoder.AppendWords(codePage, bytes, out);
    }
    // A Q word in a single-byte charset: each byte stands alone, so it is
    // decoded straight through the byte table, without gathering.
    bool WordDirect(uint32_t codePage, const EncodedWord& word) {
        if (word.encoding != WordEncoding::kQ) return false;
        const platform::ByteMap* map = encoder.MapFrom(codePage);
        if (map == nullptr) return false;
        const size_t old = out.size();
        out.resize(old + word.text.size() * sizeof map->entry[0].bytes + 1);
        char* end = DecodeQThrough(*map, word.text, out.data() + old);
        out.resize(static_cast<size_t>(end - out.data()));
        return true;
    }
};

// The decoding loop over raw text and encoded words. Returns clean, or
// nullopt when the sink refused a piece.
template <typename Sink>
std::optional<bool> Scan(std::string_view s, Sink& sink, const LineHint& hint = {}) {
    const bool ascii = hint.ascii;
    bool clean = true;
    bool refused = false;
    WordEndFinder ends(s);
    WordStartFinder starts(s, hint);
    // Bytes of neighbouring encoded words in one code page, decoded together;
    // the buffer is kept from line to line unless a long line made it large.
    thread_local std::string pending;
    pending.clear();
    if (pending.capacity() > 65536) pending.shrink_to_fit();
    uint32_t pendingCodePage = 0;
    bool afterWord = false;
    auto flush = [&] {
        if constexpr (Sink::kDecodes) {
            if (!pending.empty() && !sink.Words(pendingCodePage, pending)) refused = true;
        }
        pending.clear();
    };
    auto appendRaw = [&](std::string_view raw) {
        flush();
        afterWord = false;
        const bool rawAscii = ascii || !HasEightBit(raw);
        if (!rawAscii && !sink.Readable(raw)) clean = false;
        if constexpr (Sink::kDecodes) {
            if (!sink.Raw(raw, rawAscii)) refused = true;
        }
    };
    size_t pos = 0;
    while (pos < s.size() && !refused) {
        if (!PairAt(s, pos, '=', '?')) {
            size_t k = std::min(starts.From(pos), s.size());
            std::string_view raw = s.substr(pos, k - pos);
            if (afterWord && k < s.size() && OnlySpaces(raw) && WordAt(s, k, ends)) {
                pos = k;  // spaces between two encoded words
                continue;
            }
            appendRaw(raw);
            pos = k;
            continue;
        }
        EncodedWord word;
        WordParse parse = ParseWord(s, pos, ends, word);
        if (parse != WordParse::kWord) {
            // What is not a whole encoded word stays as it is ("x=?y", a
            // word without its "?="): raw text, and what follows is read
            // on as such.
            size_t end = parse == WordParse::kNotWord ? pos + kWordStart.size() : word.end;
            appendRaw(s.substr(pos, end - pos));
            pos = end;
            continue;
        }
        if constexpr (Sink::kDecodes) {
            uint32_t codePage = CodePageOf(word.charset);
            if (!afterWord || codePage != pendingCodePage) {
                flush();
                pendingCodePage = codePage;
            }
            // Bytes gathered for this code page go first; a word taken
            // straight leaves nothing gathered behind it.
            if (!pending.empty() || !sink.WordDirect(codePage, word)) AppendWordBytes(word, pending);
        }
        afterWord = true;
        pos = word.end;
    }
    flush();
    if (refused) return std::nullopt;
    return clean;
}

}  // namespace

bool DecodeHeaderWords(std::string_view s, std::u16string& W, uint32_t undeclared) {
    W.clear();
    ToWide sink{W, undeclared};
    return *Scan(s, sink);
}

bool HeaderWordsClean(std::string_view s) {
    CleanOnly sink;
    return *Scan(s, sink);
}

HeaderWordsEncoder::HeaderWordsEncoder(uint32_t codePage, uint32_t undeclared)
    : m_codePage(codePage),
      m_undeclared(undeclared),
      m_usable(platform::ConvertsPieceByPiece(codePage)),
      m_asciiTransparent(platform::IsAsciiTransparent(codePage)) {}

std::optional<bool> HeaderWordsEncoder::Append(std::string_view s, std::string& out,
                                               const LineHint& hint) {
    if (!m_usable) return std::nullopt;
    if (hint.ascii && m_asciiTransparent && AppendAsciiLine(s, out, hint)) return true;
    const size_t old = out.size();
    ToCodePage sink{*this, out};
    std::optional<bool> clean = Scan(s, sink, hint);
    if (!clean) out.resize(old);
    return clean;
}

// Most overview lines are ASCII on the wire, with Q words in a single-byte
// charset: such a line is decoded here in one pass, written through a
// pointer into room made once, without the gathering of the full scan.
// Any other piece (a B word, a word that is not whole, a charset without a
// byte table) sends the line back to the full scan, which gives the same
// bytes for the lines this pass takes.
bool HeaderWordsEncoder::AppendAsciiLine(std::string_view s, std::string& out,
                                         const LineHint& hint) {
    const size_t old = out.size();
    // Raw text stays as it is; a byte of a Q word becomes at most three.
    out.resize(old + s.size() * sizeof platform::ByteMap::Entry::bytes + 1);
    char* d = out.data() + old;
    WordEndFinder ends(s);
    WordStartFinder starts(s, hint);
    bool afterWord = false;
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t k = std::min(starts.From(pos), s.size());
        const std::string_view raw = s.substr(pos, k - pos);
        pos = k;
        // Spaces between two encoded words are dropped.
        if (!(afterWord && k < s.size() && OnlySpaces(raw) && WordAt(s, k, ends))) {
            std::memcpy(d, raw.data(), raw.size());
            d += raw.size();
            afterWord = false;
        }
        if (pos == s.size()) break;
        EncodedWord word;
        const platform::ByteMap* map = nullptr;
        if (ParseWord(s, pos, ends, word) != WordParse::kWord ||
            word.encoding != WordEncoding::kQ ||
            (map = MapFrom(CodePageOf(word.charset))) == nullptr) {
            out.resize(old);
            return false;
        }
        d = DecodeQThrough(*map, word.text, d);
        afterWord = true;
        pos = word.end;
    }
    out.resize(static_cast<size_t>(d - out.data()));
    return true;
}

bool HeaderWordsEncoder::AppendRawConverted(std::string_view raw, std::string& out) {
    const uint32_t from = RawCodePage(raw, m_undeclared);
    if (!platform::ConvertsPieceByPiece(from)) return false;
    return platform::AppendConverted(from, m_codePage, raw, out);
}

const platform::ByteMap* HeaderWordsEncoder::MapFrom(uint32_t codePage) {
    if (codePage != m_lastSource) {
        m_lastSource = codePage;
        m_lastMap = WordByteMap(codePage, m_codePage);
    }
    return m_lastMap;
}

bool HeaderWordsEncoder::AppendWords(uint32_t codePage, std::string& bytes, std::string& out) {
    if (MapFrom(codePage) != nullptr) {
        platform::AppendTranslated(*m_lastMap, bytes, out);
        return true;
    }
    // Any other code page but UTF-8 (single-byte ones all have a table)
    // keeps state between characters: the UTF-16 road.
    if (codePage != platform::kCodePageUtf8) return false;
    BlankControls(bytes.data(), bytes.size());
    return platform::AppendConverted(codePage, m_codePage, bytes, out);
}

void AppendDecodedQ(std::string_view text, std::string& out) {
    // The decoded text is never longer: written in place of room made first.
    const size_t old = out.size();
    out.resize(old + text.size());
    char* end = DecodeQInto(text, out.data() + old, [](char* at, char c) {
        *at = c;
        return at + 1;
    });
    out.resize(static_cast<size_t>(end - out.data()));
}

std::string DecodeQ(std::string_view text) {
    std::string out;
    AppendDecodedQ(text, out);
    return out;
}

}  // namespace sitowiak::filter

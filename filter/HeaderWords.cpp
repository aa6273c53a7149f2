#include "HeaderWords.h"

#include "Charsets.h"
#include "TransferEncoding.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

constexpr std::string_view kWordStart = "=?";
constexpr std::string_view kWordEnd = "?=";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool HasEightBit(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

bool OnlySpaces(std::string_view text) {
    return text.find_first_not_of(' ') == text.npos;
}

// The first "?=" at or after a position, remembered: later searches start
// further right in the same line, so the line is scanned once.
class WordEndFinder {
public:
    explicit WordEndFinder(std::string_view s) : m_s(s) {}
    size_t From(size_t pos) {
        if (m_searched && pos >= m_from && (m_at == m_s.npos || m_at >= pos)) return m_at;
        m_searched = true;
        m_from = pos;
        m_at = m_s.find(kWordEnd, pos);
        return m_at;
    }

private:
    std::string_view m_s;
    bool m_searched = false;
    size_t m_from = 0;
    size_t m_at = 0;
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
// after "?Q?" or "?B?").
WordParse ParseWord(std::string_view s, size_t start, WordEndFinder& ends, EncodedWord& word) {
    size_t pos = start + kWordStart.size();
    size_t mark = s.find('?', pos);
    if (mark == s.npos || mark + 2 >= s.size() || s[mark + 2] != '?') return WordParse::kNotWord;
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
    if (close == s.npos) {
        word.end = pos;
        return WordParse::kNoEnd;
    }
    word.text = s.substr(pos, close - pos);
    word.end = close + kWordEnd.size();
    return WordParse::kWord;
}

// The bytes an encoded word's text stands for, appended to `out`.
void AppendWordBytes(const EncodedWord& word, std::string& out) {
    if (word.encoding == WordEncoding::kQ)
        AppendDecodedQ(word.text, out);
    else
        AppendDecodedBase64(word.text, out);
}

// The decoding loop over raw text and encoded words. With Decode false only
// clean is computed.
template <bool Decode>
bool Scan(std::string_view s, std::u16string* W) {
    bool clean = true;
    WordEndFinder ends(s);
    // Bytes of neighbouring encoded words in one code page, decoded together.
    std::string pending;
    uint32_t pendingCodePage = 0;
    bool afterWord = false;
    auto flush = [&] {
        if constexpr (Decode) {
            if (!pending.empty()) platform::AppendWideFromMultiByte(pendingCodePage, pending, *W);
        }
        pending.clear();
    };
    auto appendRaw = [&](std::string_view raw) {
        flush();
        afterWord = false;
        if (clean && HasEightBit(raw)) clean = false;
        if constexpr (Decode) platform::AppendWideFromMultiByte(platform::kCodePageUtf8, raw, *W);
    };
    size_t pos = 0;
    while (pos < s.size()) {
        if (s.compare(pos, kWordStart.size(), kWordStart) != 0) {
            size_t k = std::min(s.find(kWordStart, pos), s.size());
            std::string_view raw = s.substr(pos, k - pos);
            EncodedWord next;
            if (afterWord && k < s.size() && OnlySpaces(raw) &&
                ParseWord(s, k, ends, next) == WordParse::kWord) {
                pos = k;  // spaces between two encoded words
                continue;
            }
            appendRaw(raw);
            pos = k;
            continue;
        }
        EncodedWord word;
        WordParse parse = ParseWord(s, pos, ends, word);
        if (parse == WordParse::kNoEnd && word.encoding == WordEncoding::kB) {
            // Without its "?=" a B word stays as it is: "=?", charset and
            // "?B?" are raw text here, and what follows is read on as such.
            appendRaw(s.substr(pos, word.end - pos));
            pos = word.end;
            continue;
        }
        if (parse != WordParse::kWord) {
            // Only "=?" is dropped (kNotWord), or "=?", charset and "?Q?" (kNoEnd).
            pos = parse == WordParse::kNotWord ? pos + kWordStart.size() : word.end;
            afterWord = false;
            continue;
        }
        if constexpr (Decode) {
            uint32_t codePage = CodePageOf(word.charset);
            if (!afterWord || codePage != pendingCodePage) {
                flush();
                pendingCodePage = codePage;
            }
            AppendWordBytes(word, pending);
        }
        afterWord = true;
        pos = word.end;
    }
    flush();
    return clean;
}

}  // namespace

bool DecodeHeaderWords(std::string_view s, std::u16string& W) {
    W.clear();
    return Scan<true>(s, &W);
}

bool HeaderWordsClean(std::string_view s) {
    return Scan<false>(s, nullptr);
}

void AppendDecodedQ(std::string_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c != '=') {
            out += c;
        } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else if (i + 2 == text.size() && HexValue(text[i + 1]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]));  // "=" + one digit at the end
            i += 1;
        }
        // Any other "=" is dropped; what follows is read on.
    }
}

std::string DecodeQ(std::string_view text) {
    std::string out;
    AppendDecodedQ(text, out);
    return out;
}

}  // namespace sitowiak::filter

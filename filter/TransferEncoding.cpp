#include "TransferEncoding.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "WireForm.h"

namespace sitowiak::filter {
namespace {

constexpr size_t kQpLineLimit = 76;  // RFC 2045, soft break "=" included
constexpr size_t kBase64LineChars = 76;
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte in the base64 alphabet, -1 for bytes outside it.
constexpr std::array<int8_t, 256> Base64Values() {
    std::array<int8_t, 256> value{};
    value.fill(-1);
    for (size_t i = 0; i < kBase64Alphabet.size(); ++i)
        value[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
    return value;
}
constexpr std::array<int8_t, 256> kBase64Values = Base64Values();

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Calls f(line, endsWithCrLf) for each CR LF line of text.
template <typename F>
void ForEachLine(std::string_view text, F f) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find(kCrLf, pos);
        if (eol == text.npos) {
            f(text.substr(pos), false);
            return;
        }
        f(text.substr(pos, eol - pos), true);
        pos = eol + kCrLf.size();
    }
}

void DecodeQpLine(std::string_view line, std::string& out) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 &&
            HexValue(line[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2]));
            i += 2;
        } else {
            out += line[i];
        }
    }
}

// The encoded form of one byte of a line; `last` marks the line's last byte.
std::string_view QpToken(unsigned char c, bool last, bool lineStart, char (&buf)[3]) {
    bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
    if (c == '.' && lineStart) literal = false;
    if (literal) {
        buf[0] = static_cast<char>(c);
        return std::string_view(buf, 1);
    }
    buf[0] = '=';
    buf[1] = kHexDigits[c >> 4];
    buf[2] = kHexDigits[c & 15];
    return std::string_view(buf, 3);
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    ForEachLine(body, [&](std::string_view line, bool crlf) {
        if (!line.empty() && line.front() == '.') line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        bool soft = !line.empty() && line.back() == '=';
        if (soft) line.remove_suffix(1);
        DecodeQpLine(line, out);
        if (crlf && !soft) out += kCrLf;
    });
    return out;
}

std::string EncodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    ForEachLine(text, [&](std::string_view line, bool crlf) {
        size_t column = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            char buf[3];
            bool last = i + 1 == line.size();
            auto c = static_cast<unsigned char>(line[i]);
            std::string_view token = QpToken(c, last, column == 0, buf);
            // Room for the token plus a soft break "=" after it, unless it
            // ends the line.
            if (column + token.size() + (last ? 0 : 1) > kQpLineLimit) {
                out += "=\r\n";
                column = 0;
                token = QpToken(c, last, true, buf);
            }
            out += token;
            column += token.size();
        }
        out += crlf ? "\r\n" : (line.empty() ? "" : "=\r\n");
    });
    return out;
}

std::string DecodeBase64(std::string_view body) {
    std::string out;
    out.reserve(body.size() / 4 * 3);
    AppendDecodedBase64(body, out);
    return out;
}

void AppendDecodedBase64(std::string_view body, std::string& out) {
    uint32_t bits = 0;
    int count = 0;
    for (char c : body) {
        int v = kBase64Values[static_cast<unsigned char>(c)];
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count >= 2) out += static_cast<char>(bits >> (6 * count - 8));
    if (count == 3) out += static_cast<char>(bits >> 2);
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
    size_t column = 0;
    auto put = [&](char c) {
        out += c;
        if (++column == kBase64LineChars) {
            out += kCrLf;
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) put(kBase64Alphabet[(v >> shift) & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        put(kBase64Alphabet[(v >> 18) & 63]);
        put(kBase64Alphabet[(v >> 12) & 63]);
        put(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
        put('=');
    }
    if (column > 0) out += kCrLf;
    return out;
}

EncodedAppendix AppendToQuotedPrintable(std::string_view body, std::string_view text) {
    // The body is whole lines; its last line ends in "=" (transport padding
    // aside) when it is a soft break.
    bool soft = false;
    if (body.ends_with(kCrLf)) {
        std::string_view lines = body.substr(0, body.size() - kCrLf.size());
        size_t cut = lines.rfind(kCrLf);
        std::string_view last = cut == lines.npos ? lines : lines.substr(cut + kCrLf.size());
        while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.remove_suffix(1);
        soft = !last.empty() && last.back() == '=';
    }
    std::string appended = soft ? std::string(kCrLf) : std::string();
    appended += text;
    return {body.size(), EncodeQuotedPrintable(appended)};
}

EncodedAppendix AppendToBase64(std::string_view body, std::string_view text) {
    // From the end: padding, then the alphabet characters of the last group.
    size_t i = body.size();
    int padding = 0;
    while (i > 0) {
        char c = body[i - 1];
        if (c == '=') {
            ++padding;
        } else if (kBase64Values[static_cast<unsigned char>(c)] >= 0) {
            break;
        }
        --i;
    }
    int groupChars = padding == 0 ? 4 : 4 - std::min(padding, 3);
    std::string group;
    size_t groupStart = i;
    while (groupStart > 0 && static_cast<int>(group.size()) < groupChars) {
        char c = body[groupStart - 1];
        if (kBase64Values[static_cast<unsigned char>(c)] >= 0) group.insert(group.begin(), c);
        --groupStart;
    }
    std::string last = DecodeBase64(group);
    std::string appended;
    size_t keep = body.size();
    if (padding > 0) {
        // The padded group is taken apart: its bytes go before the text.
        keep = groupStart;
        appended = last;
    }
    if (!last.empty() && last.back() != '\n') appended += kCrLf;
    appended += text;
    std::string encoded = EncodeBase64(appended);
    if (keep > 0 && body[keep - 1] != '\n') encoded.insert(0, kCrLf);
    return {keep, std::move(encoded)};
}

}  // namespace sitowiak::filter

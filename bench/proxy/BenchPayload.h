// The replies of the bench upstream, shared by the upstream (which serves
// them) and the bench client (which checks them). Every reply is a pure
// function of its command, so a client knows to the byte what it must get.
//
// Commands, one per line, case as written:
//   BODY size [seed]     222 status, `size` bytes of body, ".\r\n"
//   ARTICLE size [seed]  220 status, a small header block, an empty line,
//                        `size` bytes of body, ".\r\n"
//   XOVER count [seed]   224 status, `count` overview lines of the overview
//                        pattern starting `seed` lines in, ".\r\n"
//   POST                 340 status; the article follows up to its "." line;
//                        then 240 with the article's byte count and hash,
//                        both without a signature block ("-- " line and
//                        what follows it) that a relay may have added
//   STAT                 223 status line alone
//   QUIT                 205 status line, then the upstream closes
//   anything else        500 status line
// The body is whole lines of 80 bytes (78 characters and CR LF) cut from
// one pattern, starting `seed` lines in; `size` is rounded down to whole
// lines. No body line begins with a dot, so no dot-stuffing is involved.
// Overview lines are 137 bytes each (a million make the 137 MB overview).
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sitowiak::bench {

inline constexpr size_t kLineBytes = 80;
// The largest body served and the largest seed: the pattern covers both.
inline constexpr size_t kMaxBodyBytes = 16u << 20;
inline constexpr size_t kMaxSeed = 4096;
inline constexpr std::string_view kGreeting = "200 bench upstream ready\r\n";
inline constexpr std::string_view kBye = "205 bye\r\n";
inline constexpr std::string_view kStatReply = "223 0 <stat@bench> status\r\n";
inline constexpr std::string_view kUnknownReply = "500 unknown command\r\n";
inline constexpr std::string_view kTerminator = ".\r\n";
inline constexpr std::string_view kLineEnd = "\r\n";

// Line i of the pattern: its number, then letters that shift with i.
inline std::string MakePattern() {
    size_t lines = kMaxBodyBytes / kLineBytes + kMaxSeed;
    std::string pattern;
    pattern.reserve(lines * kLineBytes);
    for (size_t i = 0; i < lines; ++i) {
        std::string line = std::to_string(i);
        line.insert(0, 8 - line.size(), '0');
        line += ' ';
        for (size_t k = line.size(); k < kLineBytes - 2; ++k)
            line += static_cast<char>('a' + (i + k) % 26);
        pattern += line;
        pattern += kLineEnd;
    }
    return pattern;
}

inline constexpr size_t kOverviewLineBytes = 137;
inline constexpr size_t kMaxOverviewLines = 1000000;
inline constexpr std::string_view kOverviewHead = "224 overview follows\r\n";
inline constexpr std::string_view kSendArticle = "340 send article\r\n";

// Overview line i: number, subject, author, date, message-id, no
// references, bytes, lines; the subject is padded to the fixed length. It
// starts with an encoded word ("Zażółć gęślą" in iso-8859-2), as most
// subjects with Polish letters do, so the line is ASCII on the wire and a
// relay that re-encodes overviews decodes and converts every line.
inline std::string OverviewLine(size_t i) {
    std::string n = std::to_string(i);
    std::string tail = "\tA <a" + n + "@b.invalid>\t7 Dec 2026 10:00:00 +0100\t<" + n +
                       "@b>\t\t" + std::to_string(2000 + i % 5000) + "\t" +
                       std::to_string(20 + i % 100) + "\r\n";
    std::string line = n + "\tRe: =?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?= ";
    while (line.size() + tail.size() < kOverviewLineBytes)
        line += static_cast<char>('a' + (line.size() + i) % 26);
    return line + tail;
}

inline std::string MakeOverviewPattern() {
    std::string pattern;
    pattern.reserve((kMaxOverviewLines + kMaxSeed) * kOverviewLineBytes);
    for (size_t i = 0; i < kMaxOverviewLines + kMaxSeed; ++i) pattern += OverviewLine(i);
    return pattern;
}

// The 32-bit FNV-1a hash the upstream reports for a posted article.
inline uint32_t Fnv1a(std::string_view bytes, uint32_t hash = 2166136261u) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
    return hash;
}

// The upstream's reply to an article of `bytes` bytes (its "." line
// included) hashing to `hash`.
inline std::string PostedReply(size_t bytes, uint32_t hash) {
    return "240 " + std::to_string(bytes) + " " + std::to_string(hash) + " posted\r\n";
}

enum class Verb { kBody, kArticle, kOverview, kPost, kStat, kQuit, kUnknown };

struct Command {
    Verb verb = Verb::kUnknown;
    size_t size = 0;  // body bytes, whole lines; overview lines
    size_t seed = 0;  // first pattern line
};

inline size_t ParseNumber(std::string_view text) {
    size_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Reads one command line without its CR LF. A size or seed out of range
// makes the command unknown.
inline Command ParseCommand(std::string_view line) {
    Command c;
    size_t space = line.find(' ');
    std::string_view word = line.substr(0, space);
    std::string_view rest = space == std::string_view::npos ? "" : line.substr(space + 1);
    if (word == "STAT") c.verb = Verb::kStat;
    if (word == "QUIT") c.verb = Verb::kQuit;
    if (word == "POST") c.verb = Verb::kPost;
    if (word != "BODY" && word != "ARTICLE" && word != "XOVER") return c;
    size_t space2 = rest.find(' ');
    c.size = ParseNumber(rest.substr(0, space2));
    if (space2 != std::string_view::npos) c.seed = ParseNumber(rest.substr(space2 + 1));
    if (word == "XOVER") {
        if (c.size <= kMaxOverviewLines && c.seed <= kMaxSeed) c.verb = Verb::kOverview;
        return c;
    }
    c.size = c.size / kLineBytes * kLineBytes;
    if (c.size > kMaxBodyBytes || c.seed > kMaxSeed) return c;
    c.verb = word == "BODY" ? Verb::kBody : Verb::kArticle;
    return c;
}

// The bytes before the body of a BODY or ARTICLE reply.
inline std::string ReplyHead(const Command& c) {
    std::string id = "<" + std::to_string(c.size) + "." + std::to_string(c.seed) + "@bench>";
    if (c.verb == Verb::kBody) return "222 0 " + id + " body\r\n";
    return "220 0 " + id + " article\r\n" + "From: bench@example.invalid\r\n" +
           "Newsgroups: bench.test\r\nSubject: bench article\r\nMessage-ID: " + id + "\r\n\r\n";
}

inline std::string_view ReplyBody(std::string_view pattern, const Command& c) {
    return pattern.substr(c.seed * kLineBytes, c.size);
}

inline std::string_view OverviewBody(std::string_view overview, const Command& c) {
    return overview.substr(c.seed * kOverviewLineBytes, c.size * kOverviewLineBytes);
}

// The whole reply to a command line, as the upstream sends it; XOVER
// replies are checked piece by piece (kOverviewHead, OverviewBody,
// kTerminator) instead, and give an empty string here.
inline std::string ExpectedReply(std::string_view pattern, std::string_view line) {
    Command c = ParseCommand(line);
    switch (c.verb) {
        case Verb::kOverview:
            return {};
        case Verb::kPost:
            return std::string(kSendArticle);
        case Verb::kStat:
            return std::string(kStatReply);
        case Verb::kQuit:
            return std::string(kBye);
        case Verb::kUnknown:
            return std::string(kUnknownReply);
        default:
            break;
    }
    std::string reply = ReplyHead(c);
    reply += ReplyBody(pattern, c);
    reply += kTerminator;
    return reply;
}

}  // namespace sitowiak::bench

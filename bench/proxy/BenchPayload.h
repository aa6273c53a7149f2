// The replies of the bench upstream, shared by the upstream (which serves
// them) and the bench client (which checks them). Every reply is a pure
// function of its command, so a client knows to the byte what it must get.
//
// Commands, one per line, case as written:
//   BODY size [seed]     222 status, `size` bytes of body, ".\r\n"
//   ARTICLE size [seed]  220 status, a small header block, an empty line,
//                        `size` bytes of body, ".\r\n"
//   STAT                 223 status line alone
//   QUIT                 205 status line, then the upstream closes
//   anything else        500 status line
// The body is whole lines of 80 bytes (78 characters and CR LF) cut from
// one pattern, starting `seed` lines in; `size` is rounded down to whole
// lines. No body line begins with a dot, so no dot-stuffing is involved.
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

enum class Verb { kBody, kArticle, kStat, kQuit, kUnknown };

struct Command {
    Verb verb = Verb::kUnknown;
    size_t size = 0;  // body bytes, whole lines
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
    if (word != "BODY" && word != "ARTICLE") return c;
    size_t space2 = rest.find(' ');
    c.size = ParseNumber(rest.substr(0, space2)) / kLineBytes * kLineBytes;
    if (space2 != std::string_view::npos) c.seed = ParseNumber(rest.substr(space2 + 1));
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

// The whole reply to a command line, as the upstream sends it.
inline std::string ExpectedReply(std::string_view pattern, std::string_view line) {
    Command c = ParseCommand(line);
    switch (c.verb) {
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

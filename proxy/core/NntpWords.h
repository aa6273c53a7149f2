// The NNTP words the relay looks for, the replies it tells apart, and the
// lines it writes itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "filter/WireForm.h"

namespace sitowiak::proxy::nntp {

inline constexpr std::string_view kLineEnd = filter::kCrLf;
// CR LF "." CR LF: the end of a multi-line reply or a posted article.
inline constexpr std::string_view kTerminator = "\r\n.\r\n";

// Command words, compared whole and without regard to case, after any
// leading white space, as the news server reads them.
inline constexpr std::string_view kArticle = "ARTICLE";
inline constexpr std::string_view kBody = "BODY";
inline constexpr std::string_view kHead = "HEAD";
inline constexpr std::string_view kXover = "XOVER";
inline constexpr std::string_view kOver = "OVER";
inline constexpr std::string_view kXhdr = "XHDR";
inline constexpr std::string_view kHdr = "HDR";
inline constexpr std::string_view kCapabilities = "CAPABILITIES";
inline constexpr std::string_view kMode = "MODE";
inline constexpr std::string_view kReader = "READER";
inline constexpr std::string_view kListGroup = "LISTGROUP";
inline constexpr std::string_view kPost = "POST";
inline constexpr std::string_view kIhave = "IHAVE";
inline constexpr std::string_view kTakeThis = "TAKETHIS";
inline constexpr std::string_view kCheck = "CHECK";
inline constexpr std::string_view kXbatch = "XBATCH";
inline constexpr std::string_view kCompress = "COMPRESS";
inline constexpr std::string_view kStartTls = "STARTTLS";

// Header fields of the overview: their XHDR and HDR values are decoded and
// converted as overview lines are.
inline constexpr std::string_view kOverviewFields[] = {"SUBJECT",    "FROM",  "DATE",  "MESSAGE-ID",
                                                       "REFERENCES", "BYTES", "LINES", "XREF",
                                                       ":BYTES",     ":LINES"};

// Status codes whose reply is multi-line whatever the command (RFC 3977 and
// the extensions INN speaks). LISTGROUP's 211 is the one code that is
// multi-line for one command only (GROUP's 211 is a single line).
inline constexpr bool IsMultiLineCode(int code) {
    switch (code) {
        case 100:
        case 101:
        case 215:
        case 220:
        case 221:
        case 222:
        case 224:
        case 225:
        case 230:
        case 231:
        case 282:
            return true;
        default:
            return false;
    }
}

// The answer to a POST from outside the write list (UTF-8).
inline constexpr std::string_view kPostRefused =
    "441 Twoje uprawnienia wykluczają wysyłanie artykułów\r\n";
// The same refusal for the other commands that hand the server an article,
// with the code each one's RFC gives for "not wanted, do not retry".
inline constexpr std::string_view kRefusalText = "Twoje uprawnienia wykluczają wysyłanie artykułów";
inline constexpr int kIhaveRefusedCode = 435;     // RFC 3977 6.3.2
inline constexpr int kCheckRefusedCode = 438;     // RFC 4644 2.4, followed by the message-id
inline constexpr int kTakeThisRefusedCode = 439;  // RFC 4644 2.5, followed by the message-id
inline constexpr int kXbatchRefusedCode = 502;    // not an RFC command: "command unavailable"
// COMPRESS (RFC 8054) and STARTTLS (RFC 4642) would turn the stream into
// bytes the proxy cannot read; both are answered "command unavailable".
inline constexpr std::string_view kCompressRefused =
    "502 Serwer pośredniczący nie obsługuje kompresji\r\n";
inline constexpr std::string_view kStartTlsRefused =
    "502 Serwer pośredniczący nie obsługuje szyfrowania\r\n";

// Limits no real newsreader reaches. A command line longer than this without
// a line end, or a posted article larger than this, closes that reader alone.
inline constexpr size_t kMaxCommandLine = 1 << 20;       // 1 MiB
inline constexpr size_t kMaxPostedArticle = 256u << 20;  // 256 MiB
// A status line from the server longer than this is passed on as it comes.
inline constexpr size_t kMaxStatusLine = 64 << 10;
// A reader that does not read its replies would make the proxy hold all it
// asks for. Past this many bytes waiting to go to the reader, the news
// server is not read until they have gone.
inline constexpr int64_t kMaxQueuedForReader = 4 << 20;  // 4 MiB
// The other way round: a reader that sends commands and never reads its
// replies holds back the server, which stops reading commands. Past this
// many bytes waiting to go to the news server (in the upstream send queue,
// and in the request buffer while a POST waits for its answer), or this
// many commands without their reply, the reader is not read until half of
// it has gone; the reader then waits in TCP, not in our memory. Commands
// are small: 1 MiB is some 100000 of them.
inline constexpr int64_t kMaxQueuedForServer = 1 << 20;  // 1 MiB
inline constexpr size_t kMaxOutstanding = 16384;
// A held reply (an article to rewrite) larger than the largest posted
// article stops being held: what is held goes to the reader unrewritten and
// the rest passes as it comes.
inline constexpr size_t kMaxHeldReply = kMaxPostedArticle;
// The same for all readers together: a held reply that takes the bytes held
// by every relay past this stops being held the same way, so a few readers
// asking for endless articles cannot take the machine's memory.
inline constexpr int64_t kMaxHeldTotal = 512 << 20;  // 512 MiB

// A command line holding a NUL byte never leaves the proxy: news servers
// read a line as a C string, so what follows the NUL would be unseen by
// them but not by the write list. RFC 3977 allows no NUL in a command.
inline constexpr std::string_view kNulRefused = "501 Polecenie zawiera bajt zerowy\r\n";

}  // namespace sitowiak::proxy::nntp

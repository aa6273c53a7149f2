// The NNTP words the relay looks for, and the one line it writes itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sitowiak::proxy::nntp {

inline constexpr std::string_view kLineEnd = "\r\n";
// CR LF "." CR LF: the end of a multi-line reply or a posted article.
inline constexpr std::string_view kTerminator = "\r\n.\r\n";

// Commands are recognised by prefix, without regard to case.
inline constexpr std::string_view kXover = "XOVER";
inline constexpr std::string_view kArticle = "ARTICLE";
inline constexpr std::string_view kPost = "POST";

// The answer to a POST from outside the write list (UTF-8).
inline constexpr std::string_view kPostRefused =
    "441 Twoje uprawnienia wykluczają wysyłanie artykułów\r\n";

// Limits no real newsreader reaches. A command line longer than this without
// a line end, or a posted article larger than this, closes that reader alone.
inline constexpr size_t kMaxCommandLine = 1 << 20;       // 1 MiB
inline constexpr size_t kMaxPostedArticle = 256u << 20;  // 256 MiB
// A reader that does not read its replies would make the proxy hold all it
// asks for. Past this many bytes waiting to go to the reader, the news
// server is not read until they have gone.
inline constexpr int64_t kMaxQueuedForReader = 4 << 20;  // 4 MiB

}  // namespace sitowiak::proxy::nntp

// What the scripted news server sends and what a reader must receive for
// it: canned articles, bodies, overviews and posts, each with its expected
// form computed offline by sitowiak-filter with the options the proxy runs
// under (forced charset utf-8, content type text/plain, style links, raw
// overview lines left out).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sitowiak::load {

// Article numbers and ranges that make the news server misbehave.
inline constexpr int kArticleReset = 901;              // half the reply, then a reset
inline constexpr int kArticleDrip = 902;               // one byte at a time
inline constexpr int kArticleNul = 903;                // NUL bytes in the body
inline constexpr int kArticleEndless = 904;            // a reply that never ends
inline constexpr const char* kGroupSilent = "silent";  // never answers again
inline constexpr const char* kBigRange = "1-999999999";

struct Canned {
    std::string wire;      // as the news server sends it
    std::string expected;  // as the reader must receive it
};

struct Corpus {
    std::vector<Canned> articles;  // ARTICLE 1..n (cycled)
    Canned drip, nul, reset;       // the misbehaving articles
    Canned overview;               // XOVER 1-50
    // The big overview is kept once; the reader checks length and hash.
    std::string bigOverview;
    uint64_t bigExpectedLength = 0, bigExpectedHash = 0;
    // A post as the reader writes it with the Message-ID placeholder, and as
    // the server must receive it (the placeholder replaced the same way).
    std::string postTemplate, postExpected;

    // Builds everything, running the filter tool. Throws on failure.
    static Corpus Build(const std::string& filterTool, size_t bigOverviewBytes);
};

// The placeholder a post carries where each post has its own Message-ID.
inline constexpr const char* kIdPlaceholder = "@@ID@@";

// The news server's reply to BODY n.
std::string BodyReply(const Corpus& corpus, int number);
// What the reader gets for BODY n: with a charset forced the proxy asks for
// the article and cuts its rewritten form down to the body, so the status
// line is the article's with code 222.
std::string BodyExpected(const Corpus& corpus, int number);
std::string WithId(const std::string& text, const std::string& id);

// The reply to ARTICLE kArticleEndless, as a stream: a status line, a
// header that the proxy's options would rewrite (8-bit text in iso-8859-2,
// utf-8 forced), then numbered body lines without end.
class EndlessArticle {
public:
    // The next `n` bytes of the stream.
    std::string Next(size_t n);

private:
    std::string m_line =
        "220 904 <endless@load.test>\r\nFrom: a@load.test\r\nNewsgroups: pl.test\r\n"
        "Subject: endless\r\nMessage-ID: <endless@load.test>\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n";
    size_t m_offset = 0;  // bytes of m_line given
    uint64_t m_number = 0;
};

}  // namespace sitowiak::load

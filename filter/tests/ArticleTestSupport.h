// Runs RewriteArticle on a text, as the relay does: the content placed in a
// TBuforArt, rewritten from Start, and read back.
#pragma once

#include <cstring>
#include <string>

#include "filter/TBuforArt.h"

namespace sitowiak::filter::testing {

inline constexpr uint64_t Version(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    return (a << 48) | (b << 32) | (c << 16) | d;
}

struct ArticleOptions {
    std::string productName = "Sitowiak";
    std::string productUrl = "http://sitowiak.example/";
    uint64_t productVersion = Version(5, 0, 0, 48);
    std::string sourceCharset;
    std::string forcedCharset;
    std::string forcedContentType;
    bool addFooter = false;
    bool addStyle = false;
};

inline void Load(TBuforDyn& buffer, const std::string& text) {
    buffer.SetLength(static_cast<int32_t>(text.size()));
    std::memcpy(buffer.Data(), text.data(), text.size());
    buffer.Data()[text.size()] = 0;
}

inline std::string Rewrite(const std::string& text, size_t start, const ArticleOptions& o) {
    TBuforArt buffer;
    Load(buffer, text);
    buffer.RewriteArticle(start, o.productName, o.productUrl, o.productVersion, o.sourceCharset,
                          o.forcedCharset, o.forcedContentType, o.addFooter, o.addStyle);
    std::string out(buffer.Data(), static_cast<size_t>(buffer.Length()));
    EXPECT_EQ(buffer.Data()[buffer.Length()], '\0');
    return out;
}

// The status line of an ARTICLE reply; the article starts after it.
inline const std::string kStatus = "220 3000 <a1@example> article\r\n";

// An article on its way from the server to the reader.
inline std::string FromServer(const std::string& article, ArticleOptions o) {
    std::string out = Rewrite(kStatus + article, kStatus.size(), o);
    EXPECT_EQ(out.compare(0, kStatus.size(), kStatus), 0);
    return out.substr(std::min(out.size(), kStatus.size()));
}

// An article posted by the reader: footer on, SourceCharset = ForcedCharset.
inline std::string Posted(const std::string& article, const std::string& kodowanie,
                          ArticleOptions o = {}) {
    o.sourceCharset = kodowanie;
    o.forcedCharset = kodowanie;
    o.forcedContentType.clear();
    o.addFooter = true;
    o.addStyle = false;
    return Rewrite(article, 0, o);
}

inline std::string Footer(const std::string& name = "Sitowiak",
                          const std::string& version = "5.00.00.48",
                          const std::string& url = "http://sitowiak.example/") {
    return "-- \r\nPrzefiltrowane przez " + name + " " + version + "\r\n" + url + "\r\n";
}

}  // namespace sitowiak::filter::testing

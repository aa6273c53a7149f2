#include "TBuforArt.h"

#include "ArticleRewriter.h"

namespace sitowiak::filter {

void TBuforArt::RewriteArticle(size_t Start, const std::string& ProductName,
                               const std::string& ProductUrl, uint64_t ProductVersion,
                               const std::string& SourceCharset, const std::string& ForcedCharset,
                               const std::string& ForcedContentType, bool AddFooter,
                               bool AddStyle) {
    ArticleInputs inputs{ProductName,   ProductUrl,        ProductVersion, SourceCharset,
                         ForcedCharset, ForcedContentType, AddFooter,      AddStyle};
    ArticleRewriter(*this, Start, inputs).Run();
}

}  // namespace sitowiak::filter

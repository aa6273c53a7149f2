// DecodeHeaderWords, DecodeQ and the base64 decoding of B words on any
// bytes: no crash, no access outside the input, a line the clean-only scan
// calls clean decodes clean, the straight conversion into a code page gives the
// bytes of decoding to UTF-16 and encoding (also when told what a caller's
// pass over the line found), and neither word decoding lengthens its text.
#include <cstdlib>
#include <string>

#include "filter/HeaderWords.h"
#include "filter/TransferEncoding.h"
#include "platform/charset/CodePage.h"

using namespace sitowiak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view s(reinterpret_cast<const char*>(data), size);
    std::u16string w;
    bool clean = filter::DecodeHeaderWords(s, w);
    // The quick scan says clean only of lines without a raw 8-bit byte; the
    // decoding also calls raw UTF-8 clean, since it can be read.
    if (filter::HeaderWordsClean(s) && !clean) std::abort();
    // What a caller's own pass over the line finds, found the plain way.
    filter::LineHint hint;
    hint.ascii = platform::IsAscii(s);
    hint.startsKnown = true;
    hint.firstWordStart = s.find("=?");
    hint.lastWordStart = hint.firstWordStart == s.npos ? 0 : s.rfind("=?");
    for (uint32_t codePage : {65001u, 28592u, 1250u, 65000u}) {
        std::string direct = "x", hinted = "x";
        std::optional<bool> directClean = filter::HeaderWordsEncoder(codePage).Append(s, direct);
        std::optional<bool> hintedClean =
            filter::HeaderWordsEncoder(codePage).Append(s, hinted, hint);
        if (directClean != hintedClean || direct != hinted) std::abort();
        if (!directClean) {
            if (direct != "x") std::abort();
            continue;
        }
        std::string reference = "x";
        sitowiak::platform::AppendMultiByteFromWide(codePage, w, reference);
        if (*directClean != clean || direct != reference) std::abort();
    }
    std::string q = filter::DecodeQ(s);
    if (q.size() > s.size()) std::abort();  // Q decoding never lengthens
    std::string b;
    filter::AppendDecodedBase64(s, b);
    if (b.size() * 4 > s.size() * 3) std::abort();  // 3 bytes at most per 4 characters
    return 0;
}

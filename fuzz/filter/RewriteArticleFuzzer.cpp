// RewriteArticle over every combination of its inputs. Sanitizers catch
// reads and writes outside the buffer; small inputs are also rewritten by
// the one-edit-at-a-time rewriting (filter/tests/ReferenceRewriter.h), and
// both must agree, which also shows that no byte outside what the rules
// change is changed
// (a part without header end included), and that no line "." is made
// that was not there. Seeds include nested multipart,
// base64 and quoted-printable posts (footer in the encoding) and binaries.
#include <cstdlib>
#include <string_view>

#include "FuzzInput.h"
#include "filter/TBuforArt.h"
#include "filter/tests/ReferenceRewriter.h"

using namespace sitowiak;

// Lines that are "." alone after a line end: each one ends a reply or a post.
static size_t DotLines(std::string_view t) {
    size_t count = 0;
    for (size_t at = t.find("\r\n.\r\n"); at != t.npos; at = t.find("\r\n.\r\n", at + 1))
        ++count;
    return count;
}

// The reference re-reads the whole tail for every line: keep it to inputs
// where that stays fast.
constexpr size_t kDifferentialLimit = 8192;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kCharsets[] = {"",         "utf-8",       "windows-1250", "iso-8859-2",
                                            "us-ascii", "iso-2022-jp", "x-unknown",    "UTF-7"};
    static const char* const kTypes[] = {"", "text/plain", "text/html", "TEXT/", "multipart/"};
    fuzz::FuzzInput in(data, size);
    uint8_t flags = in.Byte();
    std::string forced = in.Choose(kCharsets);
    std::string source = in.Choose(kCharsets);
    std::string type = in.Choose(kTypes);
    std::string text = in.Rest();
    bool footer = flags & 1, style = flags & 2;
    size_t start = (flags & 4) ? fuzz::AfterFirstCrLf(text) : 0;
    std::string name = (flags & 8) ? "Sit\xC3\xB3wiak" : "Sitowiak";
    const std::string url = "http://sitowiak.example/";
    const uint64_t version = 0x0005000000000030ull;

    filter::TBuforArt buffer;
    fuzz::Load(buffer, text);
    buffer.RewriteArticle(start, name, url, version, source, forced, type, footer, style);
    if (buffer.Data()[buffer.Length()] != '\0') std::abort();
    if (text.compare(0, start, buffer.Data(), std::min<size_t>(start, buffer.Length())) != 0)
        std::abort();  // the bytes before Start are never changed
    // With nothing to force, add or convert, an article stays as it came: the
    // relay relies on this to pass such articles without holding them.
    if (forced.empty() && source.empty() && type.empty() && !footer && !style &&
        std::string_view(buffer.Data(), static_cast<size_t>(buffer.Length())) != text)
        std::abort();
    // No rewriting makes a line that ends the reply early: converted text
    // (UTF-7, ISO-2022-JP) is stuffed again.
    if (DotLines(std::string_view(buffer.Data(), static_cast<size_t>(buffer.Length()))) >
        DotLines(text))
        std::abort();

    if (text.size() <= kDifferentialLimit) {
        filter::TBuforDyn reference;
        fuzz::Load(reference, text);
        filter::testing::ReferenceInputs inputs{
            name, url, version, source, forced, type, footer, style, SITOWIAK_STYLE_HOST};
        filter::testing::ReferenceRewriter(reference, start, inputs).Run();
        std::string_view a(buffer.Data(), static_cast<size_t>(buffer.Length()));
        std::string_view b(reference.Data(), static_cast<size_t>(reference.Length()));
        if (a != b) std::abort();
    }
    return 0;
}

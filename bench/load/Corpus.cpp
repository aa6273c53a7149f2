#include "Corpus.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "Wire.h"

namespace sitowiak::load {
namespace {

const char* const kArticles[] = {
    // Latin-2 plain text with a dot-stuffed line.
    "From: a@load.test\r\nSubject: zwykly\r\nMessage-ID: <1@load.test>\r\n"
    "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n"
    "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1.\r\n..kropka\r\nkoniec\r\n.\r\n",
    // Multipart: the HTML part goes, the windows-1250 text is re-encoded.
    "From: b@load.test\r\nSubject: =?iso-8859-2?Q?Wieloczu=B6ciowy?=\r\n"
    "Message-ID: <2@load.test>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/alternative; boundary=\"gr\"\r\n\r\n"
    "wstep\r\n--gr\r\nContent-Type: text/plain; charset=windows-1250\r\n\r\n"
    "\x9C\x9F\xB9\x9Cny tekst\r\n--gr\r\nContent-Type: text/html; charset=windows-1250\r\n\r\n"
    "<html><head><STYLE></STYLE></head><body>\x9C</body></html>\r\n--gr--\r\n.\r\n",
    // Single-part HTML with an empty style element.
    "From: c@load.test\r\nSubject: html\r\nMessage-ID: <3@load.test>\r\n"
    "Content-Type: text/html; charset=utf-8\r\n\r\n"
    "<html><head><STYLE></STYLE></head><body>\xC5\xBC\xC3\xB3\xC5\x82w</body></html>\r\n.\r\n",
    // Quoted-printable UTF-8.
    "From: d@load.test\r\nSubject: qp\r\nMessage-ID: <4@load.test>\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "=C5=BC=C3=B3=C5=82w i soft=\r\nbreak\r\n.\r\n",
    // Base64 Latin-2.
    "From: e@load.test\r\nSubject: b64\r\nMessage-ID: <5@load.test>\r\n"
    "Content-Type: text/plain; charset=iso-8859-2\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "v/Oz5iBn6rZs\r\n.\r\n",
};

// NUL bytes in the body, which no article should have.
const char kNulArticle[] =
    "From: g@load.test\r\nSubject: nul\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
    "przed\0po\r\n\0\0\r\n\xBF\0\xB3\r\n.\r\n";

std::string RunFilter(const std::string& tool, const std::string& args, const std::string& input) {
    char path[] = "/tmp/sitowiak-load-in.XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    for (size_t done = 0; done < input.size();) {
        ssize_t n = ::write(fd, input.data() + done, input.size() - done);
        if (n <= 0) throw std::runtime_error("writing the filter's input failed");
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    std::string command = "'" + tool + "' " + args + " < " + path;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + tool);
    std::string out;
    char buf[1 << 16];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    int status = ::pclose(pipe);
    ::unlink(path);
    if (status != 0) throw std::runtime_error("filter failed: " + command);
    return out;
}

const char* const kArticleArgs =
    "article --status --charset utf-8 --content-type text/plain --style";
const char* const kOverviewArgs = "overview --charset utf-8 --ignore-raw";
const char* const kPostArgs = "article --source-charset utf-8 --charset utf-8 --footer";

Canned Article(const std::string& tool, const std::string& status, const std::string& article) {
    Canned c;
    c.wire = status + article;
    c.expected = RunFilter(tool, kArticleArgs, c.wire);
    return c;
}

std::string OverviewLine(size_t n) {
    std::string s = std::to_string(n);
    switch (n % 4) {
        case 0:
            return s + "\t=?iso-8859-2?Q?Za=BF=F3=B3=E6_" + s + "?=\ta@load.test\tdate\t<" + s +
                   "@load.test>\t\t100\t3\r\n";
        case 1:
            return s + "\t=?utf-8?B?xbzDs8WCdw==?=\tb@load.test\tdate\t<" + s +
                   "@load.test>\t\t200\t4\r\n";
        case 2:  // raw 8-bit: left out
            return s + "\tsurowy \xC5\xBC\tc@load.test\tdate\t<" + s + "@load.test>\t\t50\t1\r\n";
        default:
            return s + "\tplain subject " + s + "\td@load.test\tdate\t<" + s +
                   "@load.test>\t\t10\t1\r\n";
    }
}

std::string Overview(size_t first, size_t bytes, size_t maxLines) {
    std::string s = "224 overview follows\r\n";
    for (size_t n = first; s.size() < bytes && n - first < maxLines; ++n) s += OverviewLine(n);
    return s + ".\r\n";
}

}  // namespace

std::string WithId(const std::string& text, const std::string& id) {
    std::string out = text;
    for (size_t at; (at = out.find(kIdPlaceholder)) != std::string::npos;)
        out.replace(at, std::string_view(kIdPlaceholder).size(), id);
    return out;
}

std::string BodyReply(const Corpus& corpus, int number) {
    const std::string& wire =
        corpus.articles[static_cast<size_t>(number - 1) % corpus.articles.size()].wire;
    size_t body = wire.find("\r\n\r\n") + 4;
    return "222 " + std::to_string(number) + " <" + std::to_string(number) +
           "@load.test> body\r\n" + wire.substr(body);
}

std::string BodyExpected(const Corpus& corpus, int number) {
    const std::string& article =
        corpus.articles[static_cast<size_t>(number - 1) % corpus.articles.size()].expected;
    const size_t statusEnd = article.find("\r\n") + 2;
    const size_t body = article.find("\r\n\r\n", statusEnd - 2) + 4;
    return "222" + article.substr(3, statusEnd - 3) + article.substr(body);
}

Corpus Corpus::Build(const std::string& tool, size_t bigOverviewBytes) {
    Corpus c;
    int number = 1;
    for (const char* a : kArticles)
        c.articles.push_back(Article(tool, "220 " + std::to_string(number++) + " article\r\n", a));
    std::string longBody;
    for (int i = 0; i < 12; ++i)
        longBody += "kapie po jednym bajcie \xBF\xF3\xB3\xE6 " + std::to_string(i) + "\r\n";
    c.drip = Article(tool, "220 902 article\r\n",
                     "From: f@load.test\r\nSubject: drip\r\nContent-Type: text/plain; "
                     "charset=iso-8859-2\r\n\r\n" +
                         longBody + ".\r\n");
    c.nul = Article(tool, "220 903 article\r\n", std::string(kNulArticle, sizeof kNulArticle - 1));
    c.reset = Article(tool, "220 901 article\r\n", kArticles[0]);
    c.overview.wire = Overview(1, 1 << 30, 50);
    c.overview.expected = RunFilter(tool, kOverviewArgs, c.overview.wire);
    c.bigOverview = Overview(1, bigOverviewBytes, SIZE_MAX);
    std::string bigExpected = RunFilter(tool, kOverviewArgs, c.bigOverview);
    Fnv fnv;
    fnv.Add(bigExpected);
    c.bigExpectedLength = bigExpected.size();
    c.bigExpectedHash = fnv.Value();
    c.postTemplate = std::string(
                         "From: poster@load.test\r\nNewsgroups: pl.test\r\nSubject: wpis\r\n"
                         "Message-ID: <") +
                     kIdPlaceholder +
                     ">\r\n"
                     "Content-Type: text/plain; charset=utf-8\r\n\r\n"
                     "Tre\xC5\x9B\xC4\x87 wpisu\r\n..kropka\r\n.\r\n";
    c.postExpected = RunFilter(tool, kPostArgs, c.postTemplate);
    // Every post differs only in its Message-ID, which the filter leaves as
    // it is: checked here once, so that each post's expected form is the
    // template's with the ID put in.
    const std::string id = "check.1@load.test";
    if (RunFilter(tool, kPostArgs, WithId(c.postTemplate, id)) != WithId(c.postExpected, id))
        throw std::runtime_error("the filter does not leave the Message-ID of a post alone");
    return c;
}

std::string EndlessArticle::Next(size_t n) {
    std::string out;
    out.reserve(n);
    while (out.size() < n) {
        if (m_offset == m_line.size()) {
            m_line = "Pi\xB3ka no\xBFna, wiersz " + std::to_string(++m_number) + "\r\n";
            m_offset = 0;
        }
        size_t take = std::min(n - out.size(), m_line.size() - m_offset);
        out.append(m_line, m_offset, take);
        m_offset += take;
    }
    return out;
}

}  // namespace sitowiak::load

// sitowiak-filter: the article filter as a command-line tool, for offline
// use and benchmarks. Reads one NNTP reply or article from standard input
// into a TBuforArt, rewrites it as the proxy would and
// writes the buffer to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/TBuforArt.h"
#include "platform/core/ProductIdentity.h"

namespace {

using sitowiak::filter::TBuforArt;

constexpr std::string_view kUsage =
    "Usage:\n"
    "  sitowiak-filter article [--status] [--source-charset NAME] [--charset NAME]\n"
    "                          [--content-type TYPE] [--footer] [--style]\n"
    "  sitowiak-filter overview [--charset NAME] [--ignore-raw] [--undeclared-charset NAME]\n"
    "  sitowiak-filter --help\n"
    "\n"
    "Reads an NNTP article or XOVER reply in wire form (CR LF lines, dot-stuffed,\n"
    "ending with the line \".\") from standard input, rewrites it as Sitowiak\n"
    "does and writes the result to standard output.\n"
    "\n"
    "article    Rewrites an article. It starts at the first byte, or after\n"
    "           the first CR LF with --status. As the proxy does for\n"
    "           ARTICLE: --status --charset K --content-type Z [--style]\n"
    "           [--undeclared-charset N]; for POST: --source-charset K\n"
    "           --charset K --footer.\n"
    "  --status               the input begins with an NNTP status line\n"
    "  --source-charset NAME  read text that declares no charset (or us-ascii, or\n"
    "                         one the charset database does not know), and utf-8\n"
    "                         text that is not UTF-8, in NAME; a body that names\n"
    "                         a known charset is read in that\n"
    "  --undeclared-charset NAME  the same (the proxy's KodowanieNieoznaczonych)\n"
    "  --charset NAME         re-encode text bodies into NAME; a body is read as\n"
    "                         what its bytes are: UTF-8 under a single-byte label\n"
    "                         as UTF-8, ISO-8859-n with bytes 0x80-0x9F in its\n"
    "                         Windows code page\n"
    "  --content-type TYPE    drop multipart parts of other types\n"
    "  --footer               the article is a post: append the signature footer\n"
    "                         and leave indented lines as they are\n"
    "  --style                replace <STYLE></STYLE> by the style link\n"
    "overview   Rewrites an overview, starting after the status line.\n"
    "  --charset NAME         decode header words, re-encode lines into NAME\n"
    "  --ignore-raw           leave out lines with raw 8-bit bytes; with --charset\n"
    "                         only those that can be read neither as UTF-8 nor in\n"
    "                         the --undeclared-charset\n"
    "  --undeclared-charset NAME  read raw bytes that are not UTF-8 in NAME\n"
    "\n"
    "The footer's product name, version and web page come from the version\n"
    "information of this program file.\n";

constexpr int kExitUsage = 2;
constexpr int kExitIo = 1;
// Read in steps of at least this much; the buffer grows by doubling.
constexpr size_t kReadStep = 1 << 20;

struct Options {
    std::string mode;
    bool status = false;
    std::string sourceCharset, charset, contentType, undeclaredCharset;
    bool footer = false, style = false, ignoreRaw = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "sitowiak-filter: %s\nTry 'sitowiak-filter --help'.\n", message.c_str());
    return kExitUsage;
}

// Parses argv into options; returns an exit code when the program should end.
std::optional<int> Parse(int argc, char** argv, Options& o) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::string_view a : args)
        if (a == "--help" || a == "-h") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        }
    if (args.empty()) return UsageError("no mode given (article or overview)");
    o.mode = std::string(args[0]);
    if (o.mode != "article" && o.mode != "overview")
        return UsageError("unknown mode '" + o.mode + "' (article or overview)");
    bool article = o.mode == "article";
    for (size_t i = 1; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (size_t eq = name.find('='); name.starts_with("--") && eq != name.npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&](std::string& target) -> bool {
            if (inlineValue) {
                target = std::string(*inlineValue);
                return true;
            }
            if (i + 1 >= args.size()) return false;
            target = std::string(args[++i]);
            return true;
        };
        auto flag = [&](bool& target) {
            target = true;
            return !inlineValue.has_value();
        };
        bool ok;
        if (name == "--charset")
            ok = value(o.charset);
        else if (article && (name == "--source-charset" || name == "--undeclared-charset"))
            ok = value(o.sourceCharset);
        else if (!article && name == "--undeclared-charset")
            ok = value(o.undeclaredCharset);
        else if (article && name == "--content-type")
            ok = value(o.contentType);
        else if (article && name == "--status")
            ok = flag(o.status);
        else if (article && name == "--footer")
            ok = flag(o.footer);
        else if (article && name == "--style")
            ok = flag(o.style);
        else if (!article && name == "--ignore-raw")
            ok = flag(o.ignoreRaw);
        else
            return UsageError("unknown option '" + std::string(args[i]) + "' for " + o.mode);
        if (!ok) return UsageError("option '" + std::string(name) + "' is used wrongly");
    }
    return std::nullopt;
}

// Reads all of standard input into the buffer, growing it by doubling
// (a regular file is sized once), and leaves the NUL behind the content.
bool ReadInput(TBuforArt& buffer) {
    const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max()) - 4096;
    struct stat st {};
    size_t used = 0;
    if (fstat(0, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<size_t>(st.st_size) < limit)
        buffer.SetLength(static_cast<int32_t>(st.st_size));
    for (;;) {
        size_t room = static_cast<size_t>(buffer.Capacity()) - used;  // keeps the NUL byte free
        if (room < kReadStep / 4) {
            size_t grown = std::min(limit, std::max(used * 2, used + kReadStep));
            if (grown <= used) {
                std::fprintf(stderr, "sitowiak-filter: input too large\n");
                return false;
            }
            buffer.SetLength(static_cast<int32_t>(grown));
            continue;
        }
        ssize_t n = read(0, buffer.Data() + used, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::fprintf(stderr, "sitowiak-filter: reading standard input: %s\n",
                         std::strerror(errno));
            return false;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    buffer.SetLength(static_cast<int32_t>(used));
    buffer.Data()[used] = '\0';
    return true;
}

bool WriteOutput(const TBuforArt& buffer) {
    const char* p = buffer.Data();
    size_t left = static_cast<size_t>(buffer.Length());
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::fprintf(stderr, "sitowiak-filter: writing standard output: %s\n",
                         std::strerror(errno));
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// The first byte after the first CR LF, or the end when there is none.
size_t AfterStatusLine(const TBuforArt& buffer) {
    std::string_view content(buffer.Data(), static_cast<size_t>(buffer.Length()));
    size_t eol = content.find("\r\n");
    return eol == content.npos ? content.size() : eol + 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (auto exitCode = Parse(argc, argv, o)) return *exitCode;
    try {
        TBuforArt buffer;
        if (!ReadInput(buffer)) return kExitIo;
        if (o.mode == "article") {
            sitowiak::platform::ProductIdentity id;
            sitowiak::platform::ReadVersionInfo(sitowiak::platform::ProgramFile(), id);
            size_t start = o.status ? AfterStatusLine(buffer) : 0;
            buffer.RewriteArticle(start, id.ProductName, id.ProductUrl, id.ProductVersion,
                                  o.sourceCharset, o.charset, o.contentType, o.footer, o.style);
        } else {
            buffer.RewriteOverview(AfterStatusLine(buffer), o.charset, o.ignoreRaw,
                                   o.undeclaredCharset);
        }
        return WriteOutput(buffer) ? 0 : kExitIo;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "sitowiak-filter: out of memory\n");
        return kExitIo;
    }
}

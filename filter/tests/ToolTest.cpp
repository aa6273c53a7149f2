// sitowiak-filter, run as a program: options, exit codes, and the identity
// values of its own version block in the footer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ToolRun Tool(const std::string& args, const std::string& input) {
    fs::path dir =
        fs::temp_directory_path() / ("sitowiak-filter-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "in", std::ios::binary) << input;
    std::string command = std::string(SITOWIAK_FILTER_TOOL) + " " + args + " <" +
                          (dir / "in").string() + " >" + (dir / "out").string() + " 2>" +
                          (dir / "err").string();
    int status = std::system(command.c_str());
    ToolRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
    fs::remove_all(dir);
    return r;
}

TEST(SitowiakFilterTool, RewritesAnArticleAfterItsStatusLineWithTheProgramsIdentity) {
    ToolRun r =
        Tool("article --status --charset utf-8 --footer",
             "220 1 <a@b>\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB1\r\n.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "220 1 <a@b>\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n"
              "-- \r\nPrzefiltrowane przez Sitowiak "
              "5.00.00.48\r\nhttps://sitowiak.plaskun.example/\r\n.\r\n");
}

TEST(SitowiakFilterTool, WithoutStatusTheArticleStartsAtTheFirstByte) {
    ToolRun r = Tool("article --source-charset=windows-1250 --charset utf-8",
                     "Subject: s\r\n\r\n\xB9\r\n.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(
        r.out,
        "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n"
        "\r\n\xC4\x85\r\n.\r\n");
}

TEST(SitowiakFilterTool, RemovesPartsAndInsertsTheStyleLink) {
    ToolRun r = Tool("article --content-type text/html --style",
                     "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: "
                     "text/plain\r\n\r\nx\r\n"
                     "--b\r\nContent-Type: text/html\r\n\r\n<STYLE></STYLE>\r\n--b--\r\n.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                                 "--b\r\nContent-Type: text/html\r\n\r\n<LINK href=\"http://") +
                         SITOWIAK_STYLE_HOST +
                         "/artykuly.css\" type=text/css rel=stylesheet>\r\n--b--\r\n.\r\n");
}

TEST(SitowiakFilterTool, RewritesAnOverviewAfterItsStatusLine) {
    const std::string reply = "224 ok\r\n1\t=?iso-8859-2?Q?=B1?=\r\n2\t\xC4\x85\r\n3\t\xB1\r\n.\r\n";
    ToolRun r = Tool("overview --charset windows-1250 --ignore-raw", reply);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "224 ok\r\n1\t\xB9\r\n2\t\xB9\r\n.\r\n");
    // The charset for undeclared text reads the raw iso-8859-2 line, and
    // an unlabelled body.
    r = Tool("overview --charset windows-1250 --ignore-raw --undeclared-charset iso-8859-2", reply);
    EXPECT_EQ(r.out, "224 ok\r\n1\t\xB9\r\n2\t\xB9\r\n3\t\xB9\r\n.\r\n");
    r = Tool("article --charset utf-8 --undeclared-charset=iso-8859-2", "MIME-Version: 1.0\r\n\r\n\xB1\r\n.\r\n");
    EXPECT_EQ(r.out,
              "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n\r\n"
              "\xC4\x85\r\n.\r\n");
}

TEST(SitowiakFilterTool, IncompleteInputIsRewrittenAsFarAsItGoes) {
    EXPECT_EQ(Tool("article --status --footer", "220 x").out, "220 x");
    EXPECT_EQ(Tool("article --footer", "").out, "");
    EXPECT_EQ(Tool("overview --ignore-raw", "224 x\r\n1\t\xC4\x85\r\n").out, "224 x\r\n");
}

TEST(SitowiakFilterTool, UnknownOptionsAndModesExitWithTwo) {
    ToolRun r = Tool("article --bogus", "");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown option '--bogus'"), std::string::npos);
    EXPECT_EQ(Tool("overview --footer", "").exitCode, 2);  // an article option
    EXPECT_EQ(Tool("article --charset", "").exitCode, 2);  // missing value
    EXPECT_EQ(Tool("article --footer=yes", "").exitCode, 2);
    EXPECT_EQ(Tool("digest", "").exitCode, 2);
    EXPECT_EQ(Tool("", "").exitCode, 2);
}

TEST(SitowiakFilterTool, HelpDescribesBothModes) {
    ToolRun r = Tool("--help", "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("sitowiak-filter article"), std::string::npos);
    EXPECT_NE(r.out.find("sitowiak-filter overview"), std::string::npos);
    // A user reads options, not the names of the functions behind them.
    for (const char* internal : {"RewriteArticle", "RewriteOverview", "SourceCharset",
                                 "ForcedCharset", "ForcedContentType", "AddFooter", "AddStyle"})
        EXPECT_EQ(r.out.find(internal), std::string::npos) << internal;
}

}  // namespace

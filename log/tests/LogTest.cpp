#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <random>

#include "log/HexDump.h"
#include "log/LogText.h"
#include "log/TLog.h"
#include "tests/support/TestApp.h"

// A control character in the log makes Qt ask fontconfig for a fallback
// font; fontconfig keeps that answer until the process ends, which the leak
// checker of the sanitizer build would report as our leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace sitowiak::log {
namespace {

std::vector<std::string> Lines(const std::string& dump) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < dump.size();) {
        size_t end = dump.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) break;
        lines.push_back(dump.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(HexDumpTest, FullLineAndShortLastLine) {
    std::string bytes = "GROUP pl.test\r\n.X";
    std::vector<std::string> lines = Lines(HexDump(bytes));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "0000 47 52 4F 55 50 20 70 6C-2E 74 65 73 74 0D 0A 2E GROUP pl.test...");
    EXPECT_EQ(lines[0].size() + 2, 71u);
    EXPECT_EQ(lines[1], "0010 58 " + std::string(45, ' ') + "X");
    EXPECT_EQ(lines[1].size() + 2, 55u + 1);
    EXPECT_EQ(HexDump(""), "");
    // Eight bytes: the eighth is followed by "-"; only printable ASCII shows
    // as itself.
    EXPECT_EQ(HexDump(std::string("\x01\x1f\x20\x7f\x80\xff\tA", 8)),
              "0000 01 1F 20 7F 80 FF 09 41-" + std::string(24, ' ') + ".. ....A\r\n");
    // "Zażółć" in UTF-8: each byte of a Polish letter is a column of its own,
    // so the text column stays 16 characters wide.
    std::vector<std::string> polish = Lines(HexDump("Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 gesla"));
    ASSERT_EQ(polish.size(), 1u);
    EXPECT_EQ(polish[0],
              "0000 5A 61 C5 BC C3 B3 C5 82-C4 87 20 67 65 73 6C 61 Za........ gesla");
    EXPECT_EQ(BodyText(HexDump("\xc5\xbc")).size(), BodyText(HexDump("ab")).size());
}

// The header speaks Polish under any locale, with the month as a date
// names it.
TEST(HeaderClockTest, PolishMonthNamesUnderAnyLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    HeaderClock clock;
    EXPECT_EQ(clock.Format(QDateTime(QDate(2026, 12, 8), QTime(14, 3, 5))).toStdString(),
              "8 grudnia 2026 14:03:05");
    EXPECT_EQ(clock.Format(QDateTime(QDate(2027, 5, 21), QTime(9, 0, 0))).toStdString(),
              "21 maja 2027 09:00:00");
    QLocale::setDefault(saved);
}

TEST(HexDumpTest, OffsetsWrapAfter65536Bytes) {
    std::vector<std::string> lines = Lines(HexDump(std::string(65536 + 20, 'a')));
    ASSERT_EQ(lines.size(), 4098u);
    EXPECT_EQ(lines[4095].substr(0, 5), "FFF0 ");
    EXPECT_EQ(lines[4096].substr(0, 5), "0000 ");
    EXPECT_EQ(lines[4097].substr(0, 5), "0010 ");
    EXPECT_EQ(lines[4097].size(), 55u + 4 - 2);
}

// Bytes that decoding, line breaking and the size shortcut treat specially.
std::vector<std::string> AwkwardTexts() {
    std::vector<std::string> texts = {
        "",
        "plain ascii\r\n",
        "Zażółć gęślą jaźń\r\nkoniec",
        "\xEF\xBB\xBF"
        "bom first",
        "mid \xEF\xBB\xBF"
        " bom",
        "emoji \xF0\x9F\x98\x80 and \xF4\x8F\xBF\xBF",
        "bad \xC3 lead",
        "overlong \xC0\xAF and \xE0\x80\xAF",
        "surrogate \xED\xA0\x80",
        "beyond \xF4\x90\x80\x80",
        "nonchar \xEF\xBF\xBE\xEF\xBF\xBF",
        "cr\rlone\r",
        "lf\nlone\n",
        "\r\r\n\n\r",
        "tab\tand\x01\x09\x0b\x0c",
        "ends with paragraph \xE2\x80\xA9",
        "ends with line sep \xE2\x80\xA8",
        "frame \xEF\xB7\x90",
        "frame end \xEF\xB7\x91",
        std::string("zero\0after", 11),
        "high\x80\xFF\xFE bytes",
        "truncated at end \xE2\x80",
    };
    // Mostly valid pieces, now and then a broken one.
    const std::vector<std::string> pieces = {"a",
                                             "bc",
                                             "\r",
                                             "\n",
                                             "\r\n",
                                             "\t",
                                             "\x01",
                                             "\xC3\xB3",
                                             "\xE2\x80\xA9",
                                             "\xE2\x80\xA8",
                                             "\xF0\x9F\x98\x80",
                                             "\xEF\xB7\x90",
                                             "\xEF\xBB\xBF",
                                             "\x7F",
                                             "\xC3",
                                             "\xFF",
                                             "\x80"};
    std::mt19937 random(16);
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        for (size_t n = random() % 30; n > 0; --n) {
            size_t piece = random() % pieces.size();
            if (piece >= pieces.size() - 3 && random() % 8 != 0) piece = 0;
            text += pieces[piece];
        }
        texts.push_back(text);
    }
    return texts;
}

// What a text control shows for a prepared text: its length and whether its
// last line is empty.
std::pair<qsizetype, bool> InControl(const QString& text) {
    QTextDocument document;
    QTextCursor(&document).insertText(text);
    return {document.characterCount() - 1, document.lastBlock().text().isEmpty()};
}

// The size of an entry is taken from its bytes, before its text exists: it
// must never be smaller than what the control holds (the log's limit is
// kept with it), must be exact for ASCII, and must tell exactly whether the
// last line is empty (a wrong answer shows one blank line too many or too
// few between entries).
TEST(LogTextTest, ShapeFromBytesMatchesThePreparedText) {
    for (const std::string& text : AwkwardTexts()) {
        std::string_view shown(text.c_str());
        bool ascii = std::all_of(shown.begin(), shown.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        for (bool hex : {false, true}) {
            BodyShape shape = ShapeOfBody(shown, hex);
            auto [length, emptyLast] = InControl(hex ? BodyText(HexDump(shown)) : BodyText(shown));
            if (ascii)
                EXPECT_EQ(shape.size, length) << hex << ::testing::PrintToString(text);
            else
                EXPECT_GE(shape.size, length) << hex << ::testing::PrintToString(text);
            EXPECT_EQ(shape.endsWithBreak, emptyLast) << hex << ::testing::PrintToString(text);
        }
    }
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line\r\n\r\r\n";
    EXPECT_EQ(ShapeOfBody(lines, false).size, 100 * 7);
}

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override { testing::TestApp(); }

    // The log's lines without the date and time of the headers.
    static QStringList Shown(TLog& log) {
        log.Drain();
        QStringList lines;
        for (QTextBlock b = log.LogWnd->document()->begin(); b.isValid(); b = b.next()) {
            QString text = b.text();
            qsizetype title = text.indexOf(QLatin1Char('#'));
            lines << (title >= 0 ? text.mid(title) : text);
        }
        return lines;
    }
    static QString U(const char* text) { return QString::fromUtf8(text); }
};

TEST_F(LogWindowTest, EntriesAreSeparatedByOneBlankLine) {
    TLog log;
    EXPECT_FALSE(log.isVisible());
    log.SetEntryStyle(0x0000FF, "#1");
    log.AddEntry("GROUP pl.test\r\n");
    EXPECT_TRUE(log.isVisible());
    log.SetEntryTitle("#2");
    log.AddEntry("211 1 1 1 pl.test");
    log.AddEntry("");
    log.AddEntry(
        "a\tb\x01\x0c"
        "c\rd\ne\0hidden");
    EXPECT_EQ(Shown(log), (QStringList{U("#1"), U("GROUP pl.test"), U(""), U("#2"),
                                       U("211 1 1 1 pl.test"), U(""), U("#2"), U(""), U("#2"),
                                       U("a.b.\x0c"
                                         "c"),
                                       U("d"), U("e")}));
    EXPECT_EQ(log.EntryColor(), 0x0000FFu);
    log.Drain();
    QTextCharFormat format = log.LogWnd->document()->lastBlock().begin().fragment().charFormat();
    EXPECT_EQ(format.foreground().color(), QColor(0, 0, 255));

    log.Clear1Click();
    log.AddEntry("x");
    EXPECT_EQ(Shown(log), (QStringList{U("#2"), U("x")}));
}

TEST_F(LogWindowTest, HeaderCarriesDateAndTime) {
    TLog log;
    log.SetEntryStyle(0, "Żądania");
    log.AddEntry("");
    log.Drain();
    QString header = log.LogWnd->document()->firstBlock().text();
    EXPECT_TRUE(header.endsWith(U(" Żądania")));
    EXPECT_TRUE(header.contains(QTime::currentTime().toString(QStringLiteral("mm"))));
}

TEST_F(LogWindowTest, DebugstringShowsTheDump) {
    TLog log;
    log.Debugstring1->trigger();
    log.SetEntryTitle("#d");
    log.AddEntry("0123456789ABCDEFG");
    EXPECT_EQ(
        Shown(log),
        (QStringList{U("#d"),
                     U("0000 30 31 32 33 34 35 36 37-38 39 41 42 43 44 45 46 0123456789ABCDEF"),
                     U("0010 47") + QString(46, QLatin1Char(' ')) + U("G"), U("")}));
}

TEST_F(LogWindowTest, OldestEntriesGoPastTheCap) {
    TLog log({.maxEntries = 3, .maxChars = 1 << 20, .maxEntryBytes = 1 << 20});
    for (int i = 1; i <= 5; ++i) {
        log.SetEntryTitle("#" + std::to_string(i));
        // U+2029 breaks the line in the text control as well.
        log.AddEntry(i == 2 ? "line\xe2\x80\xa9 2" : "line " + std::to_string(i));
    }
    EXPECT_EQ(log.EntryCount(), 3);
    EXPECT_EQ(Shown(log), (QStringList{U("#3"), U("line 3"), U(""), U("#4"), U("line 4"), U(""),
                                       U("#5"), U("line 5")}));

    TLog bySize({.maxEntries = 100, .maxChars = 200, .maxEntryBytes = 50});
    bySize.SetEntryTitle("#big");
    bySize.AddEntry(std::string(80, 'x'));
    EXPECT_EQ(Shown(bySize).mid(1),
              (QStringList{QString(50, QLatin1Char('x')), U("(nie pokazano dalszych bajtów: 30)")}));
    for (int i = 0; i < 10; ++i) bySize.AddEntry(std::string(40, 'y'));
    bySize.Drain();
    EXPECT_LE(bySize.LogWnd->document()->characterCount(), 200 + 1);
    EXPECT_EQ(Shown(bySize).first(), U("#big"));
    EXPECT_EQ(Shown(bySize).at(1), QString(40, QLatin1Char('y')));
}

// Every fragment of the log with its colour, the headers' date and time cut.
QStringList Fragments(const TLog& log) {
    QStringList fragments;
    for (QTextBlock b = log.LogWnd->document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            QString text = it.fragment().text();
            qsizetype title = text.indexOf(QLatin1Char('#'));
            fragments << (title >= 0 ? text.mid(title) : text) + QLatin1Char('|') +
                             it.fragment().charFormat().foreground().color().name();
        }
        fragments << QStringLiteral("<break>");
    }
    return fragments;
}

// Entries queued in bursts, trimmed while still queued, and put into the
// control in passes show exactly what adding each one at once shows.
TEST_F(LogWindowTest, BurstShowsWhatEntriesOneByOneShow) {
    const LogLimits limits{.maxEntries = 9, .maxChars = 700, .maxEntryBytes = 60};
    TLog single(limits), burst(limits);
    std::vector<std::string> texts = AwkwardTexts();
    texts.resize(400);
    std::mt19937 random(4);
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string text = texts[i] + std::string(random() % 3 == 0 ? random() % 120 : 0, 'x');
        bool hex = random() % 5 == 0;
        Rgb color = static_cast<Rgb>(random() % 0x1000000);
        for (TLog* log : {&single, &burst}) {
            if (log->Debugstring1->isChecked() != hex) log->Debugstring1->trigger();
            log->SetEntryStyle(color, "#" + std::to_string(i));
            log->AddEntry(text);
        }
        single.Drain();
        ASSERT_EQ(single.QueuedCount(), 0);
        if (random() % 17 == 0) burst.Drain();
        if (random() % 11 == 0) QCoreApplication::processEvents();
        if (random() % 23 == 0) {
            burst.Drain();
            ASSERT_EQ(Fragments(burst).join(QLatin1Char(' ')).toStdString(),
                      Fragments(single).join(QLatin1Char(' ')).toStdString())
                << "after entry " << i;
        }
    }
    // The limits hold, and the log starts with a header: the trimmed lines
    // were counted right.
    QStringList shown = Shown(single);
    EXPECT_TRUE(shown.first().startsWith(QLatin1Char('#')));
    EXPECT_EQ(shown.filter(QLatin1String("#")).size(), single.EntryCount());
    EXPECT_LE(single.LogWnd->document()->characterCount(), limits.maxChars + 1);
    EXPECT_GT(burst.QueuedCount(), 0);
    burst.Drain();
    EXPECT_EQ(burst.EntryCount(), single.EntryCount());
    EXPECT_EQ(Fragments(burst).join(QLatin1Char(' ')).toStdString(),
              Fragments(single).join(QLatin1Char(' ')).toStdString());
    EXPECT_EQ(burst.LogWnd->toPlainText().size(), single.LogWnd->toPlainText().size());

    // The queue empties on its own; a clear drops what is queued.
    burst.AddEntry("later");
    QElapsedTimer waited;
    waited.start();
    while (burst.QueuedCount() > 0 && waited.elapsed() < 5000) {
        QThread::msleep(2);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(burst.QueuedCount(), 0);
    burst.AddEntry("gone");
    burst.Clear1Click();
    burst.AddEntry("first");
    burst.Drain();
    EXPECT_EQ(Shown(burst).size(), 2);
}

TEST_F(LogWindowTest, RefreshDecidesWhetherTheViewFollows) {
    TLog log;
    log.show();
    for (int i = 0; i < 200; ++i) log.AddEntry("line");
    log.Drain();
    QScrollBar* bar = log.LogWnd->verticalScrollBar();
    EXPECT_GT(bar->value(), 0);
    EXPECT_TRUE(log.LogWnd->viewport()->rect().contains(log.LogWnd->cursorRect()));

    log.Refresh1->trigger();
    QTextCursor top = log.LogWnd->textCursor();
    top.setPosition(3);
    log.LogWnd->setTextCursor(top);
    bar->setValue(0);
    for (int i = 0; i < 50; ++i) log.AddEntry("more");
    log.Drain();
    EXPECT_EQ(log.LogWnd->textCursor().position(), 3);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(LogWindowTest, CopyLeavesNothingSelectedAndCloseOnlyHides) {
    TLog log;
    log.SetEntryTitle("#c");
    log.AddEntry("abc");
    log.Copy1Click();
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(U("#c\nabc")));
    EXPECT_FALSE(log.LogWnd->textCursor().hasSelection());

    log.close();
    EXPECT_FALSE(log.isVisible());
    log.AddEntry("again");
    EXPECT_TRUE(log.isVisible());
}

TEST_F(LogWindowTest, MenuItemsAndSwitches) {
    TLog log;
    QStringList captions;
    for (QAction* a : log.PopupMenu->actions()) captions << a->text();
    EXPECT_EQ(captions, (QStringList{U("&Copy"), U("&Clear"), U("&Refresh"), U("&LineMode"),
                                     U("&Debugstring"), U("&Word wrap")}));
    EXPECT_TRUE(log.Refresh1->isChecked());
    EXPECT_FALSE(log.LineModeChecked());
    log.LineMode1->trigger();
    EXPECT_TRUE(log.LineModeChecked());
    log.Wordwrap1->trigger();
    EXPECT_EQ(log.LogWnd->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(log.windowTitle(), U("Log"));
}

}  // namespace
}  // namespace sitowiak::log

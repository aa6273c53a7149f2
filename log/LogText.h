// How an entry's bytes become the lines the log window shows.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>
#include <string_view>

namespace sitowiak::log {

// The logged bytes as text: a zero byte ends them; bytes 0x01 to 0x09 (tab
// included) become "."; the rest is decoded as UTF-8, the program's code
// page, an invalid byte becoming U+FFFD. CR LF, a lone CR and a lone LF
// each end a line; in the result lines are separated by "\n", so text that
// ends with a line end ends with an empty line.
QString BodyText(std::string_view bytes);

// What BodyText(bytes) would give, without building it: its length in
// UTF-16 code units and whether its last line is empty (the text ends with a
// line or paragraph break, or is empty). Known without decoding for valid
// UTF-8 without a leading byte order mark; otherwise nullopt, and the caller
// builds the text.
struct BodyShape {
    qsizetype length;
    bool endsWithBreak;
};
std::optional<BodyShape> ShapeOfBody(std::string_view bytes);

// The same for BodyText(HexDump(bytes)); known when every byte is below 0x80.
std::optional<BodyShape> ShapeOfHexBody(std::string_view bytes);

// The header line's date and time: the locale's short date and its long
// time without a time-zone name.
class HeaderClock {
public:
    explicit HeaderClock(const QLocale& locale);
    QString Format(const QDateTime& when) const;

private:
    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    // Whole seconds are formatted once: entries come in bursts.
    bool m_showsMilliseconds;
    mutable qint64 m_lastSecond = -1;
    mutable QString m_lastText;
};

}  // namespace sitowiak::log

// How an entry's bytes become the lines the log window shows.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <string_view>

namespace sitowiak::log {

// The logged bytes as text: a zero byte ends them; bytes 0x01 to 0x09 (tab
// included) become "."; the rest is decoded as UTF-8, the program's code
// page, an invalid byte becoming U+FFFD. CR LF, a lone CR and a lone LF
// each end a line; in the result lines are separated by "\n", so text that
// ends with a line end ends with an empty line.
QString BodyText(std::string_view bytes);

// What the text control will hold for a body, told from its bytes without
// preparing the text: its size, counted as the bytes of the text in UTF-8
// with each line end as one (never fewer than the characters it shows, and
// exactly as many for ASCII), and whether its last line is empty. Of
// BodyText(bytes), or with `hex` of BodyText(HexDump(bytes)).
struct BodyShape {
    qsizetype size;
    bool endsWithBreak;
};
BodyShape ShapeOfBody(std::string_view bytes, bool hex);

// The header line's date and time in Polish, as the rest of the window
// speaks, whatever the desktop's locale: "8 grudnia 2026 14:03:05", the
// month in the genitive as a date is written.
class HeaderClock {
public:
    HeaderClock();
    QString Format(const QDateTime& when) const;
    QString FormatNow() const;

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

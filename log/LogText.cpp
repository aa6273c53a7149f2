#include "LogText.h"

#include <string>

namespace sitowiak::log {
namespace {

// Bytes below 0x0A show as "."; line ends become "\n".
std::string Printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            out += static_cast<unsigned char>(c) <= 0x09 ? '.' : c;
        }
    }
    return out;
}

}  // namespace

QString BodyText(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::string text = Printable(bytes);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

HeaderClock::HeaderClock(const QLocale& locale)
    : m_locale(locale),
      m_dateFormat(locale.dateFormat(QLocale::ShortFormat)),
      m_timeFormat(locale.timeFormat(QLocale::LongFormat)) {
    // Qt's long time carries a time-zone name ("t"); the header has none.
    m_timeFormat.remove(QLatin1Char('t'));
    m_timeFormat = m_timeFormat.trimmed();
}

QString HeaderClock::Format(const QDateTime& when) const {
    return m_locale.toString(when.date(), m_dateFormat) + QLatin1Char(' ') +
           m_locale.toString(when.time(), m_timeFormat);
}

}  // namespace sitowiak::log

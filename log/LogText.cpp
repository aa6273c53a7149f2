#include "LogText.h"

#include <QByteArrayView>

#include <cstdint>
#include <cstring>
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

// How many bytes of `word` have their high bit set.
size_t HighBits(uint64_t word) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    return static_cast<size_t>((((word >> 7) & kOnes) * kOnes) >> 56);
}

bool EndsWithBreak(std::string_view bytes) {
    if (bytes.empty()) return true;
    char last = bytes.back();
    if (last == '\r' || last == '\n') return true;
    // U+2029 and the two frame marks U+FDD0 and U+FDD1 break the line in
    // the text control too.
    return bytes.ends_with("\xE2\x80\xA9") || bytes.ends_with("\xEF\xB7\x90") ||
           bytes.ends_with("\xEF\xB7\x91");
}

}  // namespace

// Valid UTF-8 decodes to one UTF-16 unit per byte that is not a
// continuation byte (10xxxxxx), plus one more for each lead of four bytes
// (11110xxx, beyond U+FFFF); a CR LF pair becomes one line break.
std::optional<BodyShape> ShapeOfBody(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    // A leading byte order mark is dropped by the decoder.
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::nullopt;
    if (!QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())).isValidUtf8())
        return std::nullopt;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    const size_t size = bytes.size();
    size_t continuations = 0, fourByteLeads = 0, i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        if ((word & kHigh) == 0) continue;
        continuations += HighBits(word & ~(word << 1));
        fourByteLeads += HighBits(word & (word << 1) & (word << 2) & (word << 3));
    }
    for (; i < size; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        continuations += (c & 0xC0) == 0x80;
        fourByteLeads += c >= 0xF0;
    }
    size_t pairs = 0;
    for (size_t cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r', cr + 1))
        pairs += cr + 1 < size && bytes[cr + 1] == '\n';
    return BodyShape{static_cast<qsizetype>(size - continuations + fourByteLeads - pairs),
                     EndsWithBreak(bytes)};
}

std::optional<BodyShape> ShapeOfHexBody(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    // A full line "0000 " + 48 + 16 characters and its break; a last line of
    // n bytes 54 + n with its break.
    qsizetype full = static_cast<qsizetype>(bytes.size() / 16);
    qsizetype rest = static_cast<qsizetype>(bytes.size() % 16);
    return BodyShape{full * 70 + (rest > 0 ? 54 + rest : 0), true};
}

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
    m_showsMilliseconds = m_timeFormat.contains(QLatin1Char('z'));
}

QString HeaderClock::Format(const QDateTime& when) const {
    qint64 second = when.toSecsSinceEpoch();
    if (second == m_lastSecond && !m_showsMilliseconds) return m_lastText;
    m_lastSecond = second;
    m_lastText = m_locale.toString(when.date(), m_dateFormat) + QLatin1Char(' ') +
                 m_locale.toString(when.time(), m_timeFormat);
    return m_lastText;
}

}  // namespace sitowiak::log

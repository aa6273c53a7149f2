#include "LogText.h"

#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Sixteen bytes at a time where the processor allows: a line of text has
// one CR LF in about eighty bytes.
size_t CrLfPairs(std::string_view bytes) {
    size_t pairs = 0, i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; i + 17 <= bytes.size(); i += 16) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i + 1));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf))));
        for (; mask != 0; mask &= mask - 1) ++pairs;
    }
#endif
    for (; i + 1 < bytes.size(); ++i) pairs += bytes[i] == '\r' && bytes[i + 1] == '\n';
    return pairs;
}

bool EndsWithBreak(std::string_view bytes) {
    // A byte order mark alone decodes to nothing.
    if (bytes.empty() || bytes == "\xEF\xBB\xBF") return true;
    char last = bytes.back();
    if (last == '\r' || last == '\n') return true;
    // U+2029 and the two frame marks U+FDD0 and U+FDD1 break the line in
    // the text control too.
    return bytes.ends_with("\xE2\x80\xA9") || bytes.ends_with("\xEF\xB7\x90") ||
           bytes.ends_with("\xEF\xB7\x91");
}

}  // namespace

BodyShape ShapeOfBody(std::string_view bytes, bool hex) {
    // A full line of the dump: offset, 16 bytes in hex, 16 as characters
    // and the break; a last line of n bytes 54 + n.
    if (hex)
        return {static_cast<qsizetype>(bytes.size() / 16 * 70 +
                                       (bytes.size() % 16 > 0 ? 54 + bytes.size() % 16 : 0)),
                true};
    bytes = bytes.substr(0, bytes.find('\0'));
    return {static_cast<qsizetype>(bytes.size() - CrLfPairs(bytes)), EndsWithBreak(bytes)};
}

QString BodyText(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::string text = Printable(bytes);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

HeaderClock::HeaderClock()
    : m_locale(QLocale::Polish, QLocale::Poland),
      m_dateFormat(QStringLiteral("d MMMM yyyy")),
      m_timeFormat(QStringLiteral("HH:mm:ss")),
      m_showsMilliseconds(false) {}

// The clock is read without a time zone; only a new second is converted.
QString HeaderClock::FormatNow() const {
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now / 1000 == m_lastSecond && !m_showsMilliseconds) return m_lastText;
    return Format(QDateTime::fromMSecsSinceEpoch(now));
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

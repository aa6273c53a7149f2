// The three-letter language abbreviation Windows gives a locale (PLK, ENU,
// DEU): two letters of the ISO 639 code and one for the country variant. The
// help files carry it in their names.
#pragma once

#include <QLocale>

#include <string>

namespace sitowiak::frame {

// Known locales map to the Windows abbreviation; a language alone to its
// main country's one; any other locale to its two language letters plus the
// first letter of its country code, upper case. The "C" locale counts as
// US English.
std::string LanguageAbbreviation(const QLocale& locale);

}  // namespace sitowiak::frame

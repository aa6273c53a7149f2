#include "LanguageAbbreviation.h"

#include <string_view>

namespace sitowiak::frame {
namespace {

struct Abbreviation {
    std::string_view locale;  // "ll_CC", or "ll" for the language's main variant
    std::string_view abbreviation;
};

// Windows' own abbreviations; the country letter is not always the country
// code's first letter (en_GB is ENG, es_ES is ESN, cs_CZ is CSY).
constexpr Abbreviation kAbbreviations[] = {
    {"pl_PL", "PLK"}, {"pl", "PLK"},    {"en_US", "ENU"}, {"en_GB", "ENG"}, {"en_AU", "ENA"},
    {"en_CA", "ENC"}, {"en_NZ", "ENZ"}, {"en_IE", "ENI"}, {"en_ZA", "ENS"}, {"en", "ENU"},
    {"de_DE", "DEU"}, {"de_CH", "DES"}, {"de_AT", "DEA"}, {"de_LU", "DEL"}, {"de", "DEU"},
    {"fr_FR", "FRA"}, {"fr_BE", "FRB"}, {"fr_CA", "FRC"}, {"fr_CH", "FRS"}, {"fr", "FRA"},
    {"es_ES", "ESN"}, {"es_MX", "ESM"}, {"es", "ESN"},    {"it_IT", "ITA"}, {"it_CH", "ITS"},
    {"it", "ITA"},    {"nl_NL", "NLD"}, {"nl_BE", "NLB"}, {"nl", "NLD"},    {"pt_BR", "PTB"},
    {"pt_PT", "PTG"}, {"pt", "PTB"},    {"cs", "CSY"},    {"sk", "SKY"},    {"hu", "HUN"},
    {"ru", "RUS"},    {"uk", "UKR"},    {"be", "BEL"},    {"sv_FI", "SVF"}, {"sv", "SVE"},
    {"nb", "NOR"},    {"nn", "NON"},    {"da", "DAN"},    {"fi", "FIN"},    {"is", "ISL"},
    {"ja", "JPN"},    {"ko", "KOR"},    {"zh_TW", "CHT"}, {"zh", "CHS"},    {"tr", "TRK"},
    {"el", "ELL"},    {"lt", "LTH"},    {"lv", "LVI"},    {"et", "ETI"},    {"sl", "SLV"},
    {"hr", "HRV"},    {"ro", "ROM"},    {"bg", "BGR"},    {"he", "HEB"},    {"ar", "ARA"},
};

std::string_view Find(std::string_view locale) {
    for (const Abbreviation& a : kAbbreviations)
        if (a.locale == locale) return a.abbreviation;
    return {};
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

std::string LanguageAbbreviation(const QLocale& locale) {
    // name() is "ll_CC" (or "C"), in ASCII.
    std::string name = locale.name().toStdString();
    if (locale.language() == QLocale::C || name.size() < 2) return "ENU";
    std::string language = name.substr(0, name.find('_'));
    if (std::string_view known = Find(name); !known.empty()) return std::string(known);
    if (std::string_view known = Find(language); !known.empty()) return std::string(known);
    size_t underscore = name.find('_');
    char country = underscore != std::string::npos && underscore + 1 < name.size()
                       ? name[underscore + 1]
                       : name[0];
    return Upper(language.substr(0, 2) + country);
}

}  // namespace sitowiak::frame

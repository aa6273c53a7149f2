// The Help menu's ways to reach the maker: telephone, mail, web page, and the
// product's own page. Everything goes through ShellOpen.
#pragma once

#include <string>
#include <string_view>

namespace sitowiak::frame {

inline constexpr char kMailFailure[] = "Błąd podczas uruchamiania poczty.";
inline constexpr char kBrowserFailure[] = "Błąd podczas uruchamiania przeglądarki.";
inline constexpr char kTelephoneFailure[] = "Błąd podczas uruchamiania telefonu.";

// "Zapytanie o <productName>" with every space written as "%20" and nothing
// else escaped.
std::string MailSubject(std::string_view productName);
// The maker's mail address with that subject.
std::string MailTarget(std::string_view productName);
// The maker's telephone number as a "tel:" URL.
std::string TelephoneTarget();

// Opens `target`; when that fails, shows `sentence` and the hint that a
// program may be missing in a box captioned "<productName> - Błąd" with an
// OK button and no icon. Returns whether it opened.
bool OpenOrReport(const std::string& target, std::string_view sentence,
                  std::string_view productName);

}  // namespace sitowiak::frame

// The maker's contact details, compiled into the program (the version block
// carries only the product's own identity). The maker is fictional and its
// addresses use the reserved ".example" domain.
#pragma once

namespace sitowiak::frame {

inline constexpr char MakerName[] = "Pląskun";
inline constexpr char MakerPhone[] = "+48-22-000-00-00";
inline constexpr char MakerMailUrl[] = "mailto:kontakt@plaskun.example";
inline constexpr char MakerHomeUrl[] = "https://www.plaskun.example/";

}  // namespace sitowiak::frame

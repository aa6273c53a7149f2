#include "ContactActions.h"

#include "frame/windows/MakerInfo.h"
#include "frame/windows/ShellOpen.h"
#include "platform/gui/MessageBox.h"

namespace sitowiak::frame {

std::string MailSubject(std::string_view productName) {
    std::string subject = "Zapytanie o ";
    subject += productName;
    std::string escaped;
    for (char c : subject) {
        if (c == ' ')
            escaped += "%20";
        else
            escaped += c;
    }
    return escaped;
}

std::string MailTarget(std::string_view productName) {
    return std::string(MakerMailUrl) + "?subject=" + MailSubject(productName);
}

std::string TelephoneTarget() {
    return std::string("tel:") + MakerPhone;
}

bool OpenOrReport(const std::string& target, std::string_view sentence,
                  std::string_view productName) {
    std::string text = std::string(sentence) + " Możliwe, że brak odpowiedniego programu.";
    std::string caption = std::string(productName) + " - Błąd";
    auto report = [text, caption] { platform::MessageBox(text, caption, platform::MB_OK); };
    if (ShellOpen(target, report)) return true;
    report();
    return false;
}

}  // namespace sitowiak::frame

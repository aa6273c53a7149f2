#include "AboutBox.h"

#include <QApplication>

#include "platform/gui/MessageBox.h"

namespace sitowiak::frame {
namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

std::string AboutTitle(const platform::ProductIdentity& identity) {
    return "O programie " + identity.ProductName + "...";
}

std::string AboutText(const platform::ProductIdentity& identity) {
    return identity.ProductName + " wersja " +
           platform::FormatProductVersion(identity.ProductVersion) + "\n" + identity.LegalCopyright;
}

std::unique_ptr<QMessageBox> CreateAboutBox(QWidget* owner,
                                            const platform::ProductIdentity& identity) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(Q(AboutTitle(identity)));
    box->setTextFormat(Qt::PlainText);
    box->setText(Q(AboutText(identity)));
    QIcon icon = owner ? owner->windowIcon() : QApplication::windowIcon();
    box->setIconPixmap(icon.pixmap(48, 48));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void ShowAboutBox(QWidget* owner, const platform::ProductIdentity& identity) {
    if (!platform::HasDisplay()) {
        platform::MessageBox(AboutText(identity), AboutTitle(identity), platform::MB_OK);
        return;
    }
    CreateAboutBox(owner, identity)->exec();
}

}  // namespace sitowiak::frame

#include "ShellOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace sitowiak::frame {
namespace {

ShellOpener& Opener() {
    static ShellOpener opener;
    return opener;
}

// A URL keeps its escapes as written ("%20" stays "%20"); a path becomes a
// file URL with whatever escaping it needs.
QUrl ToUrl(const std::string& target) {
    QString text = QString::fromUtf8(target.data(), static_cast<qsizetype>(target.size()));
    if (target.starts_with('/')) return QUrl::fromLocalFile(text);
    return QUrl(text, QUrl::TolerantMode);
}

}  // namespace

bool ShellOpen(const std::string& target) {
    if (Opener()) return Opener()(target);
    QUrl url = ToUrl(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

void SetShellOpener(ShellOpener opener) {
    Opener() = std::move(opener);
}

}  // namespace sitowiak::frame

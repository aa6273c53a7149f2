#include "ShellOpen.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
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

bool ShellOpen(const std::string& target, std::function<void()> onLaterFailure) {
    if (Opener()) return Opener()(target);
    QUrl url = ToUrl(target);
    if (!url.isValid()) return false;
    // xdg-open is run here rather than through QDesktopServices, which
    // reports only that it started: the exit code tells whether any program
    // took the target (xdg-open exits 3 when none is found, 4 when the
    // program failed).
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return QDesktopServices::openUrl(url);
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, onLaterFailure](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if ((code != 0 || status != QProcess::NormalExit) && onLaterFailure)
                             onLaterFailure();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, onLaterFailure](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         process->deleteLater();
                         if (onLaterFailure) onLaterFailure();
                     });
    process->start();
    return true;
}

void SetShellOpener(ShellOpener opener) {
    Opener() = std::move(opener);
}

}  // namespace sitowiak::frame

#include "ContentCopier.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <cerrno>

#include "package/TBelkaPostepu.h"
#include "platform/core/FileUtil.h"

namespace sitowiak::package {
namespace {

constexpr size_t kBlockSize = 1024;

ssize_t ReadSome(int fd, char* buffer, size_t size) {
    ssize_t n;
    do n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t WriteSome(int fd, const char* buffer, size_t size) {
    ssize_t n;
    do n = ::write(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

std::string ContentCopier::CopyToPart(const std::string& source, int32_t size,
                                      const std::string& target, const std::string& shownName) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || size < 0) {
        if (in >= 0) ::close(in);
        return "";
    }
    std::string part = target + ".part-" + std::to_string(::getpid());
    ::unlink(part.c_str());  // left by an earlier run that had this pid
    // The content file keeps its permissions; a new one gets the usual ones.
    int out = platform::CreateReplacementFor(target, part, platform::kUsualFileMode);
    if (out < 0) {
        ::close(in);
        return "";
    }
    if (m_window) {
        m_window->NazwaPliku->setText(QString::fromStdString(shownName));
        m_window->NazwaPliku->adjustSize();
        m_window->ProgressBar1->setValue(0);
        m_window->show();
    }
    bool copied = CopyBlocks(in, out, size);
    copied = ::fsync(out) == 0 && copied;
    copied = ::close(out) == 0 && copied;
    ::close(in);
    if (m_window) m_window->hide();
    if (!copied) ::unlink(part.c_str());
    return copied ? part : "";
}

bool ContentCopier::CopyBlocks(int in, int out, int32_t size) {
    char buffer[kBlockSize];
    int64_t copied = 0;
    while (copied < size) {
        ssize_t read = ReadSome(in, buffer, sizeof buffer);
        if (read <= 0) break;  // the source ended early or failed
        ssize_t written = WriteSome(out, buffer, static_cast<size_t>(read));
        if (written > 0) copied += written;
        ShowProgress(copied, size);
        if (written != read) break;
    }
    return copied >= size;
}

void ContentCopier::ShowProgress(int64_t copied, int32_t size) {
    if (m_window && size > 0)
        m_window->ProgressBar1->setValue(static_cast<int>(copied * 100 / size));
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace sitowiak::package

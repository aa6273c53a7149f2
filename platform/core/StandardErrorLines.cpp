#include "StandardErrorLines.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace sitowiak::platform {
namespace {

StandardErrorLines* g_lines = nullptr;
LinePriority g_maxPriority = LinePriority::kError;

std::string Framed(LinePriority priority, std::string_view text) {
    std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">";
    line.reserve(line.size() + text.size() + 1);
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    return line;
}

}  // namespace

// Setting O_NONBLOCK on the inherited descriptor would change it for every
// process sharing it (the shell's terminal above all), so pipes, FIFOs and
// terminals get a descriptor of their own, opened again through /proc.
// Journal streams are sockets, which take MSG_DONTWAIT per call; a regular
// file never blocks.
StandardErrorLines::StandardErrorLines(int fd, size_t capacity) : m_fd(fd), m_capacity(capacity) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    if (S_ISSOCK(st.st_mode)) {
        m_socket = true;
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        m_ownFd = ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (m_ownFd < 0) {
            // Without /proc: the same description, made non-blocking.
            int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        }
    }
}

StandardErrorLines::~StandardErrorLines() {
    if (g_lines == this) g_lines = nullptr;
    if (m_ownFd >= 0) ::close(m_ownFd);
}

long StandardErrorLines::WriteSome(const char* data, size_t size) {
    if (m_socket) return ::send(m_fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    // A reader gone away must not end the program with SIGPIPE.
    sigset_t pipeSignal, old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const long n = ::write(m_ownFd >= 0 ? m_ownFd : m_fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !sigismember(&old, SIGPIPE)) {
        timespec none{};
        sigtimedwait(&pipeSignal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

bool StandardErrorLines::Append(std::string_view line) {
    if (Waiting() + line.size() > m_capacity) return false;
    if (m_sent > 0 && m_sent == m_buffer.size()) {
        m_buffer.clear();
        m_sent = 0;
    }
    m_buffer.append(line);
    return true;
}

// The report takes the place of the lines it counts, so it is written only
// when it fits together with nothing else pending.
void StandardErrorLines::ReportDropped() {
    if (m_dropped == 0) return;
    const std::string report = Framed(
        LinePriority::kWarning, "Pominięto wiersze komunikatów (" + std::to_string(m_dropped) +
                                    "): standardowe wyjście błędów nie nadążało.");
    if (Append(report)) m_dropped = 0;
}

void StandardErrorLines::Add(LinePriority priority, std::string_view text) {
    if (m_closed) return;
    Flush();
    if (m_dropped > 0) {
        ++m_dropped;
        if (OnWaiting) OnWaiting();
        return;
    }
    if (!Append(Framed(priority, text))) ++m_dropped;
    if (!Flush() && OnWaiting) OnWaiting();
}

bool StandardErrorLines::Flush() {
    while (m_sent < m_buffer.size()) {
        long n = WriteSome(m_buffer.data() + m_sent, m_buffer.size() - m_sent);
        if (n > 0) {
            m_sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // Nobody will ever read them (the reader is gone, or there is no
        // standard error): from now on lines are thrown away at once.
        if (n < 0 && (errno == EPIPE || errno == EBADF)) {
            m_closed = true;
            m_buffer.clear();
            m_sent = 0;
            m_dropped = 0;
            return true;
        }
        // Full: try again later; what does not fit meanwhile is counted.
        break;
    }
    if (m_sent == m_buffer.size()) {
        m_buffer.clear();
        m_sent = 0;
        if (m_dropped > 0) {
            ReportDropped();
            return Flush();
        }
        return true;
    }
    // Keep the buffer from growing by what has already gone out.
    if (m_sent > m_capacity) {
        m_buffer.erase(0, m_sent);
        m_sent = 0;
    }
    return false;
}

void StandardErrorLines::Drain(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Flush()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd p{m_ownFd >= 0 ? m_ownFd : m_fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    }
}

void SetStandardErrorLines(StandardErrorLines* lines, LinePriority maxPriority) {
    g_lines = lines;
    g_maxPriority = maxPriority;
}

bool HasStandardErrorLines() {
    return g_lines != nullptr;
}

bool WantsLine(LinePriority priority) {
    return static_cast<int>(priority) <=
           static_cast<int>(g_lines ? g_maxPriority : LinePriority::kError);
}

void WriteLine(LinePriority priority, std::string_view text, bool always) {
    if (!always && !WantsLine(priority)) return;
    if (g_lines) {
        g_lines->Add(priority, text);
        return;
    }
    const std::string line = Framed(priority, text);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace sitowiak::platform

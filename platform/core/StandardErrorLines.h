// One line per event on standard error, as a service manager's journal
// reads them: "<3>", "<4>" or "<6>" (error, warning, information, the
// syslog priorities) before the text. The event loop must never wait for
// whoever reads standard error, so lines wait in a bounded buffer and go out
// with writes that do not block; a line that does not fit is counted, and
// the count is reported once, as soon as there is room again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sitowiak::platform {

enum class LinePriority : int { kError = 3, kWarning = 4, kInfo = 6 };

class StandardErrorLines {
public:
    // Writes to `fd` (not taken over); `capacity` bytes may wait.
    explicit StandardErrorLines(int fd, size_t capacity = 64 * 1024);
    ~StandardErrorLines();
    StandardErrorLines(const StandardErrorLines&) = delete;
    StandardErrorLines& operator=(const StandardErrorLines&) = delete;

    // Queues one line (line breaks inside become spaces) and writes what the
    // descriptor takes now.
    void Add(LinePriority priority, std::string_view text);
    // Writes what the descriptor takes without waiting; true when nothing
    // is left.
    bool Flush();
    // At exit: waits at most `limit` for the rest to go out.
    void Drain(std::chrono::milliseconds limit);

    size_t Waiting() const { return m_buffer.size() - m_sent; }
    // Called when a line is left waiting, so that the owner's event loop
    // calls Flush until nothing is.
    std::function<void()> OnWaiting;
    // Lines dropped since the last report of dropped lines.
    uint64_t Dropped() const { return m_dropped; }

private:
    bool Append(std::string_view line);
    void ReportDropped();
    long WriteSome(const char* data, size_t size);

    int m_fd;
    int m_ownFd = -1;       // a non-blocking descriptor of our own for pipes and terminals
    bool m_socket = false;  // sent with MSG_DONTWAIT instead
    size_t m_capacity;
    std::string m_buffer;
    size_t m_sent = 0;  // bytes of m_buffer already written
    uint64_t m_dropped = 0;
    bool m_closed = false;  // nobody reads any more
};

// The program's lines: while `lines` is set, lines up to `maxPriority`
// (numerically; kInfo lets all through) go there. Without one, errors are
// written to standard error directly.
void SetStandardErrorLines(StandardErrorLines* lines, LinePriority maxPriority);
// `always`: past the limit too (what a message box would have shown).
void WriteLine(LinePriority priority, std::string_view text, bool always = false);
// Whether the program's lines are set (the proxy runs), not a mode of the
// command line.
bool HasStandardErrorLines();
// Whether a line of `priority` would be written (to skip composing it).
bool WantsLine(LinePriority priority);

}  // namespace sitowiak::platform

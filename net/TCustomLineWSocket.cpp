#include "net/TCustomLineWSocket.h"

#include <algorithm>
#include <cstring>

namespace sitowiak::net {

namespace {

// Bytes to read when the socket cannot say how many wait.
constexpr int kDefaultReadSize = 255;
constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr int kTabWidth = 8;
// What a backspace echoes: back, blank over the character, back again.
constexpr char kEchoBackspace[] = {kBackspace, ' ', kBackspace};

}  // namespace

TCustomLineWSocket::TCustomLineWSocket(TCustomWSocket* AOwner) : TCustomTlsWSocket(AOwner) {}

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (Value == m_lineMode) return;
    m_lineMode = Value;
    // A partly taken line stays at the front of the buffer; under the new
    // mode it is served as buffered bytes or found again as a line.
    const bool pending = m_rcvdCnt > 0 || m_lineLength > 0;
    m_lineLength = 0;
    if (pending) PostMessage(WM_TRIGGER_DATA_AVAILABLE);
}

void TCustomLineWSocket::HandleMessage(const platform::ChannelMessage& Msg) {
    if (Msg.Msg == WM_TRIGGER_DATA_AVAILABLE)
        CallGuarded([this] { Redeliver(); });
    else
        TCustomTlsWSocket::HandleMessage(Msg);
}

// Delivers buffered bytes under the current mode; ends when a pass takes
// nothing (no handler, no complete line and no new data). While paused it
// waits for Resume, which asks again.
void TCustomLineWSocket::Redeliver() {
    if (Paused()) return;
    m_redelivering = true;
    try {
        while (m_rcvdCnt > 0) {
            const int before = m_rcvdCnt;
            if (!TriggerDataAvailable(0) || m_rcvdCnt >= before) break;
        }
    } catch (...) {
        m_redelivering = false;
        throw;
    }
    m_redelivering = false;
}

// Buffered lines need no readiness of the socket to be delivered.
void TCustomLineWSocket::Resume() {
    TCustomTlsWSocket::Resume();
    if (m_rcvdCnt > 0) PostMessage(WM_TRIGGER_DATA_AVAILABLE);
}

int TCustomLineWSocket::GetRcvdCount() {
    return m_lineMode ? m_lineLength : TCustomTlsWSocket::GetRcvdCount();
}

int TCustomLineWSocket::TakeFront(void* Buffer, int Count) {
    std::memcpy(Buffer, Buffered(), static_cast<std::size_t>(Count));
    m_head += Count;
    m_rcvdCnt -= Count;
    if (m_rcvdCnt == 0) m_head = 0;
    return Count;
}

int TCustomLineWSocket::RawRead(void* Buffer, int BufferSize, int Flags) {
    if (BufferSize > 0 && m_lineMode && m_lineLength > 0) {
        const int count = TakeFront(Buffer, std::min(BufferSize, m_lineLength));
        m_lineLength -= count;
        return count;
    }
    if (BufferSize > 0 && !m_lineMode && m_rcvdCnt > 0) {
        KeptBytesRead();
        return TakeFront(Buffer, std::min(BufferSize, m_rcvdCnt));
    }
    return TCustomTlsWSocket::RawRead(Buffer, BufferSize, Flags);
}

// Moves the buffered bytes to the start and makes room for Extra more
// bytes and the zero byte.
void TCustomLineWSocket::MakeRoom(int Extra) {
    if (m_head > 0) {
        std::memmove(m_buffer.data(), Buffered(), static_cast<std::size_t>(m_rcvdCnt));
        m_head = 0;
    }
    const auto needed = static_cast<std::size_t>(m_rcvdCnt + Extra + 1);
    if (m_buffer.size() < needed) m_buffer.resize(std::max(needed, m_buffer.size() * 2));
}

// Reads what waits on the network after the buffered bytes; returns the
// count (0 or less when nothing came).
int TCustomLineWSocket::ReadNew() {
    int count = TCustomTlsWSocket::GetRcvdCount();
    if (count < 0) return 0;
    if (count == 0) count = kDefaultReadSize;
    MakeRoom(count);
    const int n = Receive(m_buffer.data() + m_rcvdCnt, count);
    if (n > 0) m_buffer[static_cast<std::size_t>(m_rcvdCnt + n)] = 0;
    return n;
}

bool TCustomLineWSocket::TriggerDataAvailable(int Error) {
    if (!m_lineMode || m_lineEnd.empty() || SocksNegotiating() || TlsHandshaking())
        return TCustomTlsWSocket::TriggerDataAvailable(Error);
    // Lines left by a pass that stopped go first; nothing new is read
    // while they wait (a line being delivered is what a read returns).
    if (m_linesWaiting && !DeliverLines(0)) return true;
    // A handler of those lines may have switched line mode off; the
    // buffered bytes then go out as they are, ahead of the new ones.
    if (!m_lineMode) return TCustomTlsWSocket::TriggerDataAvailable(Error);
    int n = ReadNew();
    if (n <= 0 && !m_redelivering) return true;
    if (n > 0) {
        if (m_lineEdit)
            EditLine(n);
        else if (m_lineEcho)
            Send(Buffered() + m_rcvdCnt, n);
    }
    // A marker split across reads is found: search from one marker length
    // before the new bytes.
    int searchFrom = m_redelivering ? 0 : m_rcvdCnt - static_cast<int>(m_lineEnd.size());
    m_rcvdCnt += std::max(n, 0);
    // The limit concerns the unfinished line, so only once every complete
    // line has gone.
    if (DeliverLines(std::max(searchFrom, 0))) CheckLineLimit();
    return true;
}

// Position of the first LineEnd that starts at or after From and ends
// within the buffered bytes, or -1.
int TCustomLineWSocket::FindLineEnd(int From) {
    const char* begin = Buffered();
    const char* end = begin + m_rcvdCnt;
    const char* hit = std::search(begin + From, end, m_lineEnd.begin(), m_lineEnd.end());
    return hit == end ? -1 : static_cast<int>(hit - begin);
}

// Delivers every complete line, the one being delivered first. Returns
// false when it stopped with lines left: the socket was paused or a line
// was not taken (m_linesWaiting; the next pass starts with them).
bool TCustomLineWSocket::DeliverLines(int SearchFrom) {
    m_linesWaiting = false;
    while (m_lineMode) {
        if (m_lineLength == 0) {
            const int pos = FindLineEnd(SearchFrom);
            if (pos < 0) break;
            m_lineLength = pos + static_cast<int>(m_lineEnd.size());
            m_lineReceived = true;
        }
        if (Held() || !DeliverLine()) {
            m_linesWaiting = true;
            return false;
        }
        SearchFrom = 0;
    }
    return true;
}

// Offers the line until the handler has taken all of it; without a handler
// the line is dropped. Returns false when the line stays: the handler
// paused the socket or took nothing in a pass (offering it again at once
// would only spin).
bool TCustomLineWSocket::DeliverLine() {
    while (m_lineMode && m_lineLength > 0) {
        const int before = m_lineLength;
        if (!TCustomTlsWSocket::TriggerDataAvailable(0)) {
            m_head += m_lineLength;
            m_rcvdCnt -= m_lineLength;
            m_lineLength = 0;
        } else if (m_lineLength == before || Held()) {
            break;
        }
    }
    if (m_rcvdCnt == 0) m_head = 0;
    return m_lineLength == 0;
}

void TCustomLineWSocket::CheckLineLimit() {
    if (m_lineLimit <= 0 || m_rcvdCnt <= m_lineLimit) return;
    m_lineClearData = true;
    try {
        TriggerLineLimitExceeded(m_rcvdCnt, m_lineClearData);
    } catch (...) {
        m_lineClearData = false;
        throw;
    }
    if (m_lineClearData) {
        m_head = m_rcvdCnt = m_lineLength = 0;
        m_lineClearData = false;
    }
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
    if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineWSocket::TriggerSessionClosed(int Error) {
    m_lineReceived = true;
    if (!m_buffer.empty()) {
        if (m_lineMode && m_rcvdCnt > 0 && !m_lineClearData) DeliverLastLine();
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_head = m_rcvdCnt = m_lineLength = 0;
        m_linesWaiting = false;
    }
    TCustomTlsWSocket::TriggerSessionClosed(Error);
}

// Before the close is reported: the complete lines that still wait (also
// while paused), then the unfinished line without end marker.
void TCustomLineWSocket::DeliverLastLine() {
    m_closing = true;
    try {
        if (DeliverLines(0)) {
            m_lineLength = m_rcvdCnt;
            while (m_lineMode && m_lineLength > 0) {
                const int before = m_lineLength;
                if (!TCustomTlsWSocket::TriggerDataAvailable(0) || m_lineLength == before) break;
            }
        }
    } catch (...) {
        m_closing = false;
        throw;
    }
    m_closing = false;
}

// Edits the Len new bytes after the buffered ones. Backspace erases the
// byte before it (also one received earlier in the same unfinished line);
// tab becomes spaces up to the next multiple of 8. Afterwards the buffered
// count is the lowest position changed and Len the rest, so the changed
// part is searched again.
void TCustomLineWSocket::EditLine(int& Len) {
    std::string text(Buffered(), static_cast<std::size_t>(m_rcvdCnt));
    const char* fresh = Buffered() + m_rcvdCnt;
    std::size_t lowest = text.size();
    std::string echo;
    for (int i = 0; i < Len; ++i) {
        const char c = fresh[i];
        if (c == kBackspace) {
            if (text.empty()) continue;
            echo.append(kEchoBackspace, sizeof kEchoBackspace);
            text.pop_back();
            lowest = std::min(lowest, text.size());
        } else if (c == kTab) {
            do {
                text.push_back(' ');
                echo.push_back(' ');
            } while (text.size() % kTabWidth != 0);
        } else {
            text.push_back(c);
            echo.push_back(c);
        }
    }
    if (m_lineEcho && !echo.empty()) Send(echo.data(), static_cast<int>(echo.size()));
    m_rcvdCnt = 0;
    MakeRoom(static_cast<int>(text.size()));
    std::memcpy(m_buffer.data(), text.data(), text.size());
    m_buffer[text.size()] = 0;
    m_rcvdCnt = static_cast<int>(lowest);
    Len = static_cast<int>(text.size() - lowest);
}

}  // namespace sitowiak::net

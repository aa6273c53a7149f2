// Line mode: with LineMode on, received bytes are collected and
// OnDataAvailable is raised once per complete line; Receive and ReceiveStr
// inside it return exactly that line, LineEnd included. Optionally edits
// what a remote keyboard user types (LineEdit: backspace, tab) and echoes
// it (LineEcho), and reports unfinished lines longer than LineLimit.
//
// The line buffer holds the buffered bytes from m_head on:
//   0        m_head            m_head + m_rcvdCnt       capacity
//   | taken  | buffered bytes  | 0 | free               |
// A line being delivered is the first m_lineLength buffered bytes; reads
// take it from the front. Appending new bytes first moves the buffered
// bytes to the start.
#pragma once

#include <string>
#include <vector>

#include "net/TCustomTlsWSocket.h"

namespace sitowiak::net {

class TCustomLineWSocket : public TCustomTlsWSocket {
public:
    // Default LineLimit: buffered bytes without a line end before
    // OnLineLimitExceeded.
    static constexpr int kDefaultLineLimit = 65536;

    explicit TCustomLineWSocket(TCustomWSocket* AOwner = nullptr);

    bool LineMode() const { return m_lineMode; }
    virtual void SetLineMode(bool Value);
    const std::string& LineEnd() const { return m_lineEnd; }
    void SetLineEnd(const std::string& Value) { m_lineEnd = Value; }
    int LineLimit() const { return m_lineLimit; }
    void SetLineLimit(int Value) { m_lineLimit = Value; }
    bool LineEcho() const { return m_lineEcho; }
    void SetLineEcho(bool Value) { m_lineEcho = Value; }
    bool LineEdit() const { return m_lineEdit; }
    void SetLineEdit(bool Value) { m_lineEdit = Value; }

    // Also delivers the complete lines that waited while paused.
    void Resume() override;

    TLineLimitEvent OnLineLimitExceeded;

protected:
    void HandleMessage(const platform::ChannelMessage& Msg) override;
    int GetRcvdCount() override;
    int RawRead(void* Buffer, int BufferSize, int Flags) override;
    bool TriggerDataAvailable(int Error) override;
    void TriggerSessionClosed(int Error) override;
    virtual void TriggerLineLimitExceeded(int Cnt, bool& ClearData);
    virtual void EditLine(int& Len);

private:
    char* Buffered() { return m_buffer.data() + m_head; }
    // Lines are held back while paused, except at the end of the session.
    bool Held() const { return Paused() && !m_closing; }
    void MakeRoom(int Extra);
    int ReadNew();
    int FindLineEnd(int From);
    bool DeliverLines(int SearchFrom);
    bool DeliverLine();
    int TakeFront(void* Buffer, int Count);
    void CheckLineLimit();
    void DeliverLastLine();
    void Redeliver();

    std::vector<char> m_buffer;
    int m_head = 0;
    int m_rcvdCnt = 0;
    std::string m_lineEnd = "\r\n";
    bool m_lineMode = false;
    int m_lineLength = 0;
    int m_lineLimit = kDefaultLineLimit;
    bool m_lineReceived = false;
    bool m_lineClearData = false;
    bool m_lineEcho = false;
    bool m_lineEdit = false;
    bool m_redelivering = false;
    bool m_linesWaiting = false;
    bool m_closing = false;
};

}  // namespace sitowiak::net

// TCustomWSocket: a non-blocking TCP/UDP socket that never blocks its caller
// and reports everything through events, on the GUI thread.
//
// Readiness, lookup replies and the socket's own delayed requests arrive as
// messages on the socket's notification channel and run through HandleMessage,
// inside one exception guard: an exception that escapes (from the socket or
// from an event handler) goes to HandleBgException, which by default aborts
// the socket. Data goes out through a send queue of 1514-byte blocks, so
// Send never refuses data for lack of room.
//
// Never destroy a socket inside one of its own event handlers: use Release
// (destroy after the handler has returned) or CloseDelayed.
//
// The implementation is split by topic: TCustomWSocket.cpp (creation,
// messages, events, errors), TCustomWSocketConnect.cpp (Connect, Listen,
// Accept, Dup, close), TCustomWSocketIo.cpp (send and receive),
// TCustomWSocketProps.cpp (settings), TCustomWSocketDns.cpp (name lookups).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "net/AsyncSelect.h"
#include "net/SendQueue.h"
#include "net/WSocketBinding.h"
#include "net/WSocketTypes.h"
#include "platform/events/SocketChannel.h"

namespace sitowiak::net {

class AsyncLookup;

class TCustomWSocket {
public:
    // The owner is a back reference for the program (the relay finds itself
    // from its upstream socket); it does not destroy this object.
    explicit TCustomWSocket(TCustomWSocket* AOwner = nullptr);
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // Connections.
    virtual void Connect();
    virtual void Listen();
    virtual TSocket Accept();
    virtual void Dup(TSocket NewHandle);
    virtual void Close();
    virtual void CloseDelayed();
    virtual void Release();
    virtual void Abort();
    virtual void Shutdown(int How);
    virtual void Flush();
    virtual void WaitForClose();
    virtual void Pause();
    virtual void Resume();
    virtual void ProcessPendingEvents();

    // Data. Send queues everything and returns Len (-1 when not connected).
    virtual int Send(const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    virtual int SendTo(const sockaddr_storage& Dest, const void* Data, int Len);
    int SendTo(const sockaddr_in& Dest, const void* Data, int Len);
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_storage& From);
    // An IPv6 sender's address does not fit: its family and port are given.
    int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From);

    // Name lookups, ending in OnDnsLookupDone.
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void CancelDnsLookup();

    // Addresses. Texts are dotted IPv4 for IPv4 and IPv4-mapped peers (a
    // dual-stack listener's IPv4 readers), IPv6 text otherwise.
    virtual std::string PeerAddr();
    virtual std::string PeerPort();
    virtual int GetPeerName(sockaddr_storage& Name);
    virtual int GetSockName(sockaddr_storage& Name);
    // The same as sockaddr_in: IPv4 and IPv4-mapped addresses in full; of an
    // IPv6 address only its family and port.
    int GetPeerName(sockaddr_in& Name);
    int GetSockName(sockaddr_in& Name);
    virtual std::string SockLocalAddr();  // local address, "error" unless bound
    virtual std::string SockLocalPort();  // local port, "error" unless bound

    // Posts a message to this socket's own channel (handled later).
    void PostMessage(std::uint32_t Msg, std::uintptr_t WParam = 0, std::intptr_t LParam = 0);
    // The same, handled no sooner than DelayMs milliseconds from now.
    void PostMessageDelayed(int DelayMs, std::uint32_t Msg, std::uintptr_t WParam = 0,
                            std::intptr_t LParam = 0);

    // Settings.
    // Addr: an IPv4 or IPv6 address (in square brackets or not) or a host
    // name; Connect tries every address of a name in the resolver's order
    // until one connects. Listen on "::" takes IPv6 and IPv4 alike, and
    // falls back to IPv4 only (0.0.0.0) on a machine without IPv6.
    const std::string& Addr() const { return m_addr; }
    void SetAddr(const std::string& Value);
    // Addr and the addresses Connect tries in turn after it, when the
    // connection to the one before fails (a name's DnsResultList).
    void SetAddrList(const std::vector<std::string>& Value);
    const std::string& Port() const { return m_port; }
    virtual void SetPort(const std::string& Value);
    const std::string& Proto() const { return m_proto; }
    virtual void SetProto(const std::string& Value);
    const std::string& LocalAddr() const { return m_localAddr; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return m_localPort; }
    void SetLocalPort(const std::string& Value);
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { m_lingerOnOff = Value; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void SetLingerTimeout(int Value) { m_lingerTimeout = Value; }
    // TCP options of the open connection (no effect without one): sending
    // without Nagle's delay, and holding partial segments while corked.
    void SetNoDelay(bool On);
    void SetCork(bool On);
    bool MultiThreaded() const { return m_multiThreaded; }
    void SetMultiThreaded(bool Value) { m_multiThreaded = Value; }
    TWSocketOptions ComponentOptions() const { return m_componentOptions; }
    void SetComponentOptions(TWSocketOptions Value) { m_componentOptions = Value; }
    int FlushTimeout() const { return m_flushTimeout; }
    void SetFlushTimeout(int Value) { m_flushTimeout = Value; }
    const std::string& Name() const { return m_name; }
    void SetName(const std::string& Value) { m_name = Value; }

    // State.
    TSocketState State() const { return m_state; }
    TSocket Handle() const { return m_hSocket; }
    int ReadCount() const { return m_readCount; }
    // Bytes the network took from and gave to this socket since it was made.
    std::int64_t BytesTaken() const { return m_bytesTaken; }
    std::int64_t BytesWritten() const { return m_bytesWritten; }
    int RcvdCount() { return GetRcvdCount(); }
    // Bytes the kernel holds for reading; -1 when that cannot be told.
    // Unlike RcvdCount it never throws.
    int WaitingByteCount() const;
    int LastError() const { return m_lastError; }
    const std::string& DnsResult() const { return m_dnsResult; }
    const std::vector<std::string>& DnsResultList() const { return m_dnsResultList; }
    bool AllSent() const { return m_allSent; }
    bool Paused() const { return m_paused; }
    std::int64_t BufferedByteCount() const { return m_sendQueue.PendingBytes(); }
    TCustomWSocket* Owner() const { return m_owner; }

    // Events: an empty one is not raised.
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionClosed OnSessionClosed;
    TChangeState OnChangeState;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TNotifyEvent OnLineTooLong;  // never raised
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

protected:
    // The message handler. Subclasses that add message numbers wrap their
    // own handling in the same guard (CallGuarded) and pass the rest here.
    virtual void HandleMessage(const platform::ChannelMessage& Msg);
    void CallGuarded(const std::function<void()>& Handler);
    virtual void ResetDefaults();
    virtual void DoClose(bool Shut, int Error);
    virtual void BindLocal();
    virtual int RawWrite(const void* Data, int Len);
    // Several runs in one write (stream sockets); datagrams go one by one.
    virtual int RawWriteV(const iovec* Runs, int Count);
    virtual int RawRead(void* Buffer, int BufferSize, int Flags);
    virtual int RawReadFrom(void* Buffer, int BufferSize, sockaddr_storage& From);
    virtual int GetRcvdCount();
    virtual void RaiseException(const std::string& Msg);
    virtual void HandleBgException(const std::exception& E);
    void RaiseSocketError(const std::string& FunctionName);

    // Triggers: each raises its event when one is assigned.
    virtual bool TriggerDataAvailable(int Error);
    virtual void TriggerSessionAvailable(int Error);
    virtual void TriggerSessionConnected(int Error);
    virtual void TriggerSessionClosed(int Error);
    virtual void TriggerDataSent(int Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDnsLookupDone(int Error);
    virtual void TriggerError();

    void ChangeState(TSocketState NewState);
    // A subclass handed out bytes it had kept: that counts as a read, so
    // data waiting on the socket is reported again.
    void KeptBytesRead() { m_select.ReadDone(); }
    void ReceiveLoop(int Error, TWSocketOptions Options);
    void TryToSend();
    void SetLingerOption();
    bool Destroying() const { return m_destroying; }
    bool Terminated() const { return m_terminated; }
    // Marks the object as being destroyed: closing raises no events. Called
    // first by every destructor that closes before this one runs.
    void BeginDestroy() { m_destroying = true; }

    // Connect tries these in turn (port 0; the port is m_portNum); the
    // next one to try is m_connectNext.
    void SetConnectAddresses(std::vector<sockaddr_storage> Addrs);

    // The remote socket address: Connect's target, Listen's bound address,
    // filled by Accept.
    sockaddr_storage m_sin{};
    TSocket m_hSocket = INVALID_SOCKET;
    TSocketState m_state = wsClosed;
    int m_lastError = 0;
    bool m_closeReported = false;
    bool m_portAssigned = false, m_portResolved = false;
    bool m_addrAssigned = false, m_addrResolved = false;
    bool m_protoAssigned = false, m_protoResolved = false;
    bool m_localPortResolved = false;
    std::string m_addr, m_port, m_proto;
    std::vector<std::string> m_addrMore;  // tried after m_addr (SetAddrList)
    std::vector<sockaddr_storage> m_connectAddrs;
    std::size_t m_connectNext = 0;
    int m_portNum = 0, m_protoNum = 6, m_sockType = 0;

private:
    void HandleAsyncSelect(TSocket Fd, int Event, int Error);
    void HandleLookupReply(const platform::ChannelMessage& Msg);
    void StartLookup(const std::string& Text, bool Reverse);
    void ResolveForConnect(bool WithLocalPort);
    bool ConnectPreconditions();
    bool PrepareStreamSocket();
    int StartConnect(bool Quiet);
    void ConnectNext(bool Late);
    int TryConnect(bool Quiet);
    void ConnectFailedLate(int Code);
    TSocket OpenListeningSocket();
    bool ListenPreconditions();
    void DeliverReadiness(TSocket Fd, int Event, int Error);
    void SelectEvents(int Mask, AsyncSelect::Kind Kind, bool Connecting = false);
    bool SendFailed(int Code);
    void SendQueueDrained();
    void AbandonHandle();
    int WriteDirect(const void* Data, int Len);
    void ReportBadArgument(const std::string& Msg);
    void CloseHandleNow();

    TCustomWSocket* m_owner;
    std::string m_name;
    std::string m_dnsResult;
    std::vector<std::string> m_dnsResultList;
    TSocket m_acceptedHandle = INVALID_SOCKET;
    SendQueue m_sendQueue;
    int m_sendFlags = 0;
    std::shared_ptr<AsyncLookup> m_lookup;
    std::string m_localPort = "0";
    int m_localPortNum = 0;
    std::string m_localAddr = "0.0.0.0";
    TSocketLingerOnOff m_lingerOnOff = wsLingerOff;
    int m_lingerTimeout = 0;
    bool m_allSent = true;
    int m_readCount = 0;
    bool m_paused = false;
    int m_flushTimeout = 60;
    bool m_multiThreaded = false;
    TWSocketOptions m_componentOptions;
    bool m_terminated = false;
    int m_selectMask = 0;
    AsyncSelect::Kind m_selectKind = AsyncSelect::Kind::kStream;
    bool m_inTryToSend = false;
    bool m_lastReadDrained = false;
    // Bytes taken from the kernel so far; a receive pass that adds none
    // ends the loop.
    std::int64_t m_bytesTaken = 0;
    std::int64_t m_bytesWritten = 0;
    // Shutdown of the sending side: Send refuses (10058); while bytes are
    // still queued the kernel's shutdown waits until the last has gone.
    bool m_sendShut = false;
    bool m_shutWhenSent = false;
    // A write notification that came while paused, raised again by Resume.
    bool m_writeHeld = false;
    bool m_destroying = false;
    platform::SocketChannel m_channel;
    AsyncSelect m_select;
};

}  // namespace sitowiak::net

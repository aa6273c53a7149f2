// TCustomWSocket: the settings. Addr, Port, Proto, LocalAddr and LocalPort
// change only while the socket is closed.
#include <sys/socket.h>

#include "net/TCustomWSocket.h"
#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

// Stores a trimmed text setting: non-empty marks it assigned and not yet
// resolved, empty marks it not assigned.
void AssignText(const std::string& value, std::string& text, bool& assigned, bool& resolved) {
    text = WSocketTrim(value);
    assigned = !text.empty();
    resolved = false;
}

}  // namespace

void TCustomWSocket::SetAddr(const std::string& Value) {
    if (Value == m_addr && m_addrAssigned && m_addrMore.empty()) return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    m_addrMore.clear();
    AssignText(Value, m_addr, m_addrAssigned, m_addrResolved);
}

void TCustomWSocket::SetAddrList(const std::vector<std::string>& Value) {
    if (m_state != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    AssignText(Value.empty() ? std::string() : Value.front(), m_addr, m_addrAssigned,
               m_addrResolved);
    m_addrMore.clear();
    for (std::size_t i = 1; i < Value.size(); ++i) {
        const std::string more = WSocketTrim(Value[i]);
        if (!more.empty()) m_addrMore.push_back(more);
    }
}

void TCustomWSocket::SetPort(const std::string& Value) {
    if (Value == m_port && m_portAssigned) return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    AssignText(Value, m_port, m_portAssigned, m_portResolved);
}

void TCustomWSocket::SetProto(const std::string& Value) {
    if (Value == m_proto && m_protoAssigned) return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    AssignText(Value, m_proto, m_protoAssigned, m_protoResolved);
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
    if (m_state != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    m_localPort = Value;
    m_localPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
    if (m_state != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string text = Value.empty() ? std::string("0.0.0.0") : Value;
    sockaddr_storage addr{};
    if (!winsock::ParseAddress(text, &addr)) {
        RaiseException("SetLocalAddr(): Invalid IP address");
        return;
    }
    m_localAddr = winsock::AddressText(addr);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    switch (m_sendFlags) {
        case 0:
            return wsSendNormal;
        case MSG_OOB:
            return wsSendUrgent;
        default:
            RaiseException("Invalid internal SendFlags");
            return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
    switch (Value) {
        case wsSendNormal:
            m_sendFlags = 0;
            break;
        case wsSendUrgent:
            m_sendFlags = MSG_OOB;
            break;
        default:
            RaiseException("Invalid SendFlags");
            break;
    }
}

}  // namespace sitowiak::net

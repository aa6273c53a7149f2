// The layer of SOCKS negotiation, between the plain socket and the line
// mode. Without a SOCKS server (the only configuration so far) it passes
// everything through to TCustomWSocket. The hooks it needs there are all
// virtual: ResetDefaults, Connect, Listen, the raw read, RcvdCount and the
// data-available, session-connected and session-closed triggers.
#pragma once

#include "net/TCustomWSocket.h"

namespace sitowiak::net {

class TCustomSocksWSocket : public TCustomWSocket {
  public:
    using TCustomWSocket::TCustomWSocket;

  protected:
    // True while this layer talks to a SOCKS server on its own; the line
    // mode stays out of the way then. Without a SOCKS server there is never
    // a negotiation.
    virtual bool SocksNegotiating() const { return false; }
};

}  // namespace sitowiak::net

// The socket class programs use: everything of the layers below, nothing
// added.
#pragma once

#include "net/TCustomSyncWSocket.h"

namespace sitowiak::net {

class TWSocket : public TCustomSyncWSocket {
public:
    using TCustomSyncWSocket::TCustomSyncWSocket;
};

}  // namespace sitowiak::net

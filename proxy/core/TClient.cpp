#include "TClient.h"

#include <malloc.h>

namespace sitowiak::proxy {

TClient::TClient(net::TCustomWSocket* AOwner)
    : net::TWSocketClient(AOwner),
      RequestBuffer(std::make_unique<filter::TBuforArt>()),
      ResponseBuffer(std::make_unique<filter::TBuforArt>()) {
    // Closing with linger on and a zero timeout resets the connection and
    // throws away what the kernel has not sent yet: the end of the last
    // reply. A graceful close lets it reach the reader.
    SetLingerOnOff(net::wsLingerOff);
}

TClient::~TClient() {
    RemoteSocket.reset();
    RequestBuffer.reset();
    ResponseBuffer.reset();
    // The heap keeps freed memory for reuse; after a relay that queued
    // megabytes in small blocks that would stay with the process.
    if (trimAtEnd) ::malloc_trim(0);
}

TClientNntp::TClientNntp(net::TCustomWSocket* AOwner) : TClient(AOwner) {}

}  // namespace sitowiak::proxy

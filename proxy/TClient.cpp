#include "TClient.h"

namespace sitowiak::proxy {

TClient::TClient(net::TCustomWSocket* AOwner)
    : net::TWSocketClient(AOwner),
      RequestBuffer(std::make_unique<filter::TBuforArt>()),
      ResponseBuffer(std::make_unique<filter::TBuforArt>()) {}

TClient::~TClient() {
    RemoteSocket.reset();
    RequestBuffer.reset();
    ResponseBuffer.reset();
}

TClientNntp::TClientNntp(net::TCustomWSocket* AOwner) : TClient(AOwner) {}

}  // namespace sitowiak::proxy

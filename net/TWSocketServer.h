// The listening server programs use.
#pragma once

#include "net/TCustomWSocketServer.h"

namespace sitowiak::net {

class TWSocketServer : public TCustomWSocketServer {
public:
    using TCustomWSocketServer::TCustomWSocketServer;
};

}  // namespace sitowiak::net

// Resolution of the text settings, the error texts and the errno mapping.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>

#include "net/WSocketBinding.h"
#include "net/WSocketResolve.h"
#include "net/WSocketTypes.h"

namespace sitowiak::net {
namespace {

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no exception)";
}

TEST(ResolveTest, PortsFromNumbersAndTheServicesDatabase) {
    EXPECT_EQ(WSocketResolvePort("119", "tcp"), 119);
    EXPECT_EQ(WSocketResolvePort("nntp", "tcp"), 119);
    EXPECT_EQ(WSocketResolvePort("119abc", "tcp"), 119);
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("119", ""); }),
              "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
}

TEST(ResolveTest, ProtocolsFromNumbersAndNames) {
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(WSocketResolveProto("6"), 6);
    EXPECT_EQ(MessageOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(MessageOf([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");
}

TEST(ResolveTest, DottedFormRules) {
    for (const char* yes : {"10.0.0.1", "  10.0.0.1  ", "255.255.255.255", "0.0.0.0"})
        EXPECT_TRUE(WSocketIsDottedIP(yes)) << yes;
    for (const char* no : {"10.0.0", "10..0.1", ".10.0.0.1", "10.0.0.256", "10.0.0.1x", "10.0.0.",
                           "1.2.3.4.5", "host", ""})
        EXPECT_FALSE(WSocketIsDottedIP(no)) << no;
}

TEST(ResolveTest, HostsAndTheirFailures) {
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WSocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    const std::string longName(257, 'a');
    EXPECT_EQ(MessageOf([&] { WSocketResolveHost(longName); }),
              "WSocketResolveHost: '" + longName + "' Invalid Hostname.");
    EXPECT_EQ(MessageOf([] { WSocketResolveHost(""); }),
              "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(MessageOf([] { WSocketResolveHost("nosuchhost.invalid"); }),
              "WSocketResolveHost: Cannot convert host address 'nosuchhost.invalid', Error #11001");
}

TEST(ResolveTest, ErrorTextsAndTheErrnoMapping) {
    EXPECT_EQ(SocketErrorText(10061), "Connection refused");
    EXPECT_EQ(SocketErrorText(10048), "Address already in use");
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorText(1), "Not a WinSock error");
    EXPECT_EQ(winsock::ErrnoToWinsock(ECONNREFUSED), 10061);
    EXPECT_EQ(winsock::ErrnoToWinsock(ECONNRESET), 10054);
    EXPECT_EQ(winsock::ErrnoToWinsock(EPIPE), 10054);
    EXPECT_EQ(winsock::ErrnoToWinsock(ENOTCONN), 10057);
    EXPECT_EQ(winsock::ErrnoToWinsock(EADDRINUSE), 10048);
    EXPECT_EQ(winsock::ErrnoToWinsock(EACCES), 10013);
    EXPECT_EQ(winsock::ErrnoToWinsock(EWOULDBLOCK), 10035);
    EXPECT_EQ(winsock::ErrnoToWinsock(EINPROGRESS), 10036);
}

}  // namespace
}  // namespace sitowiak::net

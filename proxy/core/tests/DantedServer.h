// A private danted for relay tests, started by tests/servers/danted-up
// (root; it installs dante-server when missing) on a free loopback port and
// stopped with the test. It lets clients reach 127.0.0.0/8 except
// 127.0.0.2, which a rule denies.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace sitowiak::testing {

// A loopback port the kernel had free a moment ago; nothing listens on it.
inline int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
        port = ntohs(sin.sin_port);
    ::close(fd);
    return port;
}

class DantedServer {
public:
    // flavour: "none" (SOCKS 4 and 5 without authentication) or "userpass"
    // (SOCKS 5 with the user sockstest and the password sockspass).
    explicit DantedServer(const std::string& flavour) {
        port = FreeLoopbackPort();
        dir = (std::filesystem::temp_directory_path() /
               ("sitowiak-relay-danted-" + flavour + "-" + std::to_string(::getpid())))
                  .string();
        // With the requests in its log, as they came.
        up = Run("DANTED_DEBUG=1 " + std::string(SITOWIAK_TEST_SERVERS) + "/danted-up " +
                 std::to_string(port) + " " + dir + " " + flavour);
    }
    ~DantedServer() {
        if (up) Run(std::string(SITOWIAK_TEST_SERVERS) + "/danted-down " + dir);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    DantedServer(const DantedServer&) = delete;
    DantedServer& operator=(const DantedServer&) = delete;

    // "127.0.0.1:port", as "SocksSerwer" takes it.
    std::string Address() const { return "127.0.0.1:" + std::to_string(port); }
    // What danted has logged so far.
    std::string Log() const {
        std::ifstream in(dir + "/danted.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    int port = 0;
    bool up = false;
    std::string dir;
    std::string output;  // what danted-up said, for the failure message

private:
    bool Run(const std::string& command) {
        FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
        if (pipe == nullptr) return false;
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
        const int status = ::pclose(pipe);
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

}  // namespace sitowiak::testing

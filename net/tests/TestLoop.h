// Helpers for socket tests: a Qt event loop driven until a condition holds
// (a watchdog fails the test instead of hanging), and plain blocking
// loopback peers made with the system calls directly.
#pragma once

#include <functional>
#include <string>

namespace sitowiak::net::test {

// Makes sure a QCoreApplication exists.
void EnsureApp();
// Runs the event loop until done() is true. After watchdogMs the test fails
// and false is returned.
bool RunUntil(const std::function<bool()>& done, int watchdogMs = 5000);
// Runs the event loop until nothing is pending (posted messages handled).
void Drain();

// A listening loopback socket on a free port (blocking).
int ListenLoopback(int* port);
// A blocking connection to 127.0.0.1:port.
int ConnectLoopback(int port);
int AcceptBlocking(int listener);
void SendAll(int fd, const std::string& data);
// Reads until count bytes came or the peer closed.
std::string ReadExactly(int fd, std::size_t count);
// Reads until the peer closes.
std::string ReadToEnd(int fd);
void CloseFd(int fd);
// Closes with a reset (SO_LINGER 0).
void ResetFd(int fd);
// Number of open descriptors of this process.
int OpenFdCount();

}  // namespace sitowiak::net::test

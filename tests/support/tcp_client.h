// A plain loopback TCP client for the tests that talk to a real listener.
#pragma once

#include <cstdint>
#include <string>

// A socket connected to 127.0.0.1:port, or -1.
int tcpConnectLoopback(uint16_t port);

// Reads until the peer closes (or resets) the connection, or nothing comes
// for waitMs.
std::string tcpReadToEnd(int s, int waitMs);

// Connects, sends the bytes in one write (none for an empty text) and reads
// until the peer closes the connection (or nothing comes for waitMs).
// Everything received is returned; "<no connection>" or "<not sent>" when
// the exchange could not begin.
std::string tcpExchange(uint16_t port, const std::string &request, int waitMs = 60000);

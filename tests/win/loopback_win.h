// A listening socket on 127.0.0.1 at a port the system picks, for tests
// that play a server on loopback only.
#pragma once

#include <winsock2.h>

#include <cstdint>

namespace stub {

// Returns the listener (INVALID_SOCKET on failure) and sets `port`.
inline SOCKET ListenOnLoopback(uint16_t& port) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(s, 1);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return s;
}

}  // namespace stub

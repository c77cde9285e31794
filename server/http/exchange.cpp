#include "server/http/exchange.h"

#include <microhttpd.h>
#include <sys/socket.h>

#include <cerrno>

namespace stub::server {

bool Exchange::ClientGone() const {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection_, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (!info) return true;
  char byte;
  const ssize_t n = recv(info->connect_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

}  // namespace stub::server

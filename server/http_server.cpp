#include "server/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace stub::server {

std::string PeerAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "";
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    const in6_addr& a6 = reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) inet_ntop(AF_INET, &a6.s6_addr[12], text, sizeof text);
    else inet_ntop(AF_INET6, &a6, text, sizeof text);
  }
  return text;
}

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == 0) {
    wake_read_ = fds[0];
    wake_write_ = fds[1];
  }
}

HttpServer::~HttpServer() {
  Stop();
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_read_ >= 0) close(wake_read_);
  if (wake_write_ >= 0) close(wake_write_);
}

bool HttpServer::Listen(const std::string& host, uint16_t port, std::string* error) {
  if (wake_read_ < 0) {
    *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    *error = "cannot resolve '" + host + "': " + gai_strerror(rc);
    return false;
  }
  std::string why = "no usable address";
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, 64) == 0) {
      sockaddr_storage bound{};
      socklen_t len = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
      port_ = ntohs(bound.ss_family == AF_INET6
                        ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      listen_fd_ = fd;
      break;
    }
    why = std::strerror(errno);
    close(fd);
  }
  freeaddrinfo(found);
  if (listen_fd_ < 0) {
    *error = "cannot listen on " + host + ":" + service + ": " + why;
    return false;
  }
  return true;
}

void HttpServer::Start() { acceptor_ = std::thread([this] { AcceptLoop(); }); }

void HttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  if (wake_write_ >= 0) {
    const char byte = 1;
    while (write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  if (acceptor_.joinable()) acceptor_.join();
}

void HttpServer::ReapFinished(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || (*it)->done) {
      (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void HttpServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int n = poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) break;
    if (fds[1].revents) break;
    ReapFinished(false);
    if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (workers_.size() >= kMaxConnections) {
      close(fd);
      continue;
    }
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    std::string client = PeerAddress(fd);
    w->thread = std::thread([this, w, fd, client = std::move(client)]() mutable {
      Serve(fd, std::move(client));
      w->done = true;
    });
    workers_.push_back(std::move(worker));
  }
  // Every connection thread sees the wake pipe and returns promptly.
  ReapFinished(true);
}

void HttpServer::Serve(int fd, std::string client) {
  Connection conn(fd, wake_read_, std::move(client));
  Converse(conn);
  if (!conn.stopping()) conn.Finish();
}

void HttpServer::Converse(Connection& conn) {
  std::string head;
  for (;;) {
    const auto result = conn.ReadHead(head);
    if (result == Connection::HeadResult::kEnded) return;
    if (result != Connection::HeadResult::kOk) {
      const bool line = result == Connection::HeadResult::kLineTooLong;
      std::fprintf(stderr, "report-server: %s from %s refused\n",
                   line ? "request line over the size limit" : "header block over the size limit",
                   conn.client().c_str());
      conn.BeginRequest(false, false);
      conn.SendSimple(line ? 414 : 431, "text/plain; charset=utf-8", ReasonPhrase(line ? 414 : 431));
      return;
    }
    HttpRequest req;
    ParseRequestHead(head, req);
    req.client = conn.client();
    const int64_t body = req.well_formed ? RequestBodyLength(req) : 0;
    bool keep_alive = KeepAlive(req);
    // A body that is too large, unreadable or incomplete is left unread and
    // the connection closes after the answer; the request is still handled.
    if (body < 0 || body > kMaxDiscardedBody || (body > 0 && !conn.DiscardBody(body)))
      keep_alive = false;
    conn.BeginRequest(keep_alive, req.method == "HEAD");
    handler_(req, conn);
    if (!conn.keep_alive() || conn.stopping()) return;
  }
}

}  // namespace stub::server

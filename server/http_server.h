// A small threaded HTTP/1.1 server: one thread per connection, bounded
// request heads, and a stop that ends every wait at once. It hands every
// request it can split, well formed or not, to one handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/http_connection.h"
#include "server/http_message.h"

namespace stub::server {

// Writes the whole answer through the connection. Requests that are not
// HTTP/1.x arrive with well_formed false.
using Handler = std::function<void(const HttpRequest&, Connection&)>;

class HttpServer {
 public:
  explicit HttpServer(Handler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens on host:port (port 0 picks a free one). `host` is a
  // name or a numeric address, IPv6 without brackets.
  bool Listen(const std::string& host, uint16_t port, std::string* error);
  uint16_t port() const { return port_; }
  // Serves on a background thread until Stop.
  void Start();
  // Stops accepting, ends every connection's waits and joins all threads.
  // Safe to call more than once.
  void Stop();

  // Connections beyond this many at once are closed unanswered.
  static constexpr size_t kMaxConnections = 256;

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(int fd, std::string client);
  // Answers the requests of one connection until it is to close.
  void Converse(Connection& conn);
  void ReapFinished(bool all);

  Handler handler_;
  int listen_fd_ = -1;
  int wake_read_ = -1;  // readable once Stop has been called
  int wake_write_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::list<std::unique_ptr<Worker>> workers_;  // touched by the acceptor only
  std::mutex stop_mutex_;
  bool stopped_ = false;
};

// The numeric address of a connected peer ("127.0.0.1", "::1"); IPv4 peers
// on an IPv6 socket are shown in IPv4 form.
std::string PeerAddress(int fd);

}  // namespace stub::server

// The report server's HTTP side on GNU libmicrohttpd: one daemon, its options
// set in one place, a pool of threads, and a stop that ends every wait at
// once. Every request the library can split is handed to one handler; the
// ones it refuses itself (bad version, a head cut short) are still reported.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/http/resumer.h"

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

namespace stub::server {

struct HttpRequest {
  std::string method;  // as received ("" when the library refused the request)
  std::string target;  // raw bytes exactly as received
  std::string client;  // numeric peer address
};

// What to send back. The daemon takes ownership of `response`.
struct HttpAnswer {
  HttpAnswer() = default;
  HttpAnswer(unsigned s, MHD_Response* r, double delay = 0) : status(s), response(r), delay_seconds(delay) {}
  unsigned status = 200;
  MHD_Response* response = nullptr;
  double delay_seconds = 0;  // hold the answer back this long (cut short by a stop)
  // When set, the answer is not known yet: the daemon suspends the connection
  // (no thread waits) and calls this with `give`, which hands over, exactly
  // once and from any thread, how to make the answer. The daemon makes it on
  // its own thread once the connection resumes, so the giving thread (the
  // store's single writer) spends nothing on it. A stop that comes first
  // answers 503.
  using MakeAnswer = std::function<HttpAnswer()>;
  std::function<void(std::function<void(MakeAnswer)> give)> later;
};

// The context a handler gets to shape its answer over time.
struct HttpExchange {
  MHD_Connection* connection;
  Resumer* resumer;
};

using HttpHandler = std::function<HttpAnswer(const HttpRequest&, const HttpExchange&)>;
// Called once for a request the library answered on its own.
using RefusedHandler = std::function<void(const HttpRequest&)>;

struct DaemonSettings {
  std::string host;  // name or numeric address, IPv6 without brackets
  uint16_t port = 0;  // 0 picks a free one
  // Two per processor: no thread waits for a commit, so more threads only
  // add wake-ups (64 served half the reports per second of 4 on two cores).
  // A paced file body (a test mode) holds its thread while it waits.
  unsigned threads = 2 * std::max(1u, std::thread::hardware_concurrency());
  unsigned max_connections = 1024;  // beyond this new connections are refused
  // Bounds one request head: a longer request line is answered with 414.
  // The library zeroes a connection's whole memory before each request, so
  // this is also a cost per request: 80 KiB takes targets to just under 80 KiB.
  size_t connection_memory = 80u << 10;
  // PEM texts; when both are set every connection speaks TLS.
  std::string tls_cert_pem, tls_key_pem;
};

class HttpDaemon {
 public:
  HttpDaemon(HttpHandler handler, RefusedHandler refused);
  ~HttpDaemon();
  HttpDaemon(const HttpDaemon&) = delete;
  HttpDaemon& operator=(const HttpDaemon&) = delete;

  // Binds and starts serving on the library's threads.
  bool Start(const DaemonSettings& settings, std::string* error);
  uint16_t port() const { return port_; }
  // Ends every held answer and paused body at once, then stops the daemon.
  // Safe to call more than once.
  void Stop();

  // Library callbacks; public only so the C trampolines can reach them.
  void* OnUri(const char* uri, MHD_Connection* connection);
  int OnRequest(MHD_Connection* connection, const char* method, size_t* upload_size,
                void** context);
  void OnCompleted(MHD_Connection* connection, void** context);

 private:
  HttpHandler handler_;
  RefusedHandler refused_;
  // Shared with the `give` functions of pending answers, which may outlive the daemon.
  std::shared_ptr<Resumer> resumer_ = std::make_shared<Resumer>();
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};

// The numeric address of a peer ("127.0.0.1", "::1"); IPv4 peers on an IPv6
// socket in IPv4 form.
std::string PeerAddress(MHD_Connection* connection);

}  // namespace stub::server

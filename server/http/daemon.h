// The report server's HTTP side on GNU libmicrohttpd: one daemon, its options
// set in one place, a pool of threads, and a stop that ends every wait at
// once. Every request the library can split is handed to one handler; the
// ones it refuses itself (bad version, a head cut short) are still reported.
// The front door is kept here too: a listening socket no other server can
// share, a limit on connections per client address, a deadline for each
// request to arrive, the client's address behind a trusted proxy, and a TLS
// certificate that can be replaced while serving.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/http/answer.h"
#include "server/http/exchange.h"
#include "server/http/head_deadline.h"
#include "server/http/resumer.h"
#include "server/http/tls_certificate.h"

struct MHD_Daemon;
struct MHD_Connection;
struct sockaddr;

namespace stub::server {

struct HttpRequest {
  std::string method;  // as received ("" when the library refused the request)
  std::string target;  // raw bytes exactly as received
  std::string client;  // numeric client address (see DaemonSettings::trusted_proxies)
};

// The way back for an answer that is made after its handler has returned.
// Copies share one request; any thread may give the answer.
class LaterAnswer {
 public:
  // Makes the answer, on the daemon's own thread once the connection resumes,
  // so the giving thread (the store's single writer) spends nothing on it.
  using Make = std::function<Answer(const Exchange&)>;
  // Hands over `make` and wakes the connection. Only the first call counts;
  // after the connection has ended it does nothing, and a stop that comes
  // first answers 503.
  void Give(Make make) const;

 private:
  friend class HttpDaemon;
  struct State;  // shared by the request and whoever gives its answer
  std::shared_ptr<State> state_;
};

// Answers a request at once, or returns nullopt after handing `later` to
// whoever gives the answer; the connection is suspended meanwhile (no thread
// waits).
using HttpHandler = std::function<std::optional<Answer>(const HttpRequest&, const LaterAnswer& later)>;
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
  // Open connections from one address (IPv6: one /64 network) at once; more
  // are closed as they arrive. 0: no limit. Trusted proxies have none.
  unsigned max_per_address = 0;
  // A request (head and body) must arrive whole within this time of its
  // connection opening or of the previous answer; 0: no deadline.
  std::chrono::milliseconds head_timeout{0};
  // Peers whose X-Forwarded-For (or X-Real-IP) names the client.
  std::vector<std::string> trusted_proxies;
  // Bounds one request head: a longer request line is answered with 414.
  // The library zeroes a connection's whole memory before each request, and
  // maps memory of more than 32 KiB from the kernel for every connection, so
  // this is also a cost per connection: 32 KiB comes from malloc and takes
  // targets to about 30 KiB, far above the stub's 8,000 bytes.
  size_t connection_memory = 32u << 10;
  // When set, every connection speaks TLS with this certificate (until
  // SetCertificate replaces it) and these GnuTLS priorities.
  std::shared_ptr<const TlsCertificate> tls_certificate;
  std::string tls_priorities = kDefaultTlsPriorities;
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
  // Connections that open from now on use `certificate`; open ones keep theirs.
  void SetCertificate(std::shared_ptr<const TlsCertificate> certificate);
  // Ends every held answer and paused body at once, then stops the daemon.
  // Safe to call more than once.
  void Stop();

  // What the daemon keeps about one request between the library's calls,
  // and about one connection.
  struct RequestState;
  struct ConnectionState;
  // Library callbacks; public only so the C trampolines can reach them.
  int OnRequest(MHD_Connection* connection, const char* method, size_t* upload_size,
                RequestState& state);
  void OnCompleted(MHD_Connection* connection, RequestState& state);
  bool MayConnect(const sockaddr* peer);
  ConnectionState* OnConnectionStarted(MHD_Connection* connection);
  void OnConnectionClosed(ConnectionState* state);

 private:
  HttpHandler handler_;
  RefusedHandler refused_;
  // Shared with pending answers, which may outlive the daemon.
  std::shared_ptr<Resumer> resumer_ = std::make_shared<Resumer>();
  struct DaemonStopper {
    void operator()(MHD_Daemon* daemon) const;
  };
  bool Trusted(const std::string& peer) const;

  DaemonSettings settings_;  // as started
  std::unique_ptr<HeadDeadlines> deadlines_;
  std::mutex mutex_;  // guards the two below
  std::map<std::string, unsigned> per_address_;  // open connections by LimitKey
  std::shared_ptr<const TlsCertificate> certificate_;
  std::unique_ptr<MHD_Daemon, DaemonStopper> daemon_;
  uint16_t port_ = 0;
};

}  // namespace stub::server

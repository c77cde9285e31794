#include "server/http/daemon.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "server/http/client_address.h"

namespace stub::server {

struct LaterAnswer::State {
  explicit State(std::shared_ptr<Resumer> r) : resumer(std::move(r)) {}
  const std::shared_ptr<Resumer> resumer;
  std::mutex mutex;
  Make make;                            // once given
  bool given = false;
  bool ended = false;                   // the connection is gone
  MHD_Connection* suspended = nullptr;  // waiting for the answer
};

struct HttpDaemon::RequestState {
  std::string target;
  std::string method;
  std::string client;            // once the head is complete
  bool started = false;          // the first call (head complete) was seen
  bool handled = false;          // the handler ran
  bool held = false;             // the answer waits for its delay
  LaterAnswer later;             // set when the handler ran
  std::optional<Answer> answer;  // once made
};

struct HttpDaemon::ConnectionState {
  std::string peer;       // numeric address
  std::string limit_key;  // counted under this in per_address_; "" when not counted
  int fd = -1;
  // The certificate this connection's handshake uses, kept as long as it lives.
  std::shared_ptr<const TlsCertificate> certificate;
};

namespace {

using RequestState = HttpDaemon::RequestState;
using ConnectionState = HttpDaemon::ConnectionState;

// The library keeps each request's state in its context slot from the first
// call to the completion: handed over there, taken back (and freed) here.
void* HandOver(std::unique_ptr<RequestState> state) { return state.release(); }

std::unique_ptr<RequestState> TakeBack(void** context) {
  std::unique_ptr<RequestState> state(static_cast<RequestState*>(*context));
  *context = nullptr;
  return state;
}

// The numeric address of a peer ("127.0.0.1", "::1"); IPv4 peers on an IPv6
// socket in IPv4 form.
std::string PeerAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return info ? SocketAddressText(info->client_addr) : "";
}

ConnectionState* StateOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<ConnectionState*>(info->socket_context) : nullptr;
}

// The last value of header `name` (a proxy appends its own after any the
// client sent), nullopt when there is none.
std::optional<std::string> LastHeader(MHD_Connection* connection, const char* name) {
  struct Search {
    const char* name;
    std::optional<std::string> value;
  } search{name, std::nullopt};
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto* s = static_cast<Search*>(cls);
        if (key && value && strcasecmp(key, s->name) == 0) s->value = value;
        return MHD_YES;
      },
      &search);
  return search.value;
}

// A listening socket of our own, so that binding is exclusive: no
// SO_REUSEPORT, which would let a second server (or the admin listener) bind
// the same address and take half the connections. SO_REUSEADDR only lets a
// restart bind while the old connections linger in TIME_WAIT.
int ListenOn(const sockaddr_storage& addr, socklen_t length, const std::string& shown, std::string* error) {
  const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = "cannot listen on " + shown + ": " + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (addr.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0 || listen(fd, SOMAXCONN) != 0) {
    const int e = errno;
    *error = "cannot listen on " + shown + ": " + std::strerror(e);
    if (e == EADDRINUSE) *error += " (another server, or another listener of this one, has it)";
    close(fd);
    return -1;
  }
  return fd;
}

HttpRequest RequestOf(const RequestState& state, MHD_Connection* connection) {
  return HttpRequest{state.method, state.target, state.client.empty() ? PeerAddress(connection) : state.client};
}

// The library's own messages (a port already taken, a TLS key it refuses)
// go to stderr, one line each.
void LogLibraryMessage(void* /*cls*/, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = '\0';
  std::fprintf(stderr, "report-server: libmicrohttpd: %s\n", text);
}

void* UriTrampoline(void* /*cls*/, const char* uri, MHD_Connection* /*connection*/) {
  auto state = std::make_unique<RequestState>();
  if (uri) state->target = uri;
  return HandOver(std::move(state));
}

MHD_Result RequestTrampoline(void* cls, MHD_Connection* connection, const char* /*url*/,
                             const char* method, const char* /*version*/,
                             const char* /*upload_data*/, size_t* upload_size, void** context) {
  if (!*context) *context = HandOver(std::make_unique<RequestState>());
  return static_cast<MHD_Result>(static_cast<HttpDaemon*>(cls)->OnRequest(
      connection, method, upload_size, *static_cast<RequestState*>(*context)));
}

void CompletedTrampoline(void* cls, MHD_Connection* connection, void** context,
                         MHD_RequestTerminationCode /*why*/) {
  if (const std::unique_ptr<RequestState> state = TakeBack(context))
    static_cast<HttpDaemon*>(cls)->OnCompleted(connection, *state);
}

MHD_Result AcceptTrampoline(void* cls, const sockaddr* addr, socklen_t /*length*/) {
  return static_cast<HttpDaemon*>(cls)->MayConnect(addr) ? MHD_YES : MHD_NO;
}

void ConnectionTrampoline(void* cls, MHD_Connection* connection, void** socket_context,
                          MHD_ConnectionNotificationCode code) {
  auto* daemon = static_cast<HttpDaemon*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    *socket_context = daemon->OnConnectionStarted(connection);
  } else {
    daemon->OnConnectionClosed(static_cast<ConnectionState*>(*socket_context));
    *socket_context = nullptr;
  }
}

}  // namespace

void LaterAnswer::Give(Make make) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->given || state_->ended) return;
  state_->given = true;
  state_->make = std::move(make);
  if (state_->suspended) state_->resumer->Wake(std::exchange(state_->suspended, nullptr));
}

void HttpDaemon::DaemonStopper::operator()(MHD_Daemon* daemon) const { MHD_stop_daemon(daemon); }

HttpDaemon::HttpDaemon(HttpHandler handler, RefusedHandler refused)
    : handler_(std::move(handler)), refused_(std::move(refused)) {}

HttpDaemon::~HttpDaemon() { Stop(); }

bool HttpDaemon::Start(const DaemonSettings& s, std::string* error) {
  settings_ = s;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(s.port);
  const bool v6 = s.host.find(':') != std::string::npos;
  const std::string shown = (v6 ? "[" + s.host + "]" : s.host) + ":" + port;
  if (getaddrinfo(s.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    *error = "cannot resolve listen address " + s.host;
    return false;
  }
  sockaddr_storage addr{};
  std::memcpy(&addr, found->ai_addr, found->ai_addrlen);
  const socklen_t length = found->ai_addrlen;
  freeaddrinfo(found);

  const bool tls = s.tls_certificate != nullptr;
  if (tls) {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
      *error = "this libmicrohttpd was built without TLS";
      return false;
    }
    if (!CheckTlsPriorities(s.tls_priorities, error)) {
      *error = "--tls-priorities '" + s.tls_priorities + "': " + *error;
      return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    certificate_ = s.tls_certificate;
  }
  const int listen_fd = ListenOn(addr, length, shown, error);
  if (listen_fd < 0) return false;
  deadlines_ = std::make_unique<HeadDeadlines>(s.head_timeout);

  // Every option of the daemon lives here. TLS is the library's own (GnuTLS):
  // the same handlers serve both, only the socket layer differs. The
  // certificate comes from our own callback, so that a new one can be put in
  // force without a restart.
  // No Date header, as before: with one, Wine's URL download reports no
  // progress for a trickling body and the stub's stall watchdog ends it.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_SUPPRESS_DATE_NO_CLOCK | MHD_USE_ERROR_LOG;
  if (addr.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  if (tls) flags |= MHD_USE_TLS;
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_HTTPS_CERT_CALLBACK, 0, reinterpret_cast<void*>(&TlsCertificate::Retrieve)},
      {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(settings_.tls_priorities.c_str())},
      {MHD_OPTION_END, 0, nullptr}};
  daemon_.reset(MHD_start_daemon(
      flags, 0, &AcceptTrampoline, this, &RequestTrampoline, this,
      MHD_OPTION_EXTERNAL_LOGGER, &LogLibraryMessage, nullptr,
      MHD_OPTION_LISTEN_SOCKET, listen_fd,
      // The library splits the limit over the pool's threads, at least one each.
      MHD_OPTION_THREAD_POOL_SIZE, std::min(s.threads, s.max_connections),
      MHD_OPTION_CONNECTION_LIMIT, s.max_connections,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, s.connection_memory,
      MHD_OPTION_CONNECTION_TIMEOUT, 60u,
      MHD_OPTION_URI_LOG_CALLBACK, &UriTrampoline, this,
      MHD_OPTION_NOTIFY_COMPLETED, &CompletedTrampoline, this,
      MHD_OPTION_NOTIFY_CONNECTION, &ConnectionTrampoline, this,
      MHD_OPTION_ARRAY, tls ? tls_options : tls_options + 2,
      MHD_OPTION_END));
  if (!daemon_) {
    // The socket is left open: whether the library closed it on its way out
    // is not said, and closing it twice could close someone else's file.
    *error = "cannot serve on " + shown + " (see the library's message above)";
    deadlines_.reset();
    return false;
  }
  sockaddr_storage bound{};
  socklen_t bound_length = sizeof bound;
  getsockname(listen_fd, reinterpret_cast<sockaddr*>(&bound), &bound_length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return true;
}

void HttpDaemon::SetCertificate(std::shared_ptr<const TlsCertificate> certificate) {
  std::lock_guard<std::mutex> lock(mutex_);
  certificate_ = std::move(certificate);
}

bool HttpDaemon::Trusted(const std::string& peer) const {
  const auto& t = settings_.trusted_proxies;
  return std::find(t.begin(), t.end(), peer) != t.end();
}

bool HttpDaemon::MayConnect(const sockaddr* peer) {
  if (settings_.max_per_address == 0 || Trusted(SocketAddressText(peer))) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = per_address_.find(AddressGroup(peer));
  return it == per_address_.end() || it->second < settings_.max_per_address;
}

HttpDaemon::ConnectionState* HttpDaemon::OnConnectionStarted(MHD_Connection* connection) {
  auto state = std::make_unique<ConnectionState>();
  const MHD_ConnectionInfo* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  const sockaddr* peer = address ? address->client_addr : nullptr;
  state->peer = SocketAddressText(peer);
  if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
    state->fd = fd->connect_fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (settings_.max_per_address != 0 && !Trusted(state->peer)) {
      state->limit_key = AddressGroup(peer);
      ++per_address_[state->limit_key];
    }
    if (certificate_) {
      state->certificate = certificate_;
      if (const MHD_ConnectionInfo* tls = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION))
        TlsCertificate::Attach(static_cast<gnutls_session_t>(tls->tls_session), state->certificate);
    }
  }
  if (state->fd >= 0) deadlines_->Arm(state.get(), state->fd);
  return state.release();
}

void HttpDaemon::OnConnectionClosed(ConnectionState* raw) {
  const std::unique_ptr<ConnectionState> state(raw);
  if (!state) return;
  deadlines_->Disarm(state.get());
  if (state->limit_key.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = per_address_.find(state->limit_key);
  if (it != per_address_.end() && --it->second == 0) per_address_.erase(it);
}

void HttpDaemon::Stop() {
  if (!daemon_) return;
  resumer_->StopAll();
  daemon_.reset();
}

int HttpDaemon::OnRequest(MHD_Connection* connection, const char* method, size_t* upload_size,
                          RequestState& state) {
  if (!state.started) {  // head complete; a body, if any, follows
    state.started = true;
    state.method = method ? method : "";
    const std::string peer = PeerAddress(connection);
    state.client = settings_.trusted_proxies.empty()
                       ? peer
                       : ClientAddress(peer, settings_.trusted_proxies, LastHeader(connection, "X-Forwarded-For"),
                                       LastHeader(connection, "X-Real-IP"));
    return MHD_YES;
  }
  if (*upload_size != 0) {  // request bodies are read and dropped
    *upload_size = 0;
    return MHD_YES;
  }
  if (!state.handled) {
    state.handled = true;  // the request is in whole: its deadline is met
    if (ConnectionState* c = StateOf(connection)) deadlines_->Disarm(c);
    state.later.state_ = std::make_shared<LaterAnswer::State>(resumer_);
    state.answer = handler_(RequestOf(state, connection), state.later);
    if (!state.answer) {
      LaterAnswer::State& later = *state.later.state_;
      std::lock_guard<std::mutex> lock(later.mutex);
      if (!later.given) {  // wait for it; Give() or a stop wakes the connection
        if (!resumer_->Pause(connection)) return MHD_NO;
        later.suspended = connection;
        return MHD_YES;
      }
    }
  } else if (state.held && resumer_->stopping()) {
    return MHD_NO;  // a stop cuts the delay short and ends the connection
  }
  if (!state.answer) {  // given, or a stop came first
    LaterAnswer::Make make;
    {
      LaterAnswer::State& later = *state.later.state_;
      std::lock_guard<std::mutex> lock(later.mutex);
      make = std::move(later.make);
    }
    state.answer = make ? make(Exchange(connection, *resumer_))
                        : TextAnswer(503, "", "", {{"Connection", "close"}});
  }
  Answer& answer = *state.answer;
  if (!state.held && answer.delay_seconds > 0) {
    const auto due = Resumer::Clock::now() + std::chrono::duration_cast<Resumer::Clock::duration>(
                                                 std::chrono::duration<double>(answer.delay_seconds));
    if (!resumer_->PauseUntil(connection, due)) return MHD_NO;
    state.held = true;
    return MHD_YES;
  }
  state.held = false;
  if (!answer.response) return MHD_NO;
  const Response response = std::move(answer.response);  // the library holds it from here
  return MHD_queue_response(connection, answer.status, response.get());
}

void HttpDaemon::OnCompleted(MHD_Connection* connection, RequestState& state) {
  // The next request on a kept-alive connection has the same time to arrive
  // (the connection's close, if it is closing, disarms it again).
  if (ConnectionState* c = StateOf(connection); c && c->fd >= 0) deadlines_->Arm(c, c->fd);
  if (state.later.state_) {  // a later Give has nothing to wake
    std::lock_guard<std::mutex> lock(state.later.state_->mutex);
    state.later.state_->ended = true;
    state.later.state_->suspended = nullptr;
  }
  if (!state.handled && refused_) refused_(RequestOf(state, connection));
}

}  // namespace stub::server

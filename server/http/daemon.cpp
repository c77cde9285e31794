#include "server/http/daemon.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

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
  bool started = false;          // the first call (head complete) was seen
  bool handled = false;          // the handler ran
  bool held = false;             // the answer waits for its delay
  LaterAnswer later;             // set when the handler ran
  std::optional<Answer> answer;  // once made
};

namespace {

using RequestState = HttpDaemon::RequestState;

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
  if (!info || !info->client_addr) return "";
  char text[INET6_ADDRSTRLEN] = "";
  const sockaddr* sa = info->client_addr;
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);
    else inet_ntop(AF_INET6, &a, text, sizeof text);
  }
  return text;
}

HttpRequest RequestOf(const RequestState& state, MHD_Connection* connection) {
  return HttpRequest{state.method, state.target, PeerAddress(connection)};
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
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(s.port);
  if (getaddrinfo(s.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    *error = "cannot resolve listen address " + s.host;
    return false;
  }
  sockaddr_storage addr{};
  std::memcpy(&addr, found->ai_addr, found->ai_addrlen);
  const bool v6 = found->ai_family == AF_INET6;
  freeaddrinfo(found);

  // Every option of the daemon lives here. TLS is the library's own (GnuTLS):
  // the same handlers serve both, only the socket layer differs.
  // No Date header, as before: with one, Wine's URL download reports no
  // progress for a trickling body and the stub's stall watchdog ends it.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_SUPPRESS_DATE_NO_CLOCK | MHD_USE_ERROR_LOG;
  if (v6) flags |= MHD_USE_IPv6;
  const bool tls = !s.tls_cert_pem.empty() || !s.tls_key_pem.empty();
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(s.tls_cert_pem.c_str())},
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(s.tls_key_pem.c_str())},
      {MHD_OPTION_END, 0, nullptr}};
  if (tls) {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
      *error = "this libmicrohttpd was built without TLS";
      return false;
    }
    flags |= MHD_USE_TLS;
  }
  daemon_.reset(MHD_start_daemon(
      flags, 0, nullptr, nullptr, &RequestTrampoline, this,
      MHD_OPTION_EXTERNAL_LOGGER, &LogLibraryMessage, nullptr,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
      MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
      // The library splits the limit over the pool's threads, at least one each.
      MHD_OPTION_THREAD_POOL_SIZE, std::min(s.threads, s.max_connections),
      MHD_OPTION_CONNECTION_LIMIT, s.max_connections,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, s.connection_memory,
      MHD_OPTION_CONNECTION_TIMEOUT, 60u,
      MHD_OPTION_URI_LOG_CALLBACK, &UriTrampoline, this,
      MHD_OPTION_NOTIFY_COMPLETED, &CompletedTrampoline, this,
      MHD_OPTION_ARRAY, tls ? tls_options : tls_options + 2,
      MHD_OPTION_END));
  if (!daemon_) {
    *error = "cannot listen on " + s.host + ":" + port + ": " + std::strerror(errno);
    if (tls) *error += " (or the TLS certificate and key are not a usable PEM pair)";
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_.get(), MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : s.port;
  return true;
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
    return MHD_YES;
  }
  if (*upload_size != 0) {  // request bodies are read and dropped
    *upload_size = 0;
    return MHD_YES;
  }
  if (!state.handled) {
    state.handled = true;
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
  if (state.later.state_) {  // a later Give has nothing to wake
    std::lock_guard<std::mutex> lock(state.later.state_->mutex);
    state.later.state_->ended = true;
    state.later.state_->suspended = nullptr;
  }
  if (!state.handled && refused_) refused_(RequestOf(state, connection));
}

}  // namespace stub::server

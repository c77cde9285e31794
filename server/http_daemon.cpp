#include "server/http_daemon.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

namespace stub::server {
namespace {

// What the daemon keeps about one request between the library's calls.
struct RequestState {
  std::string target;
  std::string method;
  bool started = false;  // the first call (head complete) was seen
  bool handled = false;  // the handler ran
  bool held = false;     // the answer waits for its delay
  HttpAnswer answer;
};

void* UriTrampoline(void* cls, const char* uri, MHD_Connection* connection) {
  return static_cast<HttpDaemon*>(cls)->OnUri(uri, connection);
}

MHD_Result RequestTrampoline(void* cls, MHD_Connection* connection, const char* /*url*/,
                             const char* method, const char* /*version*/,
                             const char* /*upload_data*/, size_t* upload_size, void** context) {
  return static_cast<MHD_Result>(
      static_cast<HttpDaemon*>(cls)->OnRequest(connection, method, upload_size, context));
}

void CompletedTrampoline(void* cls, MHD_Connection* connection, void** context,
                         MHD_RequestTerminationCode /*why*/) {
  static_cast<HttpDaemon*>(cls)->OnCompleted(connection, context);
}

void DropAnswer(HttpAnswer& answer) {
  if (answer.response) MHD_destroy_response(answer.response);
  answer.response = nullptr;
}

}  // namespace

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

  // Every option of the daemon lives here, so that TLS can be added beside them.
  // No Date header, as before: with one, Wine's URL download reports no
  // progress for a trickling body and the stub's stall watchdog ends it.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_SUPPRESS_DATE_NO_CLOCK;
  if (v6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &RequestTrampoline, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
      MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
      MHD_OPTION_THREAD_POOL_SIZE, s.threads,
      MHD_OPTION_CONNECTION_LIMIT, s.max_connections,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, s.connection_memory,
      MHD_OPTION_CONNECTION_TIMEOUT, 60u,
      MHD_OPTION_URI_LOG_CALLBACK, &UriTrampoline, this,
      MHD_OPTION_NOTIFY_COMPLETED, &CompletedTrampoline, this,
      MHD_OPTION_END);
  if (!daemon_) {
    *error = "cannot listen on " + s.host + ":" + port + ": " + std::strerror(errno);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : s.port;
  return true;
}

void HttpDaemon::Stop() {
  if (!daemon_) return;
  resumer_.StopAll();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

void* HttpDaemon::OnUri(const char* uri, MHD_Connection* /*connection*/) {
  auto* state = new RequestState;
  if (uri) state->target = uri;
  return state;
}

int HttpDaemon::OnRequest(MHD_Connection* connection, const char* method, size_t* upload_size,
                          void** context) {
  auto* state = static_cast<RequestState*>(*context);
  if (!state) *context = state = new RequestState;
  if (!state->started) {  // head complete; a body, if any, follows
    state->started = true;
    state->method = method ? method : "";
    return MHD_YES;
  }
  if (*upload_size != 0) {  // request bodies are read and dropped
    *upload_size = 0;
    return MHD_YES;
  }
  if (!state->handled) {
    state->handled = true;
    HttpRequest req;
    req.method = state->method;
    req.target = state->target;
    req.client = PeerAddress(connection);
    state->answer = handler_(req, HttpExchange{connection, &resumer_});
    if (state->answer.delay_seconds > 0) {
      const auto due = Resumer::Clock::now() +
                       std::chrono::duration_cast<Resumer::Clock::duration>(
                           std::chrono::duration<double>(state->answer.delay_seconds));
      if (!resumer_.PauseUntil(connection, due)) return MHD_NO;
      state->held = true;
      return MHD_YES;
    }
  } else if (state->held && resumer_.stopping()) {
    return MHD_NO;  // a stop cuts the delay short and ends the connection
  }
  state->held = false;
  if (!state->answer.response) return MHD_NO;
  const MHD_Result queued =
      MHD_queue_response(connection, state->answer.status, state->answer.response);
  DropAnswer(state->answer);
  return queued;
}

void HttpDaemon::OnCompleted(MHD_Connection* connection, void** context) {
  auto* state = static_cast<RequestState*>(*context);
  if (!state) return;
  *context = nullptr;
  if (!state->handled && refused_) {
    HttpRequest req;
    req.method = state->method;
    req.target = state->target;
    req.client = PeerAddress(connection);
    req.well_formed = false;
    refused_(req);
  }
  DropAnswer(state->answer);
  delete state;
}

}  // namespace stub::server

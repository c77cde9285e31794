#include "server/http/daemon.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

namespace stub::server {
namespace {

void DropAnswer(HttpAnswer& answer) {
  if (answer.response) MHD_destroy_response(answer.response);
  answer.response = nullptr;
}

// How to make an answer, handed over by another thread while its connection
// is suspended; made on the pool thread once the connection resumes.
struct LaterAnswer {
  std::mutex mutex;
  HttpAnswer::MakeAnswer make;  // set once given
};

// What the daemon keeps about one request between the library's calls.
struct RequestState {
  std::string target;
  std::string method;
  bool started = false;  // the first call (head complete) was seen
  bool handled = false;  // the handler ran
  bool held = false;     // the answer waits for its delay
  std::shared_ptr<LaterAnswer> later;  // set while the answer is being made elsewhere
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

  // Every option of the daemon lives here. TLS is the library's own (GnuTLS):
  // the same handlers serve both, only the socket layer differs.
  // No Date header, as before: with one, Wine's URL download reports no
  // progress for a trickling body and the stub's stall watchdog ends it.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_SUPPRESS_DATE_NO_CLOCK;
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
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &RequestTrampoline, this,
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
      MHD_OPTION_END);
  if (!daemon_) {
    *error = "cannot listen on " + s.host + ":" + port + ": " + std::strerror(errno);
    if (tls) *error += " (or the TLS certificate and key are not a usable PEM pair)";
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : s.port;
  return true;
}

void HttpDaemon::Stop() {
  if (!daemon_) return;
  resumer_->StopAll();
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
    state->answer = handler_(req, HttpExchange{connection, resumer_.get()});
    if (state->answer.later) {
      const auto later = std::exchange(state->answer.later, nullptr);
      state->later = std::make_shared<LaterAnswer>();
      if (!resumer_->Pause(connection)) return MHD_NO;
      later([pending = state->later, resumer = resumer_, connection](HttpAnswer::MakeAnswer make) {
        {
          std::lock_guard<std::mutex> lock(pending->mutex);
          pending->make = std::move(make);
        }
        resumer->Wake(connection);
      });
      return MHD_YES;
    }
  } else if (state->later) {  // woken: the answer is here, or a stop came first
    const auto later = std::move(state->later);
    HttpAnswer::MakeAnswer make;
    {
      std::lock_guard<std::mutex> lock(later->mutex);
      make = std::move(later->make);
    }
    if (make) {
      state->answer = make();
    } else {
      state->answer = HttpAnswer{503, MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT)};
      MHD_add_response_header(state->answer.response, "Connection", "close");
    }
  } else if (state->held && resumer_->stopping()) {
    return MHD_NO;  // a stop cuts the delay short and ends the connection
  }
  if (!state->held && state->answer.delay_seconds > 0) {
    const auto due = Resumer::Clock::now() +
                     std::chrono::duration_cast<Resumer::Clock::duration>(
                         std::chrono::duration<double>(state->answer.delay_seconds));
    if (!resumer_->PauseUntil(connection, due)) return MHD_NO;
    state->held = true;
    return MHD_YES;
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
    refused_(req);
  }
  DropAnswer(state->answer);
  delete state;
}

}  // namespace stub::server

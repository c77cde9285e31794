#include "server/http/client_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace stub::server {
namespace {

// Longer than any address with brackets and a port; longer texts are refused
// before anything is copied.
constexpr size_t kMaxAddressText = 64;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsPort(std::string_view s) {
  return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         std::stoul(std::string(s)) <= 65535;
}

}  // namespace

std::optional<std::string> NumericAddress(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > kMaxAddressText || text.find('\0') != std::string_view::npos)
    return std::nullopt;
  std::string_view host = text;
  bool v6_only = false;
  if (text.front() == '[') {  // "[v6]" or "[v6]:port"
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !(rest.front() == ':' && IsPort(rest.substr(1)))) return std::nullopt;
    host = text.substr(1, close - 1);
    v6_only = true;
  } else if (const size_t colon = text.find(':');
             colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
    if (!IsPort(text.substr(colon + 1))) return std::nullopt;  // "v4:port"
    host = text.substr(0, colon);
  }
  const std::string copy(host);  // inet_pton wants it terminated
  in_addr v4;
  in6_addr v6;
  char out[INET6_ADDRSTRLEN] = "";
  if (!v6_only && inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    inet_ntop(AF_INET, &v4, out, sizeof out);
  } else if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_V4MAPPED(&v6)) inet_ntop(AF_INET, v6.s6_addr + 12, out, sizeof out);
    else inet_ntop(AF_INET6, &v6, out, sizeof out);
  } else {
    return std::nullopt;
  }
  return std::string(out);
}

std::string SocketAddressText(const sockaddr* sa) {
  char text[INET6_ADDRSTRLEN] = "";
  if (!sa) return text;
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);
    else inet_ntop(AF_INET6, &a, text, sizeof text);
  }
  return text;
}

std::string AddressGroup(const sockaddr* sa) {
  if (sa && sa->sa_family == AF_INET6) {
    sockaddr_in6 net = *reinterpret_cast<const sockaddr_in6*>(sa);
    if (!IN6_IS_ADDR_V4MAPPED(&net.sin6_addr)) {
      std::fill(net.sin6_addr.s6_addr + 8, net.sin6_addr.s6_addr + 16, 0);
      return SocketAddressText(reinterpret_cast<const sockaddr*>(&net)) + "/64";
    }
  }
  return SocketAddressText(sa);
}

std::string ClientAddress(const std::string& peer, const std::vector<std::string>& trusted_proxies,
                          std::optional<std::string_view> forwarded_for,
                          std::optional<std::string_view> real_ip) {
  if (std::find(trusted_proxies.begin(), trusted_proxies.end(), peer) == trusted_proxies.end()) return peer;
  std::optional<std::string> client;
  if (forwarded_for) {
    const size_t comma = forwarded_for->rfind(',');
    client = NumericAddress(comma == std::string_view::npos ? *forwarded_for : forwarded_for->substr(comma + 1));
  } else if (real_ip) {
    client = NumericAddress(*real_ip);
  }
  return client ? *client : peer;
}

}  // namespace stub::server

// Which address a request is recorded as coming from: the peer's, or behind
// a trusted reverse proxy the one the proxy says it received the request from.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

namespace stub::server {

// `text` as a numeric IPv4 or IPv6 address in its usual written form
// ("10.0.0.7", "2001:db8::1"; an IPv4 address mapped into IPv6 in IPv4 form).
// Also takes "[v6]", "[v6]:port" and "v4:port" as proxies write them, and
// spaces or tabs around it. nullopt for anything else, of any bytes.
std::optional<std::string> NumericAddress(std::string_view text);

// The numeric address of a socket address, as NumericAddress writes it; ""
// for other families.
std::string SocketAddressText(const sockaddr* address);

// What a limit per client counts a peer under: its numeric address, or for
// IPv6 its /64 network ("2001:db8::/64"), which one host can fill with
// addresses of its own.
std::string AddressGroup(const sockaddr* address);

// The client a request is recorded for. From a peer in `trusted_proxies`
// (numeric addresses as NumericAddress writes them), the last entry of the
// last X-Forwarded-For header (the one that proxy added), or without that
// header X-Real-IP; a missing or invalid value means the peer itself. From
// any other peer both headers are ignored: a client could write anything.
std::string ClientAddress(const std::string& peer, const std::vector<std::string>& trusted_proxies,
                          std::optional<std::string_view> forwarded_for,
                          std::optional<std::string_view> real_ip);

}  // namespace stub::server

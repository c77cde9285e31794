// The client address recorded for a request: forwarded headers count only from a trusted proxy.
#include "server/http/client_address.h"

#include <gtest/gtest.h>
#include <netdb.h>

namespace stub::server::testing { namespace {

TEST(ClientAddress, ForwardedHeadersCountOnlyFromATrustedProxy) {
  const std::vector<std::string> trusted = {"127.0.0.1", "::1"};
  using Header = std::optional<std::string_view>;
  const std::string nul("1.2.3.4\0.5", 10), huge(100000, '1');
  const std::tuple<const char*, Header, Header, const char*> cases[] = {  // peer, X-Forwarded-For, X-Real-IP, client
      {"127.0.0.1", "203.0.113.9", {}, "203.0.113.9"},
      {"127.0.0.1", "6.6.6.6, 10.1.2.3,203.0.113.9", {}, "203.0.113.9"},  // the entry the proxy added
      {"127.0.0.1", " \t203.0.113.9\t ", {}, "203.0.113.9"},
      {"::1", "2001:DB8::0001", {}, "2001:db8::1"},
      {"::1", "[2001:db8::1]:4711", {}, "2001:db8::1"},
      {"127.0.0.1", "203.0.113.9:4711", {}, "203.0.113.9"},
      {"127.0.0.1", "::ffff:198.51.100.2", {}, "198.51.100.2"},
      {"127.0.0.1", {}, "198.51.100.7", "198.51.100.7"},
      {"127.0.0.1", "203.0.113.9", "198.51.100.7", "203.0.113.9"},  // the proxy's own list wins
      {"192.0.2.1", "203.0.113.9", "198.51.100.7", "192.0.2.1"},    // not a proxy: ignored
      {"127.0.0.1", {}, {}, "127.0.0.1"},
      {"127.0.0.1", "", {}, "127.0.0.1"},  // invalid: the peer
      {"127.0.0.1", "203.0.113.9,", {}, "127.0.0.1"},
      {"127.0.0.1", "unknown", "198.51.100.7", "127.0.0.1"},
      {"127.0.0.1", "example.org", {}, "127.0.0.1"},
      {"127.0.0.1", "[1.2.3.4]", {}, "127.0.0.1"},
      {"127.0.0.1", "[::1]x", {}, "127.0.0.1"},
      {"127.0.0.1", "1.2.3.4:99999", {}, "127.0.0.1"},
      {"127.0.0.1", "[::1", {}, "127.0.0.1"},
      {"127.0.0.1", nul, {}, "127.0.0.1"},
      {"127.0.0.1", huge, {}, "127.0.0.1"},
      {"127.0.0.1", {}, "1.2.3.4; drop table", "127.0.0.1"},
  };
  for (const auto& [peer, forwarded, real, client] : cases)
    EXPECT_EQ(ClientAddress(peer, trusted, forwarded, real), client)
        << peer << " " << forwarded.value_or("-").substr(0, 40) << " " << real.value_or("-");
}

// The per-address limit counts an IPv6 host by its /64: it can use every address in it.
TEST(ClientAddress, AnIpv6HostCountsByItsNetwork) {
  const std::pair<const char*, const char*> cases[] = {
      {"192.0.2.7", "192.0.2.7"},
      {"::ffff:192.0.2.7", "192.0.2.7"},  // an IPv4 peer on an IPv6 socket
      {"2001:db8:1:2:ffff:ffff:ffff:ffff", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
  };
  for (const auto& [address, group] : cases) {
    addrinfo numeric{}, *found = nullptr;
    numeric.ai_flags = AI_NUMERICHOST;
    ASSERT_EQ(getaddrinfo(address, nullptr, &numeric, &found), 0) << address;
    EXPECT_EQ(AddressGroup(found->ai_addr), group) << address;
    freeaddrinfo(found);
  }
}

}}  // namespace stub::server::testing

// A request target's query fields: names match exactly, the first value counts, any bytes decode.
#include <gtest/gtest.h>

#include "server/http/query.h"

namespace stub::server::testing { namespace {

TEST(Query, FieldRules) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::pair<std::string, std::string> cases[] = {  // target, the decoded Data field ("<null>": absent)
      {"/?Key=Info", "<null>"},
      {"/?Data=&Key", ""},
      {"/?data=x&DataX=y", "<null>"},       // names match exactly
      {"/?Data=A&Data=B", "A"},             // the first value counts
      {"/?Data=a=b==c", "a=b==c"},          // split at the first '='
      {"/p?q?Data=Z", "<null>"},
      {"/?D%61ta=%20x+y%E4%B8%AD", " x+y中"},  // names are decoded too; '+' is no space
      {"/?Data=%zz%4g%%41%", "%zz%4g%A%"},
      {"/?Data=%00x", std::string("\0x", 2)},
      {"/?Data=\xFF\xFE%E4%B8%%zz", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD%%zz"},  // %E4%B8 cut short
      {"/?Data=" + all, ValidUtf8(all.substr(0, 38))},  // any bytes, up to the '&' (0x26)
  };
  for (const auto& [target, data] : cases) EXPECT_EQ(DecodeQuery(target)[1].value_or("<null>"), data) << target;
}

}}  // namespace stub::server::testing

#include "server/query.h"

#include <gtest/gtest.h>

namespace stub::server {
namespace {

TEST(PercentDecode, InvalidSequencesStayLiteral) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a%20b", "a b"},
      {"%E4%B8%AD", "中"},
      {"a+b", "a+b"},  // '+' is not a space
      {"%", "%"},
      {"%zz%4g", "%zz%4g"},
      {"%%41", "%A"},
      {"%00x", std::string("\0x", 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in;
}

// The decoded value of `name` in `target`, or "<null>".
std::string Field(std::string_view target, const char* name) {
  const QueryFields fields = DecodeQuery(target);
  for (size_t i = 0; i < kFieldCount; ++i)
    if (std::string(kFieldNames[i]) == name) return fields[i] ? *fields[i] : "<null>";
  ADD_FAILURE() << "no field " << name;
  return "";
}

TEST(DecodeQuery, FieldRules) {
  const struct {
    const char* target;
    const char* name;
    std::string value;
  } cases[] = {
      {"/?Key=Info", "Data", "<null>"},
      {"/?Key=Setup&PcId_C=&SoftVer=1", "PcId_C", ""},
      {"/?Key", "Key", ""},                          // a name without '='
      {"/?key=Info", "Key", "<null>"},               // names match exactly
      {"/?Key=A&Key=B", "Key", "A"},                 // the first value counts
      {"/?Data=a=b==c", "Data", "a=b==c"},           // split at the first '='
      {"/p?q?Key=Z", "Key", "<null>"},
      {"/?Data=%E4%B8%AD%20x+y", "Data", "中 x+y"},
      {"/?Data=\xC3\x28", "Data", "\xEF\xBF\xBD("},  // raw invalid UTF-8
      {"/?K%65y=Info", "Key", "Info"},               // names are decoded too
      {"/?OSBit=64", "OS", "<null>"},
      {"/?PcId=1&PcId_C=2", "PcId", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Field(c.target, c.name), c.value) << c.target;
}

TEST(DecodeQuery, AnyBytesAreAccepted) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const QueryFields fields = DecodeQuery("/?Data=" + all + all);
  ASSERT_TRUE(fields[1]);
  EXPECT_EQ(ValidUtf8(*fields[1]), *fields[1]);
}

}  // namespace
}  // namespace stub::server

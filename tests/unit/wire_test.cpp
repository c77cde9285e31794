#include "net/wire.h"

#include <gtest/gtest.h>

namespace stub {
namespace {

TEST(WireUrl, EscapesWhatAUrlCannotCarryAndDropsTheFragment) {
  const struct {
    std::u16string url;
    std::string wire;
  } cases[] = {
      {u"http://h/?Data=DownFinish=OK:1.5 DownCode=4, url=x",
       "http://h/?Data=DownFinish=OK:1.5%20DownCode=4,%20url=x"},
      {u"a\"b<c>d", "a%22b%3Cc%3Ed"},
      {u"%41=&:/?'{}|^`~", "%41=&:/?'{}|^`~"},  // kept as built
      {u"SavePath=C:\\Temp\\ url=x", "SavePath=C:%5CTemp%5C%20url=x"},
      {std::u16string(u"\x01\t\n\x1F\x7F\0", 6), "%01%09%0A%1F%7F%00"},
      {u"安é", "%E5%AE%89%C3%A9"},
      {u"\U0001F600", "%F0%9F%98%80"},
      {std::u16string(1, char16_t(0xD800)) + u"x", "%EF%BF%BDx"},       // lone high
      {u"x" + std::u16string(1, char16_t(0xDC00)), "x%EF%BF%BD"},       // lone low
      {u"http://h/?Data=Err-#5-Main&TimeID=1", "http://h/?Data=Err-"},  // fragment
  };
  for (const auto& c : cases) EXPECT_EQ(WireUrl(c.url), c.wire) << c.wire;
}

}  // namespace
}  // namespace stub

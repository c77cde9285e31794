#include "profile/profile.h"

#include <gtest/gtest.h>

namespace stub {
namespace {

TEST(OsName, VersionTableByMajorAndMinorOnly) {
  const struct {
    uint32_t major, minor;
    const char16_t* name;
  } cases[] = {
      {3, 10, u"Win3.10"}, {3, 51, u"Win3.51"}, {4, 0, u"Win95"},    {4, 10, u"Win98"},
      {4, 90, u"WinMe"},   {5, 0, u"Win2000"},  {5, 1, u"WinXP"},    {5, 2, u"Win2003"},
      {6, 0, u"Vista"},    {6, 1, u"Win7"},     {6, 2, u"Win8"},     {6, 3, u"NotFind"},
      {10, 0, u"NotFind"}, {4, 3, u"NotFind"},  {0xFFFFFFFF, 0, u"NotFind"},
  };
  for (const auto& c : cases) EXPECT_EQ(OsName(c.major, c.minor), c.name) << c.major << "." << c.minor;
  EXPECT_EQ(ScrText(1366, 768), u"1366*768");
}

}  // namespace
}  // namespace stub

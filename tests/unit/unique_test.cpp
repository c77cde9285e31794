#include "base/unique.h"

#include <gtest/gtest.h>

#include <map>

namespace stub {
namespace {

std::map<int, int> g_closed;  // handle -> times closed

struct CountingTraits {
  using Type = int;
  static int Invalid() { return -1; }
  static void Close(int h) { ++g_closed[h]; }
};
using U = Unique<CountingTraits>;

TEST(Unique, ClosesEachHandleExactlyOnce) {
  g_closed.clear();
  {
    U a(7);
    a.reset(7);  // the handle already held: nothing to close
    EXPECT_EQ(a.get(), 7);
    U b(std::move(a));
    b = std::move(b);  // self-move keeps it
    U c(8);
    c = std::move(b);  // 8 closed, 7 moves on
    c.reset(9);        // 7 closed
    U d(10);
    EXPECT_EQ(d.release(), 10);  // given away, never closed here
    U empty;
    empty.reset();
  }  // 9 closed
  EXPECT_EQ(g_closed, (std::map<int, int>{{7, 1}, {8, 1}, {9, 1}}));
}

}  // namespace
}  // namespace stub

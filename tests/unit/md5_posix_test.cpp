// Failures that only a real POSIX file system produces.
#include <gtest/gtest.h>

#include "codec/md5_file.h"

namespace stub {
namespace {

TEST(Md5FilePosix, UnreadableFileReportsTheFirstReadFailure) {
  // Opens fine, but reading at offset 0 of a process's memory file fails,
  // even for root.
  EXPECT_EQ(MD5File(u"/proc/self/mem"), kErrRead);
}

}  // namespace
}  // namespace stub

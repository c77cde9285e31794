#include "codec/md5.h"
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include "base/pump.h"
#include "base/text.h"
#include "codec/codec.h"
#include "codec/md5_file.h"
#include "temp_dir.h"

namespace stub { namespace {

std::string Pattern(size_t n) {  // bytes i*7 mod 251: every length a distinct, non-repeating content
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) % 251);
  return s;
}
int g_pumps = 0;

// A scripted file; reads: bytes per read, -1 = failure.
struct Script { bool opens, sized; int64_t size; std::vector<int> reads; std::u16string result; };
struct FakeFile : DigestFile, Script {
  size_t next = 0, closes = 0;
  explicit FakeFile(const Script& s) : Script(s) {}
  bool Exists(const std::u16string&) override { return true; }
  bool Open(const std::u16string&) override { return opens; }
  bool Size(int64_t& s) override { return s = size, sized; }
  bool Read(uint8_t* buf, size_t cap, size_t& got) override {
    const int n = next < reads.size() ? reads[next++] : 0;
    got = n < 0 ? 0 : std::min<size_t>(n, cap);
    std::fill(buf, buf + got, 0);
    return n >= 0;
  }
  void Close() override { ++closes; }
};

// Lengths around the block, padding and 64 KiB read buffer: in memory, in pieces, from files (pumping per MiB).
TEST(Md5File, KnownAnswersInMemoryFromFilesAndEachFailuresText) {
  TempDir dir;
  const auto write = [&](const std::string& name, const std::string& content) {
    std::ofstream(dir.path() / name, std::ios::binary).write(content.data(), content.size());
    return Utf8ToUtf16Lossy((dir.path() / name).u8string());
  };
  SetMessagePump([] { ++g_pumps; });
  const struct { size_t size; const char* md5; } known[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},     {55, "a3c81137436036ad8b477da25301a150"},
      {56, "64c7901679c62fee89dae9fdc90f6cdc"},    {64, "c1e181645d10867b9810b9ab454f39fd"},
      {65536, "0bebb799d362469f916b5a272cbc6d3b"}, {65537, "58f3dde8d05cab51c939fa5a52fc5a4a"},
      {(1 << 20) + 13, "9251dbc54de4fdd7e56ea779b4ae8e9e"},
  };
  for (const auto& k : known) {
    const std::string data = Pattern(k.size);
    EXPECT_EQ(Utf16ToUtf8Lossy(MD5Text(data.data(), data.size())), k.md5) << k.size;
    g_pumps = 0;
    EXPECT_EQ(Utf16ToUtf8Lossy(MD5File(write("f" + std::to_string(k.size), data))), k.md5);
    EXPECT_EQ(g_pumps, int(k.size >> 20) + 1) << k.size;
    Md5 md5;
    md5.Update(data.data(), k.size / 3), md5.Update(data.data() + k.size / 3, k.size - k.size / 3);
    EXPECT_EQ(Utf16ToUtf8Lossy(md5.Finish()), k.md5) << k.size;
  }
  SetMessagePump(nullptr);
  EXPECT_EQ(MD5File(write("安装 (1).exe", "abc")), u"900150983cd24fb0d6963f7d28e17f72");
  constexpr int kFull = 64 * 1024;  // scripted files for the failures a real disk rarely shows on demand
  const Script cases[] = {
      {false, true, 0, {}, kErrOpen}, {true, false, 0, {}, kErrLength}, {true, true, 10, {-1}, kErrRead},
      {true, true, 10, {5}, kErrSync}, {true, true, 10, {kFull, 10}, kErrSync},  // shrank, grew
      {true, true, kFull + 10, {kFull, -1}, kErrSync},                            // a later read fails
      {true, true, 3, {3}, MD5Text("\0\0\0", 3)},
  };
  for (const auto& c : cases) {
    FakeFile f(c);
    EXPECT_EQ(MD5File(u"x", f), c.result) << c.size;
    EXPECT_EQ(f.closes > 0, c.opens) << c.size;  // closed on every path after open
  }
}

TEST(CodeText, KnownAnswersModesAndKeys) {  // from an independent implementation of the same rules
  const struct { std::u16string in; const char16_t* mode; int32_t key; std::u16string out; } cases[] = {
      {u"DownUrl==http://a/b.exe", u"A", 4713, u"\x4e7a\x4e64\x4e71\x4e6e\x4e11\x4e75\x4e7a\x4e32\x4e79\x4e7e\x4e61"
                                               u"\x4e6e\x4e2f\x4e32\x4e56\x4e32\x4e1a\x4e31\x4e20\x4e20\x4e1c\x4e1e\x4e65"},
      {u"Korvel安装", u"A", 4713, u"\x4e73\x4e64\x4e6a\x4e76\x4e61\x4e73\x8cb7\x57e2"},
      {u"Korvel安装", u"A", -4713, u"\x4e73\x4e64\x4e6a\x4e76\x4e61\x4e73\x8cb7\x57e2"},  // the key's sign is ignored
      {u"Korvel安装", u"B", -99, u"\x7ff3\x7fd7\x7fa7\x7fb3\x7fdb\x7fa3\x8e76\x55ae"},
      {u"#", u"A", 8, u"\x4e64"},                            // key 8 draws exactly 100, the largest accepted
      {u" !\"\x7f\x7fff", u"A", 1, u" !\"\x7f\x7fff"},      // units outside the codable set pass unchanged
      {u" A", u"A", 4713, u" \x4e36"},  // ...but take their draw: "A" alone gives \x4e45
      {u"x", u"a", 4713, u""}, {u"x", u"AB", 4713, u""}, {u"x", u"", 4713, u""}, {u"x", u"A", INT32_MIN, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CodeText(c.in, c.mode, c.key), c.out);
    if (!c.out.empty()) { EXPECT_EQ(Encode(c.out, c.mode, c.key), c.in); }
  }
  std::u16string all(65536, u'\0');  // encoding undoes decoding over every unit, both modes
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<char16_t>(i);
  for (const char16_t* m : {u"A", u"B"})
    EXPECT_TRUE(CodeText(Encode(all, m, 4713), m, 4713) == all && Encode(CodeText(all, m, -77), m, -77) == all) << m[0];
}

}}  // namespace stub

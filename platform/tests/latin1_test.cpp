#include "platform/latin1.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

TEST(Latin1, RoundTripsEveryByte) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  std::string utf8 = Latin1ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToLatin1(utf8), all);
}

TEST(Latin1, ForeignCharactersAndBrokenBytes) {
  EXPECT_EQ(Utf8ToLatin1("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 ?");
  EXPECT_EQ(Utf8ToLatin1("\xE9t\xE9"), "\xE9t\xE9");  // already Latin-1
  EXPECT_FALSE(IsValidUtf8("\xE9t\xE9"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));  // overlong
}

}  // namespace
}  // namespace kestro

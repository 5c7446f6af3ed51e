#include "platform/format.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

TEST(Format, BehavesLikePrintfForMatchingArguments) {
  EXPECT_EQ(Fmt("%05d.MF4", 42), "00042.MF4");
  EXPECT_EQ(Fmt("%-11d|", 7), "7          |");
  EXPECT_EQ(Fmt("Invalid char %02x", 0x15), "Invalid char 15");
  EXPECT_EQ(Fmt("Checksum error %x writeOPCNT=%d", 0x15, 12), "Checksum error 15 writeOPCNT=12");
  EXPECT_EQ(Fmt("%s_%i", "MSG_COLUMN_TITLE", 3), "MSG_COLUMN_TITLE_3");
  EXPECT_EQ(Fmt("%6d", 12), "    12");
  EXPECT_EQ(Fmt("%ld (%ld sectors) [%s]", 100L, 2L, "FAT"), "100 (2 sectors) [FAT]");
  EXPECT_EQ(Fmt("0x%lx", 0x848AUL), "0x848a");
  EXPECT_EQ(Fmt("100%%"), "100%");
  EXPECT_EQ(Fmt("%02d/%02d/%04d", 9, 12, 2026), "09/12/2026");
  EXPECT_EQ(Fmt("%c", 'A'), "A");
  EXPECT_EQ(Fmt("%u", -1), "4294967295");
}

TEST(Format, MismatchedOrMissingArgumentsAreHarmless) {
  EXPECT_EQ(Fmt("%s and %s", "one"), "one and ");
  EXPECT_EQ(Fmt("%d songs", "x"), "0 songs");
  EXPECT_EQ(Fmt("code %s", 12), "code 12");
  EXPECT_EQ(Fmt("%n%s", "a", "b"), "b");
  EXPECT_EQ(Fmt("cut %"), "cut %");
  EXPECT_EQ(Fmt("%q"), "%q");
  EXPECT_EQ(Fmt("%99999999d", 1).size(), 1024u);
}

TEST(Format, SignatureListsConversions) {
  EXPECT_EQ(FormatSignature("La song %s contiene %d%% di %-5s %02X"), "sdsx");
  EXPECT_EQ(FormatSignature("none"), "");
  EXPECT_EQ(FormatSignature("%i %ld %lu"), "ddu");
}

}  // namespace
}  // namespace kestro

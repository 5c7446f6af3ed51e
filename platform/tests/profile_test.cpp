#include "platform/profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

using testing::TempDir;

TEST(ProfileText, NamesCompareWithoutCaseAndDefaultsApply) {
  ProfileText t("[Settings]\nmediaChange=1\n\n[PATH]\n Installpath = /opt/k \nQuoted=\"  a b \"\n");
  EXPECT_EQ(t.Find("SETTINGS", "MEDIACHANGE").value(), "1");
  EXPECT_EQ(t.Find("settings", "mediachange").value(), "1");
  EXPECT_EQ(t.Find("path", "INSTALLPATH").value(), "/opt/k");
  EXPECT_EQ(t.Find("PATH", "Quoted").value(), "  a b ");
  EXPECT_FALSE(t.Find("PATH", "mediaChange").has_value());
  EXPECT_FALSE(t.Find("Nowhere", "x").has_value());
}

TEST(ProfileText, WriteKeepsEverythingElseInOrder) {
  const std::string before =
      "; Kestro settings\r\n[SETTINGS]\r\nCURRLANGUAGE=ITALIANO\r\n; keep me\r\nNEWSONGS=0\r\n\r\n[PATH]\r\nInstallpath=/x\r\n";
  ProfileText t(before);
  t.Set("settings", "newsongs", "1");     // existing key, other case
  t.Set("Settings", "mediaChange", "1");  // new key in an existing section
  t.Set("ListSettings", "List1_Width", "00");  // new section
  EXPECT_EQ(t.Text(),
            "; Kestro settings\r\n[SETTINGS]\r\nCURRLANGUAGE=ITALIANO\r\n; keep me\r\nNEWSONGS=1\r\nmediaChange=1\r\n\r\n"
            "[PATH]\r\nInstallpath=/x\r\n\r\n[ListSettings]\r\nList1_Width=00\r\n");
}

TEST(ProfileText, GarbageLongLinesAndBinaryBytesDoNotHideGoodKeys) {
  std::string junk(100000, 'x');
  std::string text = "\x01\x02\xff garbage\n[" + junk + "\n=novalue\n[A]\n" + junk + "\nkey1=v1\n\x00\x7f\xfe=bin\n";
  text += std::string("weird line without equals\n[A\nkey2=v2\n", 37);
  text += "[B]\nkey3=" + junk + "\n";
  ProfileText t(text);
  EXPECT_EQ(t.Find("A", "key1").value(), "v1");
  // "[A" without a closing bracket still names section A (its first match wins).
  EXPECT_EQ(t.Find("B", "key3").value().size(), junk.size());
  EXPECT_FALSE(t.Find("A", "").has_value());
}

TEST(ProfileFile, MissingFileGivesDefaultsAndWriteCreatesIt) {
  TempDir dir;
  ProfileFile f(dir / "sub" / "Zumbla.INI");
  EXPECT_EQ(f.GetString("PATH", "Installpath", "?"), "?");
  EXPECT_EQ(f.GetInt("Settings", "WebUpdate", 1), 1);
  ASSERT_TRUE(f.WriteString("PATH", "Installpath", "/opt/kestro"));
  EXPECT_EQ(f.GetString("path", "installpath", "?"), "/opt/kestro");
  EXPECT_EQ(f.GetString("PATH", "Installpath", "?", 4), "/opt");
}

TEST(ProfileFile, IntegersFollowTheProfileRules) {
  TempDir dir;
  ProfileFile f(dir / "Zumbla.INI");
  struct Case {
    const char* value;
    int expected;
  } cases[] = {{"42", 42}, {" 7 ", 7}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"0x1F", 31}, {"-3", -3}};
  for (const auto& c : cases) {
    ASSERT_TRUE(f.WriteString("S", "K", c.value));
    EXPECT_EQ(f.GetInt("S", "K", 99), c.expected) << c.value;
  }
  EXPECT_EQ(f.GetInt("S", "Absent", 99), 99);
}

TEST(ProfileFile, StructEncodingMatchesWindowsAndIsChecked) {
  TempDir dir;
  ProfileFile f(dir / "Zumbla.INI");
  int32_t widths[10] = {200, 200, 96, 96, 96, 100, 100, 100, 0, 0};
  ASSERT_TRUE(f.WriteStruct("ListSettings", "List1_Width", widths, sizeof widths));
  std::string raw = f.GetString("ListSettings", "List1_Width", "", 1000);
  // 200 = C8 00 00 00 ...; checksum = sum of the bytes mod 256.
  ASSERT_EQ(raw.size(), 82u);
  EXPECT_EQ(raw.substr(0, 16), "C8000000C8000000");
  unsigned sum = 0;
  for (size_t i = 0; i < 40; ++i) sum += reinterpret_cast<uint8_t*>(widths)[i];
  char want[3];
  std::snprintf(want, sizeof want, "%02X", sum & 0xFF);
  EXPECT_EQ(raw.substr(80), want);

  int32_t back[10] = {};
  ASSERT_TRUE(f.GetStruct("listsettings", "list1_width", back, sizeof back));
  EXPECT_EQ(0, std::memcmp(back, widths, sizeof back));

  // Wrong checksum, wrong length, non-hex: refused, buffer untouched.
  int32_t untouched[10] = {1};
  for (std::string bad : {raw.substr(0, 80) + "00", raw.substr(2), raw.substr(0, 10) + "ZZ" + raw.substr(12)}) {
    ASSERT_TRUE(f.WriteString("ListSettings", "List1_Width", bad));
    EXPECT_FALSE(f.GetStruct("ListSettings", "List1_Width", untouched, sizeof untouched));
    EXPECT_EQ(untouched[0], 1);
  }
  EXPECT_FALSE(f.GetStruct("ListSettings", "Absent", untouched, sizeof untouched));
}

TEST(ProfileFile, ValuesCannotInjectLines) {
  TempDir dir;
  ProfileFile f(dir / "Zumbla.INI");
  ASSERT_TRUE(f.WriteString("PATH", "OLD_MF4", "/songs\n[SETTINGS]\nUSB_Agent=1"));
  EXPECT_EQ(f.GetInt("SETTINGS", "USB_Agent", 0), 0);
}

// A reader polling the file while another writes it never sees it half written.
TEST(ProfileFile, ConcurrentReaderNeverSeesAPartialFile) {
  TempDir dir;
  ProfileFile writer(dir / "Zumbla.INI");
  std::string pad(20000, 'p');
  ASSERT_TRUE(writer.WriteString("PAD", "P", pad));
  ASSERT_TRUE(writer.WriteString("SETTINGS", "KESTROACTIVE", "0"));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0};
  std::thread reader([&] {
    ProfileFile r(dir / "Zumbla.INI");
    while (!stop) {
      if (r.GetInt("SETTINGS", "KESTROACTIVE", -1) < 0) ++bad;
      if (r.GetString("PAD", "P", "", 30000).size() != pad.size()) ++bad;
      ++reads;
    }
  });
  for (int i = 1; i <= 300; ++i) ASSERT_TRUE(writer.WriteString("SETTINGS", "KESTROACTIVE", std::to_string(i)));
  stop = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(writer.GetInt("SETTINGS", "KESTROACTIVE", -1), 300);
}

}  // namespace
}  // namespace kestro

#include "context/dictionary.h"

#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

using testing::TempDir;

const char* kSmall =
    "[ENUMKEYS]\nK0=MSG_OK\nK1=msg_lower\nK2=MSG_LISTED_ONLY\nK3=MSG_TWO_LINES\n"
    "[ITALIANO]\nMSG_OK=Va bene\nMSG_LOWER=minuscolo\nMSG_TWO_LINES=uno\\ndue\\tfine\n"
    "[ENGLISH]\nMSG_OK=Okay\n";

class DictionaryLoad : public ::testing::Test {
 protected:
  TempDir dir;
  ProfileFile profile{dir / "Zumbla.INI"};
  ScriptedUi ui;
  Dictionary dict;

  void WriteDict(const std::string& plain) { ASSERT_TRUE(WriteBinaryFile(dir / "DICT.DIC", EncodeDictionary(plain))); }
  void WriteRaw(const Bytes& b) { ASSERT_TRUE(WriteBinaryFile(dir / "DICT.DIC", b)); }
  bool Load() { return dict.Load(dir.path(), profile, ui); }
  void ExpectCorruptMessage() {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Error while opening DICT.DIC\nThe file may be corrupted\nReinstall ZumblaPC\n");
    EXPECT_EQ(ui.messages[0].caption, "ZumblaPC Error");
    EXPECT_EQ(ui.messages[0].kind, BoxKind::System);
    EXPECT_EQ(ui.messages[0].style, 0x10u);
  }
};

TEST(DictionaryCodec, FileLayoutAndRoundTrip) {
  Bytes f = EncodeDictionary("abc");
  ASSERT_EQ(f.size(), 11u);
  EXPECT_EQ(f[0], 3);
  EXPECT_EQ(f[1] | f[2] | f[3], 0);
  // Body is XOR "bri"; checksum over the stored bytes.
  EXPECT_EQ(f[8], 'a' ^ 'b');
  EXPECT_EQ(f[9], 'b' ^ 'r');
  EXPECT_EQ(f[10], 'c' ^ 'i');
  uint32_t sum = f[8] + f[9] + f[10];
  EXPECT_EQ(f[4] | f[5] << 8, static_cast<int>(sum));
  EXPECT_EQ(DecodeDictionary(f).value(), "abc");
  std::string longer(100, 'q');
  EXPECT_EQ(DecodeDictionary(EncodeDictionary(longer)).value(), longer);
}

TEST_F(DictionaryLoad, LoadsTheLanguageAndWritesItBack) {
  WriteDict(kSmall);
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.Count(), 4);
  EXPECT_EQ(dict.Language(), "ITALIANO");
  EXPECT_EQ(profile.GetString("SETTINGS", "CURRLANGUAGE", "absent"), "ITALIANO");
  EXPECT_EQ(dict.GetText("MSG_OK"), "Va bene");
  EXPECT_EQ(dict.GetText("msg_ok"), "Va bene");
  EXPECT_EQ(dict.GetText("MSG_LOWER"), "minuscolo");  // the key list is upper-cased
  EXPECT_EQ(dict.GetText("MSG_LISTED_ONLY"), "String Error!");
  EXPECT_EQ(dict.GetText("msg_unknown"), "MSG_UNKNOWN: String Error");
  // Escapes keep the length: backslash becomes a blank.
  EXPECT_EQ(dict.GetText("MSG_TWO_LINES"), "uno \ndue \tfine");
  EXPECT_FALSE(FileExists(dir / "TEMP.DIC"));
  EXPECT_TRUE(ui.messages.empty());

  ASSERT_TRUE(profile.WriteString("SETTINGS", "CURRLANGUAGE", "english"));
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.GetText("MSG_OK"), "Okay");
  EXPECT_EQ(dict.GetText("MSG_LOWER"), "String Error!");
}

TEST_F(DictionaryLoad, MissingFile) {
  EXPECT_FALSE(Load());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Cannot open DICT.DIC");
  EXPECT_EQ(ui.messages[0].caption, "ZumblaPC Error");
}

TEST_F(DictionaryLoad, WrongLengthFieldIsRefusedBeforeAnyText) {
  for (int delta : {-1, +1}) {
    Bytes f = EncodeDictionary(kSmall);
    f[0] = static_cast<uint8_t>(f[0] + delta);
    WriteRaw(f);
    ui.messages.clear();
    EXPECT_FALSE(Load()) << delta;
    ExpectCorruptMessage();
    EXPECT_FALSE(FileExists(dir / "TEMP.DIC"));
  }
}

TEST_F(DictionaryLoad, OneChangedByteFailsTheChecksum) {
  Bytes f = EncodeDictionary(kSmall);
  f[20] ^= 0x01;
  WriteRaw(f);
  EXPECT_FALSE(Load());
  ExpectCorruptMessage();
  // The decoded file was written before the checksum refused it.
  EXPECT_TRUE(FileExists(dir / "TEMP.DIC"));
}

TEST_F(DictionaryLoad, ShortOrEmptyFiles) {
  WriteRaw(Bytes{1, 2, 3});
  EXPECT_FALSE(Load());
  ExpectCorruptMessage();
  ui.messages.clear();
  WriteRaw(Bytes(8, 0));  // empty body, checksum 0
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.Count(), 0);
  EXPECT_EQ(dict.GetText("MSG_OK"), "MSG_OK: String Error");
}

TEST_F(DictionaryLoad, KeyListStopsAtAGapOrADash) {
  WriteDict("[ENUMKEYS]\nK0=A\nK1=B\nK3=D\n[ITALIANO]\nA=a\nB=b\nD=d\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.Count(), 2);
  WriteDict("[ENUMKEYS]\nK0=A\nK1=-B\nK2=C\n[ITALIANO]\nA=a\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.Count(), 1);
}

TEST_F(DictionaryLoad, TableHolds350AndSaysSoAtTheLimit) {
  for (int n : {349, 350, 400}) {
    std::string text = "[ENUMKEYS]\n";
    std::string lang = "[ITALIANO]\n";
    for (int i = 0; i < n; ++i) {
      text += "K" + std::to_string(i) + "=KEY" + std::to_string(i) + "\n";
      lang += "KEY" + std::to_string(i) + "=text " + std::to_string(i) + "\n";
    }
    WriteDict(text + lang);
    ui.messages.clear();
    ASSERT_TRUE(Load());
    EXPECT_EQ(dict.Count(), std::min(n, 350)) << n;
    EXPECT_EQ(ui.CountText("ERROR! Not enought space to load all the dictionary string"), n >= 350 ? 1 : 0) << n;
    EXPECT_EQ(dict.GetText("KEY349"), n >= 350 ? "text 349" : "KEY349: String Error");
    EXPECT_EQ(dict.GetText("KEY350"), "KEY350: String Error");
  }
}

TEST_F(DictionaryLoad, LongKeysAndTextsAreCut) {
  std::string key(80, 'K');
  std::string text(700, 't');
  WriteDict("[ENUMKEYS]\nK0=" + key + "\n[ITALIANO]\n" + key.substr(0, 63) + "=" + text + "\n");
  ASSERT_TRUE(Load());
  ASSERT_EQ(dict.Count(), 1);
  EXPECT_EQ(dict.KeyAt(0), key.substr(0, 63));
  EXPECT_EQ(dict.GetText(key.substr(0, 63)), text.substr(0, 511));
  // A lookup key of 64 or more characters never matches and is cut in the error.
  EXPECT_EQ(dict.GetText(key), key.substr(0, 64) + ": String Error");
}

TEST_F(DictionaryLoad, NumberedTexts) {
  WriteDict("[ENUMKEYS]\nK0=MSG_COLUMN_TITLE_3\n[ITALIANO]\nMSG_COLUMN_TITLE_3=Nome file\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(dict.GetNumberedText("MSG_COLUMN_TITLE", 3), "Nome file");
  EXPECT_EQ(dict.GetNumberedText("MSG_COLUMN_TITLE", 4), "MSG_COLUMN_TITLE_4: String Error");
}

}  // namespace
}  // namespace kestro

#include "context/env.h"

#include <gtest/gtest.h>

#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

TEST(SetFileExtension, ReplacesOrAppends) {
  struct Case {
    const char* in;
    const char* ext;
    const char* out;
  } cases[] = {
      {"song.MID", "MF4", "song.MF4"},
      {"/a.b/song", "MF4", "/a.b/song.MF4"},
      {"/a/song.tar.gz", "MF4", "/a/song.tar.MF4"},
      {"song", "MF4", "song.MF4"},
      {"", "MF4", ".MF4"},
      {"dir\\x.y\\song", "MF4", "dir\\x.y\\song.MF4"},
      {"song.", "MID", "song.MID"},
  };
  for (const auto& c : cases) {
    std::string p = c.in;
    SetFileExtension(p, c.ext);
    EXPECT_EQ(p, c.out) << c.in;
  }
}

TEST(Env, ReportsAndSettings) {
  testing::TempDir dir;
  ProfileFile profile(dir / "Zumbla.INI");
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  dict.LoadFromText(
      "[ENUMKEYS]\nK0=MSG_CANTOPEN\nK1=MSG_READERROR\nK2=MSG_CANTCREATE\nK3=MSG_WRITEERROR\nK4=MSG_CAPTION_WARNING\n"
      "[ITALIANO]\nMSG_CANTOPEN=Non apro %s\nMSG_READERROR=Lettura\nMSG_CANTCREATE=Non creo %s\n"
      "MSG_WRITEERROR=Scrittura\nMSG_CAPTION_WARNING=Attenzione\n",
      "ITALIANO", ui);
  Env env{ui, clock, profile, dict, dir.path()};

  ReportReadError(env, "a.mf4");
  ReportWriteError(env, "b.mf4");
  ShowErrorWarning(env, "Out of memory for card allocation");
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0].text, "Non apro a.mf4");
  EXPECT_EQ(ui.messages[0].caption, "Lettura");
  EXPECT_EQ(ui.messages[0].style, 16u);
  EXPECT_EQ(ui.messages[1].text, "Non creo b.mf4");
  EXPECT_EQ(ui.messages[1].caption, "Scrittura");
  EXPECT_EQ(ui.messages[2].text, "Out of memory for card allocation");
  EXPECT_EQ(ui.messages[2].style, 0x1010u);
  EXPECT_EQ(ui.messages[2].kind, BoxKind::Program);

  EXPECT_FALSE(ReadInstallPath(profile).has_value());
  ASSERT_TRUE(WriteProfileInt(profile, "Settings", "mediaChange", 1));
  EXPECT_EQ(profile.GetString("SETTINGS", "MEDIACHANGE", ""), "1");
  EXPECT_EQ(env.GetInt(settings::kWebUpdate), 1);
  EXPECT_EQ(env.GetFolder(settings::kOldMf4), dir.path());
  ASSERT_TRUE(env.WriteText(settings::kInstallPath, "/opt/kestro"));
  EXPECT_EQ(ReadInstallPath(profile).value(), "/opt/kestro");
}

}  // namespace
}  // namespace kestro

// The window's version command shows the version the build was given.
#include <gtest/gtest.h>

#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "shell/app.h"

namespace kestro {
namespace {

TEST(ShowVersion, TheProjectVersionInTheUsersLanguage) {
  const std::string version = testing::ProjectVersion();
  ASSERT_FALSE(version.empty());
  struct Case {
    const char* language;
    std::string text;
    const char* caption;
  } cases[] = {
      {"ITALIANO", "Kestro versione " + version, "Informazioni"},
      {"ENGLISH", "Kestro version " + version, "Information"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    testing::FillInstallDir(dir.path());
    ProfileFile profile(dir / "Zumbla.INI");
    ASSERT_TRUE(profile.WriteString("SETTINGS", "CURRLANGUAGE", c.language));
    ScriptedUi ui;
    VirtualClock clock;
    Dictionary dict;
    ASSERT_TRUE(dict.Load(dir.path(), profile, ui));
    Env env{ui, clock, profile, dict, dir.path()};
    ShowVersion(env);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, c.text);
    EXPECT_EQ(ui.messages[0].caption, c.caption);
    EXPECT_EQ(ui.messages[0].style, mb::kIconInformation);
  }
}

}  // namespace
}  // namespace kestro

// The keys through which other programs ask Kestro to close, as both sides
// spell them in the shared settings file.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "context/settings_keys.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "shell/app.h"

namespace kestro {
namespace {

TEST(ExitKeys, TheUninstallersRequestIsSeenAndAnswered) {
  testing::TempDir dir;
  ProfileFile profile(dir / "Zumbla.INI");
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  profile.WriteString("PATH", "Installpath", "/somewhere");
  profile.WriteString("SETTINGS", "KESTROACTIVE", "7");
  EXPECT_FALSE(ShutdownRequested(env));

  // The uninstaller writes the key in its own spelling and section name.
  const auto& ask = settings::kKestroShutDownAsk;
  profile.WriteString(ask.section, ask.name, "1");
  EXPECT_TRUE(ShutdownRequested(env));

  WriteExitKeys(env);
  // The uninstaller reads an absent key as 1 (no answer): the answer must
  // be the key itself at 0.
  EXPECT_EQ(profile.GetInt(ask.section, ask.name, ask.intDefault), 0);
  EXPECT_EQ(profile.GetInt("SETTINGS", "KESTROACTIVE", -1), 0);
  EXPECT_FALSE(ShutdownRequested(env));
  EXPECT_EQ(profile.GetString("PATH", "Installpath", ""), "/somewhere");
  // One entry, not two: the file holds a single shutdown line.
  std::istringstream lines(testing::ReadFileOrEmpty(dir / "Zumbla.INI"));
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    std::string key = line.substr(0, line.find('='));
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (key == "KESTROSHUTDOWN") ++count;
  }
  EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace kestro

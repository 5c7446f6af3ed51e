#include "shell/language.h"

#include <gtest/gtest.h>

#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

TEST(LanguageForLocale, ItalianOnlyForItalianLocales) {
  struct Case {
    const char* locale;
    std::string_view language;
  } cases[] = {
      {"it_IT.UTF-8", kItalian}, {"it", kItalian},           {"it_CH", kItalian},
      {"it_IT@euro", kItalian},  {"IT_it.utf8", kItalian},   {"en_GB.UTF-8", kEnglish},
      {"C", kEnglish},           {"C.UTF-8", kEnglish},      {"POSIX", kEnglish},
      {"", kEnglish},            {"de_DE.UTF-8", kEnglish},  {"ita_IT", kEnglish},
      {"i", kEnglish},           {"fr_IT.UTF-8", kEnglish},
  };
  for (const auto& c : cases) EXPECT_EQ(LanguageForLocale(c.locale), c.language) << c.locale;
}

TEST(SetFirstRunLanguage, WritesOnlyWhereNothingIsSet) {
  testing::TempDir dir;
  ProfileFile profile(dir / "Zumbla.INI");
  EXPECT_EQ(CurrentLanguage(profile), "ITALIANO");
  EXPECT_EQ(SetFirstRunLanguage(profile, "en_GB.UTF-8"), "ENGLISH");
  EXPECT_EQ(profile.GetString("SETTINGS", "CURRLANGUAGE", "absent"), "ENGLISH");
  // A later first run in another locale leaves the user's value alone.
  EXPECT_EQ(SetFirstRunLanguage(profile, "it_IT.UTF-8"), "ENGLISH");
  EXPECT_EQ(CurrentLanguage(profile), "ENGLISH");

  // A value that names no language is still the user's; an empty one is no
  // value at all.
  ASSERT_TRUE(profile.WriteString("Settings", "currlanguage", "DEUTSCH"));
  EXPECT_EQ(SetFirstRunLanguage(profile, "it_IT.UTF-8"), "DEUTSCH");
  ASSERT_TRUE(profile.WriteString("SETTINGS", "CURRLANGUAGE", ""));
  EXPECT_EQ(SetFirstRunLanguage(profile, "it_IT.UTF-8"), "ITALIANO");
  EXPECT_EQ(profile.GetString("SETTINGS", "CURRLANGUAGE", "absent"), "ITALIANO");
}

}  // namespace
}  // namespace kestro

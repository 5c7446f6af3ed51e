// The language of every text: SETTINGS/"CURRLANGUAGE" names the section of
// the dictionary that the loader reads at start-up. A new user gets the
// language of the desktop; after that the value is the user's and only an
// explicit choice changes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace kestro {

// The languages the user can choose, as the dictionary names its sections.
inline constexpr std::string_view kItalian = "ITALIANO";
inline constexpr std::string_view kEnglish = "ENGLISH";
inline constexpr std::string_view kLanguages[] = {kItalian, kEnglish};

// The locale that decides the language of messages, in the C library's
// order: LC_ALL, then LC_MESSAGES, then LANG (the first one set and not
// empty); empty when none is.
std::string MessagesLocale();

// ITALIANO for an Italian locale ("it", "it_IT.UTF-8", "it_CH@euro"),
// ENGLISH for every other, "C" and an empty one included.
std::string_view LanguageForLocale(std::string_view locale);

// For the first run (the install step, the window's first start): writes
// CURRLANGUAGE from `locale` unless it already holds a value. Returns the
// language in effect afterwards, or nothing when it could not be written.
std::optional<std::string> SetFirstRunLanguage(ProfileFile& profile, std::string_view locale);

// The language in effect ("ITALIANO" while CURRLANGUAGE is not set).
std::string CurrentLanguage(const ProfileFile& profile);

// The language named `name` (any case) of kLanguages, or nothing.
std::optional<std::string_view> FindLanguage(std::string_view name);

// Writes CURRLANGUAGE. The texts change at the next start of a program,
// since the dictionary is read once at start-up.
bool SetLanguage(ProfileFile& profile, std::string_view language);

}  // namespace kestro

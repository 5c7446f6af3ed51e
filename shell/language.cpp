#include "shell/language.h"

#include <cstdlib>

#include "context/settings_keys.h"

namespace kestro {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

const settings::Key& kKey = settings::kCurrLanguage;

}  // namespace

std::string MessagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return {};
}

std::string_view LanguageForLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
  return EqualNoCase(language, "it") ? kItalian : kEnglish;
}

std::optional<std::string> SetFirstRunLanguage(ProfileFile& profile, std::string_view locale) {
  // An empty value names no dictionary section: it counts as unset.
  std::string current = profile.GetString(kKey.section, kKey.name, "", static_cast<size_t>(kKey.size));
  if (!current.empty()) return current;
  const std::string_view language = LanguageForLocale(locale);
  if (!profile.WriteString(kKey.section, kKey.name, language)) return std::nullopt;
  return std::string(language);
}

std::string CurrentLanguage(const ProfileFile& profile) {
  return profile.GetString(kKey.section, kKey.name, kKey.textDefault, static_cast<size_t>(kKey.size));
}

std::optional<std::string_view> FindLanguage(std::string_view name) {
  for (std::string_view l : kLanguages) {
    if (EqualNoCase(l, name)) return l;
  }
  return std::nullopt;
}

bool SetLanguage(ProfileFile& profile, std::string_view language) {
  return profile.WriteString(kKey.section, kKey.name, language);
}

}  // namespace kestro

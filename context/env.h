// What every operation of the core needs from its surroundings: the user, the
// time, the settings file, the dictionary and the install folder. One Env is
// owned by each application context and passed down explicitly.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/ui.h"
#include "context/dictionary.h"
#include "context/settings_keys.h"

namespace kestro {

struct Env {
  Ui& ui;
  Clock& clock;
  ProfileFile& profile;
  Dictionary& dict;
  std::filesystem::path installDir;

  std::string T(std::string_view key) const { return dict.GetText(key); }
  template <typename... A>
  std::string TF(std::string_view key, const A&... a) const {
    return Fmt(dict.GetText(key), a...);
  }
  // A file of the install folder.
  std::filesystem::path InstallPath(std::string_view name) const { return installDir / std::string(name); }

  // Settings by their table entry.
  std::string GetText(const settings::Key& k) const {
    return profile.GetString(k.section, k.name, k.textDefault, static_cast<size_t>(k.size ? k.size : 255));
  }
  int GetInt(const settings::Key& k) const { return profile.GetInt(k.section, k.name, k.intDefault); }
  bool WriteInt(const settings::Key& k, int value);
  bool WriteText(const settings::Key& k, std::string_view value) {
    return profile.WriteString(k.section, k.name, value);
  }
  // A folder key whose empty default means the install folder.
  std::filesystem::path GetFolder(const settings::Key& k) const;
};

// The message dialog with "MSG_CANTOPEN" / "MSG_READERROR" and the stop icon.
void ReportReadError(Env& env, std::string_view fileName);
// The same with "MSG_CANTCREATE" / "MSG_WRITEERROR".
void ReportWriteError(Env& env, std::string_view fileName);
// An unexpected condition: the text as given, caption "MSG_CAPTION_WARNING",
// stop icon, system modal.
void ShowErrorWarning(Env& env, std::string_view text);
// Writes value as "%d".
bool WriteProfileInt(ProfileFile& file, std::string_view section, std::string_view key, int value);
// Replaces the extension of the last path component by ext (no dot), or
// appends "." and ext when it has none.
void SetFileExtension(std::string& path, std::string_view ext);

// The install folder from PATH/"Installpath", or nothing when the key is
// missing ("Invalid Installation!").
std::optional<std::filesystem::path> ReadInstallPath(const ProfileFile& profile);

}  // namespace kestro

#include "context/env.h"

namespace kestro {

bool Env::WriteInt(const settings::Key& k, int value) { return WriteProfileInt(profile, k.section, k.name, value); }

std::filesystem::path Env::GetFolder(const settings::Key& k) const {
  std::string v = profile.GetString(k.section, k.name, "", 256);
  if (v.empty()) return installDir;
  return std::filesystem::path(v);
}

void ReportReadError(Env& env, std::string_view fileName) {
  env.ui.ShowMessage(env.TF("MSG_CANTOPEN", fileName), env.T("MSG_READERROR"), mb::kIconStop);
}

void ReportWriteError(Env& env, std::string_view fileName) {
  env.ui.ShowMessage(env.TF("MSG_CANTCREATE", fileName), env.T("MSG_WRITEERROR"), mb::kIconStop);
}

void ShowErrorWarning(Env& env, std::string_view text) {
  env.ui.ShowMessage(text, env.T("MSG_CAPTION_WARNING"), mb::kSystemModal | mb::kIconStop);
}

bool WriteProfileInt(ProfileFile& file, std::string_view section, std::string_view key, int value) {
  return file.WriteString(section, key, std::to_string(value));
}

void SetFileExtension(std::string& path, std::string_view ext) {
  for (size_t i = path.size(); i-- > 0;) {
    char c = path[i];
    if (c == '.') {
      path.resize(i + 1);
      path += ext;
      return;
    }
    if (c == '/' || c == '\\') break;
  }
  path += '.';
  path += ext;
}

std::optional<std::filesystem::path> ReadInstallPath(const ProfileFile& profile) {
  std::string v = profile.GetString(settings::kInstallPath.section, settings::kInstallPath.name, "?", 256);
  if (v == "?" || v.empty()) return std::nullopt;
  return std::filesystem::path(v);
}

}  // namespace kestro

#include "context/shortcuts.h"

#include <sys/stat.h>

#include <fstream>
#include <system_error>

#include "platform/fileutil.h"
#include "platform/paths.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

fs::path Canonical(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : c;
}

// <prefix>/share of the programs in programDir, when the menu reads it.
std::optional<fs::path> MenuShareDir(const fs::path& programDir) {
  fs::path share = Canonical(programDir / ".." / "share");
  std::vector<fs::path> read = SystemDataDirs();
  read.insert(read.begin(), DataHomeDir());
  for (const auto& d : read) {
    if (Canonical(d) == share) return share;
  }
  return std::nullopt;
}

// The escapes of a string value of a desktop entry.
std::string ValueEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// One argument of the Exec key: quoted, with the characters that the quoting
// rule reserves escaped, and a percent sign doubled (a field code otherwise).
std::string ExecArgument(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return out + "\"";
}

}  // namespace

UserFolders CurrentUserFolders() { return {DataHomeDir() / "applications", DesktopDir()}; }

bool MenuServedByInstallation(const Shortcut& s, const fs::path& programDir) {
  auto share = MenuShareDir(programDir);
  std::error_code ec;
  // The first run's own entry there (programs installed under
  // ~/.local/bin) does not count.
  const fs::path entry = share ? *share / "applications" / s.file : fs::path();
  return share && fs::is_regular_file(entry, ec) && !IsFirstRunEntry(entry);
}

std::string DesktopEntryText(const Shortcut& s, const fs::path& programDir, const fs::path& dataDir) {
  std::error_code ec;
  std::string icon;
  auto share = MenuShareDir(programDir);
  if (share && fs::is_regular_file(*share / "icons" / "hicolor" / "scalable" / "apps" / (std::string(kIconName) + ".svg"), ec))
    icon = kIconName;
  else
    icon = ValueEscaped(Canonical(dataDir / "art" / "MainIcon.svg").string());
  std::string exec = ValueEscaped(ExecArgument(Canonical(programDir / s.program).string()));
  if (*s.mimeTypes) exec += " %F";
  std::string t = "[Desktop Entry]\nType=Application\n";
  t += std::string("Name=") + s.name + "\nName[it]=" + s.nameIt + "\n";
  t += std::string("Comment=") + s.comment + "\nComment[it]=" + s.commentIt + "\n";
  t += "Exec=" + exec + "\n";
  t += "Icon=" + icon + "\n";
  t += "Terminal=false\nCategories=AudioVideo;Audio;\n";
  if (*s.mimeTypes) t += std::string("MimeType=") + s.mimeTypes + "\n";
  t += std::string(kFirstRunMark) + "\n";
  return t;
}

std::vector<fs::path> MakeShortcuts(const UserFolders& folders, const fs::path& programDir, const fs::path& dataDir) {
  std::vector<fs::path> written;
  std::error_code ec;
  for (const auto& s : kShortcuts) {
    if (!fs::is_regular_file(programDir / s.program, ec)) continue;
    const std::string text = DesktopEntryText(s, programDir, dataDir);
    std::vector<fs::path> targets;
    if (!MenuServedByInstallation(s, programDir)) targets.push_back(folders.applications / s.file);
    if (s.onDesktop && folders.desktop) targets.push_back(*folders.desktop / s.file);
    for (const auto& target : targets) {
      // An entry of the user's own making under that name stays as it is.
      if (fs::exists(fs::symlink_status(target, ec)) && !IsFirstRunEntry(target)) continue;
      if (!WriteFileAtomic(target, text)) continue;
      // Desktops start only entries that their owner may execute.
      chmod(target.c_str(), 0755);
      written.push_back(target);
    }
  }
  return written;
}

bool IsFirstRunEntry(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(path, ec))) return false;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line == kFirstRunMark) return true;
  }
  return false;
}

}  // namespace kestro

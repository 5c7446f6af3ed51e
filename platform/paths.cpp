#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

namespace {

// An environment variable holding an absolute path; the base-directory rules
// ignore relative ones.
std::optional<fs::path> AbsoluteFromEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v || v[0] != '/') return std::nullopt;
  return fs::path(v);
}

fs::path ConfigHomeDir() { return AbsoluteFromEnv("XDG_CONFIG_HOME").value_or(HomeDir() / ".config"); }

// The value of `key` in user-dirs.dirs: a shell assignment whose value is
// "$HOME/..." or an absolute path, in double quotes.
std::optional<fs::path> UserDir(const std::string& key) {
  std::ifstream in(ConfigHomeDir() / "user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size() + 1, key + "=") != 0) continue;
    std::string v = line.substr(start + key.size() + 1);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    std::string unescaped;
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      unescaped += v[i];
    }
    if (unescaped.rfind("$HOME", 0) == 0) return HomeDir() / fs::path(unescaped.substr(5)).relative_path();
    if (!unescaped.empty() && unescaped[0] == '/') return fs::path(unescaped);
    return std::nullopt;
  }
  return std::nullopt;
}

fs::path StripTrailingSeparators(fs::path p) {
  p = p.lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return fs::path(s);
}

}  // namespace

fs::path HomeDir() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  }
  return fs::path(home ? home : ".");
}

fs::path SettingsDir() {
  if (const char* z = std::getenv("ZUMBLA_HOME"); z && *z) return fs::path(z);
  return HomeDir() / ".config" / "zumbla";
}

fs::path ProfilePath() { return SettingsDir() / kProfileName; }

fs::path ExecutableDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  return exe.parent_path();
}

fs::path ShippedDataDir() {
  if (const char* d = std::getenv("KESTRO_DATA_DIR"); d && *d) return fs::path(d);
  return (ExecutableDir() / ".." / "share" / "kestro").lexically_normal();
}

fs::path DataHomeDir() { return AbsoluteFromEnv("XDG_DATA_HOME").value_or(HomeDir() / ".local" / "share"); }

std::vector<fs::path> SystemDataDirs() {
  std::vector<fs::path> dirs;
  const char* v = std::getenv("XDG_DATA_DIRS");
  std::string list = v && *v ? v : "/usr/local/share/:/usr/share/";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    if (!item.empty() && item[0] == '/') dirs.push_back(StripTrailingSeparators(item));
    start = end + 1;
  }
  return dirs;
}

std::optional<fs::path> DesktopDir() {
  fs::path dir = UserDir("XDG_DESKTOP_DIR").value_or(HomeDir() / "Desktop");
  std::error_code ec;
  if (StripTrailingSeparators(dir) == StripTrailingSeparators(HomeDir())) return std::nullopt;
  if (!fs::is_directory(dir, ec)) return std::nullopt;
  return dir;
}

bool IsWithin(const fs::path& path, const fs::path& folder) {
  fs::path p = StripTrailingSeparators(path);
  fs::path f = StripTrailingSeparators(folder);
  auto pi = p.begin();
  for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
    if (pi == p.end() || *pi != *fi) return false;
  }
  return true;
}

}  // namespace kestro

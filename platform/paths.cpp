#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

fs::path SettingsDir() {
  if (const char* z = std::getenv("ZUMBLA_HOME"); z && *z) return fs::path(z);
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  }
  return fs::path(home ? home : ".") / ".config" / "zumbla";
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

}  // namespace kestro

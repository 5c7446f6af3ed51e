#include "uninstall/confined_remove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

namespace kestro::uninstall {

namespace fs = std::filesystem;

namespace {

// The components of an absolute path below "/", or false when one of them is
// empty (a trailing separator), "." or "..".
bool PlainComponents(const fs::path& p, std::vector<std::string>* out) {
  if (!p.is_absolute()) return false;
  out->clear();
  for (auto it = std::next(p.begin()); it != p.end(); ++it) {
    std::string c = it->string();
    if (c.empty() || c == "." || c == "..") return false;
    out->push_back(c);
  }
  return true;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

bool RemoveInside(const fs::path& root, const fs::path& target, Removal kind) {
  // A root given with a trailing separator is still the same folder.
  std::string rootText = root.lexically_normal().string();
  while (rootText.size() > 1 && rootText.back() == '/') rootText.pop_back();
  std::vector<std::string> rootParts, targetParts;
  if (!PlainComponents(rootText, &rootParts) || !PlainComponents(target, &targetParts)) return false;
  if (targetParts.size() < rootParts.size()) return false;
  for (size_t i = 0; i < rootParts.size(); ++i) {
    if (targetParts[i] != rootParts[i]) return false;
  }

  if (targetParts.size() == rootParts.size()) {
    // The folder itself: only as an empty folder, and not "/" itself.
    if (kind != Removal::EmptyFolder || rootParts.empty()) return false;
    std::string parent = "/";
    for (size_t i = 0; i + 1 < rootParts.size(); ++i) parent += rootParts[i] + "/";
    Fd dir(open(parent.c_str(), kDirFlags));
    return dir.get() >= 0 && unlinkat(dir.get(), rootParts.back().c_str(), AT_REMOVEDIR) == 0;
  }

  // The root as configured (a link there was the user's choice); below it,
  // one component at a time without following links.
  Fd dir(open(rootText.c_str(), kDirFlags));
  if (dir.get() < 0) return false;
  for (size_t i = rootParts.size(); i + 1 < targetParts.size(); ++i) {
    int next = openat(dir.get(), targetParts[i].c_str(), kDirFlags | O_NOFOLLOW);
    if (next < 0) return false;
    dir.reset(next);
  }
  const std::string& last = targetParts.back();
  if (kind == Removal::EmptyFolder) return unlinkat(dir.get(), last.c_str(), AT_REMOVEDIR) == 0;
  struct stat st;
  if (fstatat(dir.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlinkat(dir.get(), last.c_str(), 0) == 0;
}

}  // namespace kestro::uninstall

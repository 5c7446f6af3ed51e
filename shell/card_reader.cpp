#include "shell/card_reader.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

namespace {

// Mount points escape blanks and a few other characters as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      int v = 0;
      bool ok = true;
      for (size_t k = 1; k <= 3; ++k) {
        char c = s[i + k];
        if (c < '0' || c > '7') ok = false;
        v = v * 8 + (c - '0');
      }
      if (ok) {
        out += static_cast<char>(v);
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

bool Below(const fs::path& p, const fs::path& root) {
  auto r = root.lexically_normal();
  auto q = p.lexically_normal();
  auto it = q.begin();
  for (const auto& part : r) {
    if (part.empty()) continue;
    if (it == q.end() || *it != part) return false;
    ++it;
  }
  return it != q.end();
}

}  // namespace

bool HoldsCardIndex(const fs::path& folder) {
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return false;
  if (fs::is_regular_file(folder / "MINDEX0.DAT", ec)) return true;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    std::string name = e.path().filename().string();
    if (name.size() != 11) continue;
    std::string up = name;
    for (char& c : up) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::error_code ec2;
    if (up == "MINDEX0.DAT" && e.is_regular_file(ec2)) return true;
  }
  return false;
}

std::vector<fs::path> RemovableMounts(const MountSources& sources) {
  std::vector<fs::path> out;
  std::ifstream in(sources.mountTable);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint;
    if (!(fields >> device >> mountPoint)) continue;
    fs::path mp = Unescape(mountPoint);
    for (const auto& root : sources.removableRoots) {
      if (Below(mp, root)) {
        out.push_back(mp);
        break;
      }
    }
  }
  return out;
}

std::optional<fs::path> FindCardReaderDrive(Env& env, const MountSources& sources) {
  std::string remembered = env.GetText(settings::kFlashDrive);
  if (!remembered.empty() && HoldsCardIndex(remembered)) return fs::path(remembered);
  for (const auto& mp : RemovableMounts(sources)) {
    if (HoldsCardIndex(mp)) {
      env.WriteText(settings::kFlashDrive, mp.string());
      return mp;
    }
  }
  return std::nullopt;
}

}  // namespace kestro

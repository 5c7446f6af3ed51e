#include "convert/work_files.h"

#include <string>
#include <system_error>

#include "platform/fileutil.h"

namespace kestro::workfile {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFixed[] = {kContent, kMf3Stream, kTemp,    kPreprocessed, kRewrite,
                                  kKaraoke, kTune1000,  kPreview, kLog};

}  // namespace

fs::path CataloguePass(const Env& env, std::string_view sourceStem, int pass) {
  return env.InstallPath(std::string(sourceStem) + "_M" + std::to_string(pass) + ".MID");
}

void RemoveAll(const Env& env, std::string_view sourceStem) {
  for (const char* name : kFixed) RemoveFile(env.InstallPath(name));
  for (int pass = 1; pass <= 3; ++pass) RemoveFile(CataloguePass(env, sourceStem, pass));
}

bool IsWorkFile(const Env& env, const fs::path& path, std::string_view sourceStem) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return false;
  auto same = [&](const fs::path& work) {
    std::error_code e2;
    return fs::exists(work, e2) && fs::equivalent(path, work, e2);
  };
  for (const char* name : kFixed) {
    if (same(env.InstallPath(name))) return true;
  }
  for (int pass = 1; pass <= 3; ++pass) {
    if (same(CataloguePass(env, sourceStem, pass))) return true;
  }
  // Not there yet, but it would be written: the same name in the install folder.
  fs::path parent = fs::weakly_canonical(path.parent_path(), ec);
  if (parent == fs::weakly_canonical(env.installDir, ec)) {
    std::string name = path.filename().string();
    for (const char* fixed : kFixed) {
      if (name == fixed) return true;
    }
    for (int pass = 1; pass <= 3; ++pass) {
      if (name == CataloguePass(env, sourceStem, pass).filename().string()) return true;
    }
  }
  return false;
}

}  // namespace kestro::workfile

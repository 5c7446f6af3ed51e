// Zumbla.INI as another program may have left it: every key the suite reads,
// as text, number and struct, then one key written. A write changes the key
// it writes and no other, and reads back as written.
#include <cstdlib>
#include <string>
#include <vector>

#include "context/fuzz/fuzz_support.h"
#include "context/settings_keys.h"
#include "platform/profile.h"

using namespace kestro;

namespace {

const settings::Key* const kKeys[] = {
    &settings::kCurrLanguage, &settings::kInstallPath,  &settings::kUsbAgent,     &settings::kKestroActive,
    &settings::kKestroShutdown, &settings::kNewSongs,   &settings::kMediaChange,  &settings::kFlashDrive,
    &settings::kOldMf4,       &settings::kNewMf4,       &settings::kDownloadMf4,  &settings::kImportPath,
    &settings::kServerPath,   &settings::kWebUpdate,    &settings::kForceDbSettings, &settings::kListSortOrder,
    &settings::kList1Width,   &settings::kList2Width,   &settings::kAgentShutdown, &settings::kKestroShutDownAsk,
    &settings::kSimulator,    &settings::kBulkVid,      &settings::kBulkPid,      &settings::kFtdiVid,
    &settings::kFtdiPid};

std::vector<std::string> ReadAll(const ProfileFile& f) {
  std::vector<std::string> out;
  for (const settings::Key* k : kKeys) {
    out.push_back(f.GetString(k->section, k->name, "\x01", 255));
    out.push_back(std::to_string(f.GetInt(k->section, k->name, -12345)));
    uint8_t s[40] = {};
    if (f.GetStruct(k->section, k->name, s, sizeof s)) out.emplace_back(reinterpret_cast<char*>(s), sizeof s);
    else out.emplace_back("-");
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto path = fuzz::PutFile("Zumbla.INI", data, size);
  ProfileFile file(path);
  std::vector<std::string> before = ReadAll(file);
  (void)ParseProfileInt(std::string_view(reinterpret_cast<const char*>(data), size));

  // The liveness key: Kestro writes it on every tick, beside whatever the
  // other programs keep in the file.
  if (!file.WriteString("SETTINGS", "KESTROACTIVE", "7")) std::abort();
  if (file.GetString("SETTINGS", "KESTROACTIVE", "", 255) != "7") std::abort();
  std::vector<std::string> after = ReadAll(file);
  for (size_t i = 0; i < before.size(); ++i) {
    const settings::Key* k = kKeys[i / 3];
    if (k == &settings::kKestroActive) continue;
    if (before[i] != after[i]) std::abort();
  }
  return 0;
}

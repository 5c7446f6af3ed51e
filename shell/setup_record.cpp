#include "shell/setup_record.h"

#include "platform/fileutil.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSetupFileName = "MSETUP.DAT";

}  // namespace

std::optional<fs::path> SetupRecordFile(const App& app) {
  switch (app.cycle.currentMedium) {
    case 0: return app.lib.flashDrive / kSetupFileName;
    case 1:
    case 2: return app.env.InstallPath(kSetupFileName);
    default: return std::nullopt;
  }
}

std::optional<SetupRecord> LoadSetupRecord(App& app) {
  auto file = SetupRecordFile(app);
  if (!file) return std::nullopt;
  Ui& ui = app.env.ui;
  ui.BeginWaitCursor();
  std::optional<SetupRecord> out;
  bool fromPlayer = app.cycle.currentMedium != 0;
  // An old copy must not stand in for a record the player did not give.
  if (fromPlayer) {
    std::error_code ec;
    fs::remove(*file, ec);
  }
  if (!fromPlayer || app.player.ReadRamSetup(*file)) {
    auto bytes = ReadBinaryFile(*file);
    if (bytes && bytes->size() >= kSetupBytes) {
      SetupRecord r{};
      std::copy(bytes->begin(), bytes->begin() + kSetupBytes, r.begin());
      out = r;
    }
  }
  ui.EndCursor();
  return out;
}

bool SaveSetupRecord(App& app, const SetupRecord& record) {
  auto file = SetupRecordFile(app);
  if (!file) return false;
  Ui& ui = app.env.ui;
  ui.BeginWaitCursor();
  bool written = WriteBinaryFile(*file, record.data(), record.size());
  if (written && app.cycle.currentMedium != 0) app.player.WriteRamSetup(*file);
  ui.EndCursor();
  return written;
}

}  // namespace kestro

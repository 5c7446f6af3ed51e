#include "gui/file_import.h"

#include <algorithm>
#include <system_error>

#include "convert/convert_context.h"
#include "gui/lost_link.h"
#include "library/song_import.h"
#include "shell/commands.h"

namespace kestro::gui {

namespace fs = std::filesystem;

namespace {

// The busy flag for the length of an import: the connection cycle and the
// other commands stay out of the way while the import pumps events.
class ImportBusy {
 public:
  explicit ImportBusy(ConnectionCycle& cycle) : cycle_(cycle) { cycle_.busy = true; }
  ~ImportBusy() { cycle_.busy = false; }
  ImportBusy(const ImportBusy&) = delete;
  ImportBusy& operator=(const ImportBusy&) = delete;

 private:
  ConnectionCycle& cycle_;
};

fs::path StartFolder(const Env& env) {
  std::string stored = env.GetText(settings::kImportPath);
  std::error_code ec;
  if (!stored.empty() && fs::is_directory(stored, ec)) return stored;
  const char* home = std::getenv("HOME");
  return home ? fs::path(home) : fs::current_path(ec);
}

}  // namespace

std::string FileImport::ReportText(int imported) const {
  const Env& env = app_.env;
  return imported == 1 ? env.T("MSG_IMPORT_ONE_SONG_FROM_PC") : env.TF("MSG_IMPORT_N_SONGS_FROM_PC", imported);
}

int FileImport::ImportFiles(const std::vector<fs::path>& files, const fs::path& songFolder, bool dropped,
                            const std::string& line1, const std::string& line2) {
  Env& env = app_.env;
  Ui& ui = env.ui;
  ConvertContext conversion;
  // A new batch: both questions of the conversion are asked again.
  conversion.EnableQuestions();
  const int total = static_cast<int>(files.size());
  ui.SetProgressTitle(env.T("MSG_IMPORT_PROGRESS_TITLE"));
  ui.ProgressStartCounted(total);
  ui.ProgressLine1(line1);
  ui.ProgressLine2("");
  int imported = 0;
  int done = 0;
  auto step = [&] {
    ++done;
    ui.ProgressStepCounted(1);
    ui.ProgressLine2(Fmt(line2, done, total));
    ui.Repaint();
    // The user closed the progress window: the files not yet imported stay
    // where they are.
    return !ui.AbortRequested();
  };
  std::vector<fs::path> songs;
  for (const fs::path& file : files) {
    std::error_code ec;
    // A folder is no song, whatever its name says.
    if (fs::is_directory(file, ec)) {
      if (!step()) {
        ui.ProgressEnd();
        return imported;
      }
    } else {
      songs.push_back(file);
    }
  }
  library::ImportOptions options;
  options.dropped = dropped;
  library::ImportSongFiles(env, conversion, songs, songFolder, options,
                           [&](size_t, const library::ImportResult& r) {
                             if (r.outcome == library::ImportOutcome::Imported) ++imported;
                             return step();
                           });
  ui.ProgressEnd();
  return imported;
}

int FileImport::ImportFromPc() {
  Env& env = app_.env;
  OpenFileRequest req;
  req.folder = StartFolder(env).string();
  req.title = env.T("MSG_IMPORT_CHOOSER_TITLE");
  req.filterName = env.T("MSG_IMPORT_CHOOSER_FILTER");
  req.patterns = "*.MID;*.KAR;*.MF3;*.MF4;*.MP3";
  req.multiple = true;
  auto chosen = env.ui.ChooseOpenFiles(req);
  if (!chosen || chosen->files.empty()) return 0;
  env.WriteText(settings::kImportPath, chosen->folder);

  int imported = 0;
  {
    ImportBusy busy(app_.cycle);
    env.ui.BeginWaitCursor();
    std::vector<fs::path> files(chosen->files.begin(), chosen->files.end());
    imported = ImportFiles(files, app_.lib.pcFolder, false, env.T("MSG_IMPORT_LINE_FROM_PC"),
                           "%d of %d");
    app_.lib.ReloadPcList();
  }
  app_.cycle.RefreshLists();
  env.ui.EndCursor();
  env.ui.ShowMessage(ReportText(imported), env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
  return imported;
}

int FileImport::ImportDropped(const std::vector<fs::path>& files, bool toPlayer) {
  if (files.empty()) return 0;
  Env& env = app_.env;
  // Songs for the player need a player: without one nothing is imported,
  // rather than songs landing nowhere.
  if (toPlayer && !app_.RequirePlayerReady()) return 0;
  const fs::path pcFolder = app_.lib.pcFolder;
  const fs::path target = toPlayer ? pcFolder / "temp" : pcFolder;
  std::error_code ec;
  if (toPlayer) {
    fs::remove_all(target, ec);
    fs::create_directories(target, ec);
    if (ec) {
      ReportWriteError(env, target.string());
      return 0;
    }
  }
  env.ui.BeginWaitCursor();
  int imported = 0;
  {
    ImportBusy busy(app_.cycle);
    imported = ImportFiles(files, target, true, env.T("MSG_IMPORT_LINE_DROPPED"), env.T("MSG_X_OF_N"));
  }
  if (toPlayer) {
    // The imported songs alone, all selected, go on to the player.
    app_.lib.pcFolder = target;
    app_.lib.ReloadPcList();
    for (auto& r : app_.lib.pc) r.selected = true;
    app_.lib.outcomes.clear();
    if (imported > 0) TransferToPlayer(app_);
    ReportLostLink(app_);
    fs::remove_all(target, ec);
    app_.lib.pcFolder = pcFolder;
  }
  app_.lib.ReloadPcList();
  app_.cycle.RefreshLists();
  env.ui.EndCursor();
  env.ui.SystemMessage(ReportText(imported), env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
  return imported;
}

namespace {

std::vector<fs::path> SongFilesIn(const fs::path& folder) {
  std::error_code ec;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.is_regular_file(ec) && library::SongFileKindOf(e.path()) != library::SongFileKind::Other) {
      files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int ImportDemoSongs(Env& env, const fs::path& demoFolder, const fs::path& pcFolder) {
  for (const fs::path& f : SongFilesIn(pcFolder)) {
    auto kind = library::SongFileKindOf(f);
    if (kind == library::SongFileKind::Mf4 || kind == library::SongFileKind::Mp3) return 0;
  }
  ConvertContext conversion;
  // No questions: the user has not asked for these songs.
  conversion.noLyricsQuestion.enabled = false;
  conversion.notColouredQuestion.enabled = false;
  int imported = 0;
  for (const fs::path& f : SongFilesIn(demoFolder)) {
    if (library::ImportSongFile(env, conversion, f, pcFolder).outcome == library::ImportOutcome::Imported) ++imported;
  }
  return imported;
}

}  // namespace kestro::gui

#include "shell/floppy.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

#include "library/pc_folder.h"
#include "library/song_import.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"
#include "platform/format.h"

namespace kestro {

namespace fs = std::filesystem;
using library::Library;

namespace {

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The files (not folders) of the floppy, by name; nothing when it cannot be
// listed.
std::optional<std::vector<fs::path>> ListFiles(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return std::nullopt;
  std::vector<fs::path> files;
  for (const auto& e : it) {
    std::error_code e2;
    if (e.is_regular_file(e2)) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool LooksLikeSong(const fs::path& file) {
  const std::string name = Upper(file.filename().string());
  for (const char* ext : {".MF4", ".KAR", ".MF3", ".MID"}) {
    if (name.find(ext) != std::string::npos) return true;
  }
  return false;
}

// Title and performer of an MF4 file's header; nothing when it cannot be
// read.
struct HeaderTexts {
  std::string title, performer;
};
std::optional<HeaderTexts> ReadHeaderTexts(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> h(512, 0);
  if (!in.read(reinterpret_cast<char*>(h.data()), static_cast<std::streamsize>(h.size()))) return std::nullopt;
  return HeaderTexts{library::FieldText(h.data() + library::kMf4Title, 32),
                     library::FieldText(h.data() + library::kMf4Performer, 32)};
}

// The PC song a floppy song of the same title and performer would replace.
const library::SongRecord* SameSong(const library::SongList& pc, const HeaderTexts& t) {
  for (const auto& r : pc) {
    if (r.title == t.title && r.author == t.performer) return &r;
  }
  return nullptr;
}

// After its replacement is whole: the replaced song, and its copies waiting
// in the folders where new and downloaded songs arrive.
void RemoveReplacedSong(App& app, const fs::path& old, const fs::path& replacement) {
  if (!SameFile(old, replacement)) {
    app.lib.RemovePcSong(old, false);
    return;
  }
  const library::PcFolders f = library::ReadPcFolders(app.env);
  const std::string base = library::BaseNameOf(old.filename().string());
  for (const fs::path& folder : {f.downloadMf4, f.newMf4}) {
    if (!SameFile(folder, f.oldMf4)) RemoveFile(folder / (base + ".MF4"));
  }
}

void Note(Library& lib, const fs::path& song, const fs::path& target, Library::Outcome outcome) {
  lib.outcomes.push_back({song.string(), target.string(), outcome});
}

}  // namespace

std::optional<fs::path> FindFloppyFolder(Env& env, const MountSources& sources) {
  std::error_code ec;
  const std::string chosen = env.GetText(settings::kFloppy);
  if (!chosen.empty()) {
    if (fs::is_directory(chosen, ec)) return fs::path(chosen);
    return std::nullopt;
  }
  const std::string card = env.GetText(settings::kFlashDrive);
  for (const fs::path& mp : RemovableMounts(sources)) {
    if (HoldsCardIndex(mp)) continue;
    if (!card.empty() && SameFile(mp, card)) continue;
    if (fs::is_directory(mp, ec)) return mp;
  }
  return std::nullopt;
}

CommandStatus SaveSongsToFloppy(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  Env& env = app.env;
  Library& lib = app.lib;
  lib.outcomes.clear();
  const std::string title = env.T("MSG_PROGRESS_TITLE_SAVING_TO_FLOPPY");
  if (env.ui.ShowMessage(env.T("MSG_DIALOG_INSERT_FLOPPY"), title, mb::kOkCancel | mb::kIconQuestion) != kIdOk) {
    return CommandStatus::NothingDone;
  }
  const auto folder = FindFloppyFolder(env, app.cycle.mountSources);
  if (!folder) {
    env.ui.ShowMessage(env.T("MSG_NO_FLOPPY_FOLDER"), env.T("MSG_CAPTION_WARNING"), mb::kIconStop);
    return CommandStatus::NothingDone;
  }

  std::vector<fs::path> songs;
  for (const auto& r : lib.pc) {
    if (r.selected) songs.push_back(r.fileName);
  }
  env.ui.BeginWaitCursor();
  env.ui.SetProgressTitle(title);
  env.ui.ProgressStart(static_cast<int>(songs.size()));
  bool any = false;
  for (size_t i = 0; i < songs.size(); ++i) {
    const fs::path& source = songs[i];
    // An MP3 song stays an MP3 file.
    std::string ext = library::ExtensionOf(source.string());
    if (ext.empty()) ext = "MF4";
    const fs::path dest = *folder / (library::BaseNameOf(source.string()) + "." + ext);
    env.ui.ProgressLine1(env.TF("MSG_PROGRESS_TRANSFER_FILE", source.string(), static_cast<int>(i + 1),
                                static_cast<int>(songs.size())));
    if (CopyFileAtomic(source, dest) == CopyResult::Done) {
      Note(lib, source, dest, Library::Outcome::Done);
      any = true;
    } else {
      env.ui.ShowMessage(Fmt("ATTENZIONE! non posso copiare il file %s\n su dischetto", source.string()), "Copy",
                         mb::kIconStop);
      Note(lib, source, dest, Library::Outcome::Failed);
    }
    env.ui.PumpMessages();
    env.ui.ProgressStep();
  }
  env.ui.EndCursor();
  env.ui.ProgressEnd();
  return any ? CommandStatus::Done : CommandStatus::NothingDone;
}

CommandStatus LoadSongsFromFloppy(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  BusyScope busy(app.cycle);
  Env& env = app.env;
  Library& lib = app.lib;
  lib.outcomes.clear();
  const std::string title = env.T("MSG_PROGRESS_TITLE_LOADING_FROM_FLOPPY");
  if (env.ui.ShowMessage(env.T("MSG_DIALOG_INSERT_FLOPPY"), title, mb::kOkCancel | mb::kIconQuestion) != kIdOk) {
    return CommandStatus::NothingDone;
  }
  env.ui.BeginWaitCursor();
  env.ui.SetProgressTitle(title);
  const auto folder = FindFloppyFolder(env, app.cycle.mountSources);
  const auto listed = folder ? ListFiles(*folder) : std::nullopt;
  const int count = listed ? static_cast<int>(std::count_if(listed->begin(), listed->end(), LooksLikeSong)) : 0;
  if (count == 0) {
    env.ui.ShowMessage(env.T("MSG_NO_MF4_IN_THIS_FLOPPY"), env.T("MSG_CAPTION_WARNING"), mb::kIconStop);
    env.ui.EndCursor();
    env.ui.ProgressEnd();
    return CommandStatus::NothingDone;
  }

  env.ui.ProgressStart(count);
  env.ui.ProgressLine2("");
  env.ui.ProgressLine1(env.T("MSG_IMPORTING_FROM_FLOPPY"));
  // One import batch: the conversion's questions start switched on.
  app.conversion.EnableQuestions();
  const fs::path pcFolder = lib.pcFolder;
  int imported = 0;
  for (const fs::path& source : *listed) {
    env.ui.ProgressLine2(Fmt("%d di %d", imported + 1, count));
    const library::SongFileKind kind = library::SongFileKindOf(source);
    const fs::path dest = library::DestinationFor(pcFolder, source);
    const library::SongRecord* replaced = nullptr;
    bool skipped = kind == library::SongFileKind::Mp3 || kind == library::SongFileKind::Other;
    if (skipped && LooksLikeSong(source)) Note(lib, source, dest, Library::Outcome::Skipped);
    if (kind == library::SongFileKind::Mf4) {
      // An unreadable header is the import's to tell of.
      const auto texts = ReadHeaderTexts(source);
      replaced = texts ? SameSong(lib.pc, *texts) : nullptr;
      if (replaced && env.ui.ShowMessage(env.TF("MSG_ALREADY_EXIST", replaced->title), env.T("MSG_CAPTION_WARNING"),
                                         mb::kYesNo | mb::kIconExclamation) != kIdYes) {
        Note(lib, source, dest, Library::Outcome::Skipped);
        skipped = true;
      }
    }
    if (!skipped) {
      const fs::path old = replaced ? fs::path(replaced->fileName) : fs::path();
      const library::ImportResult r = library::ImportSongFile(env, app.conversion, source, pcFolder);
      if (r.outcome == library::ImportOutcome::Imported) {
        if (replaced) RemoveReplacedSong(app, old, r.destination);
        Note(lib, source, r.destination, Library::Outcome::Done);
        ++imported;
      } else {
        Note(lib, source, dest,
             r.outcome == library::ImportOutcome::Failed ? Library::Outcome::Failed : Library::Outcome::Skipped);
      }
    }
    env.ui.PumpMessages();
    env.ui.ProgressStep();
  }

  env.ui.ProgressEnd();
  lib.ReloadPcList();
  app.cycle.RefreshLists();
  env.ui.EndCursor();
  const std::string done = imported == 1 ? env.T("MSG_1_SONG_IMPORTED_FROM_FLOPPY")
                                         : env.TF("MSG_N_SONGS_IMPORTED_FROM_FLOPPY", imported);
  env.ui.ShowMessage(done, env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
  return imported > 0 ? CommandStatus::Done : CommandStatus::NothingDone;
}

}  // namespace kestro

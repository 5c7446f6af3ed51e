// The player's card as the song library sees it: its structure (index files,
// setup record, firmware copy, 31 song folders), its song list, and the
// regeneration of its index files.
#include <cstring>
#include <system_error>

#include "cardfs/card_fs.h"
#include "cardfs/names.h"
#include "library/index_files.h"
#include "library/library.h"
#include "link/player.h"
#include "platform/fileutil.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

struct Template {
  const char* file;
  Bytes bytes;
};

// The three templates a missing file is made from.
std::vector<Template> Templates() {
  Bytes setup(35, 0);
  const uint8_t head[] = {0x00, 0x03, 0x00, 0x01, 0x01, 0x01, 0x01};
  std::memcpy(setup.data(), head, sizeof head);
  return {{"EMPTY.DAT", Bytes(32, 0)}, {"SETUP.DAT", setup}, {"MINUS1FILE.DAT", Bytes(52, 0xFF)}};
}

// The card's files and the template each is made from when missing.
struct StructureFile {
  IndexFileName name;
  const char* from;  // a template, or null for the firmware copy
};
const StructureFile kStructureFiles[] = {
    {kMindex0, "EMPTY.DAT"},      {kMindex2, "EMPTY.DAT"},      {kMindex4, "EMPTY.DAT"},
    {kMsetup, "SETUP.DAT"},       {kMalpha0, "MINUS1FILE.DAT"}, {kMalpha2, "MINUS1FILE.DAT"},
    {kFirmwareCopy, nullptr},
};
constexpr int kSongFolders = 31;

bool ExistsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

}  // namespace

fs::path Library::IndexDir() const { return medium == kMediumCardReader ? flashDrive : env.installDir; }

bool Library::CheckCardStructure() {
  if (medium == kMediumCard) {
    if (!card || !card->Mounted()) return false;
    CardDirEntry e;
    for (int i = 0; i < 6; ++i) {
      if (!card->FindEntry("", kStructureFiles[i].name.name11, e)) return false;
    }
    for (int f = 0; f < kSongFolders; ++f) {
      if (!card->FindEntry("", FolderName11(f), e)) return false;
    }
    return true;
  }
  if (flashDrive.empty()) return false;
  for (int i = 0; i < 6; ++i) {
    if (!ExistsFile(flashDrive / kStructureFiles[i].name.name)) return false;
  }
  std::error_code ec;
  for (int f = 0; f < kSongFolders; ++f) {
    if (!fs::is_directory(flashDrive / std::to_string(f), ec)) return false;
  }
  return true;
}

int Library::CreateCardStructure() {
  env.ui.BeginWaitCursor();
  for (const auto& t : Templates()) {
    if (!WriteBinaryFile(env.InstallPath(t.file), t.bytes)) ReportWriteError(env, env.InstallPath(t.file).string());
  }
  // The firmware copy exists only once a firmware file was fetched; a
  // missing one is no error worth telling at every card change.
  const fs::path firmware = env.InstallPath("ZUMBLA2.MHX");
  auto source = [&](const StructureFile& f) { return f.from ? env.InstallPath(f.from) : firmware; };

  // Whatever could not be made leaves the structure incomplete: the card
  // is not ready for the player, and the caller must not say it is.
  bool written = true;
  if (medium == kMediumCard && card) {
    env.ui.ProgressStart(37);
    env.ui.ProgressLine1(env.T("MSG_VERIFY_INDEXES"));
    env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM_CF"));
    CardDirEntry e;
    for (const auto& f : kStructureFiles) {
      if (!card->FindEntry("", f.name.name11, e) && (f.from || ExistsFile(firmware)) &&
          !card->CardWriteFile("", f.name.name11, source(f)) && f.from)
        written = false;
      env.ui.ProgressStep(1);
    }
    for (int i = 0; i < kSongFolders; ++i) {
      env.ui.ProgressLine1(env.TF("MSG_VERIFY_HASH_TABLE", i));
      if (!card->FindEntry("", FolderName11(i), e) && !card->MakeDirectory(FolderName11(i))) written = false;
      env.ui.ProgressStep(1);
    }
    if (!card->FlushFat()) written = false;
    env.ui.ProgressEnd();
  } else if (!flashDrive.empty()) {
    for (const auto& f : kStructureFiles) {
      fs::path target = flashDrive / f.name.name;
      if (ExistsFile(target) || (!f.from && !ExistsFile(firmware))) continue;
      if (!CopyFileOver(source(f), target)) ReportReadError(env, source(f).string());
    }
    std::error_code ec;
    for (int i = 0; i < kSongFolders; ++i) fs::create_directories(flashDrive / std::to_string(i), ec);
  }
  env.ui.EndCursor();
  if (card && medium == kMediumCard && !card->FlushFat()) written = false;
  for (const auto& t : Templates()) RemoveFile(env.InstallPath(t.file));
  return written && CheckCardStructure() ? 1 : 0;
}

int Library::CreateStructureOnFormattedCard() {
  int saved = medium;
  medium = kMediumCard;
  int r = CreateCardStructure();
  medium = saved;
  return r;
}

bool Library::LoadPlayerSongList() {
  ForgetPlayerList();
  moduleError = false;
  indexUnreadable = false;
  bool ok = false;
  switch (medium) {
    case kMediumCardReader:
      ok = LoadCardSongList();
      break;
    case kMediumCard:
      if (link && link->LinkOpen()) {
        ok = LoadCardSongList();
        if (playerLink) playerLink->CardAccessEnd();
      }
      if (link) link->LinkClose();
      break;
    case kMediumRam:
      ok = LoadRamSongList();
      break;
    default:
      return true;
  }
  playerListRead = ok;
  return ok;
}

bool Library::LoadCardSongList() {
  player.clear();
  env.clock.SleepMs(100);
  const bool usb = medium == kMediumCard;
  if (usb) {
    if (!card || !playerLink || !card->Mounted()) return false;
    playerLink->CardAccessBegin();
    playerLink->CardAccessOpen();
  }
  if (!CheckCardStructure()) {
    if (env.ui.ShowMessage(env.T("MSG_CARD_NO_OK_ZUMBLA"), env.T("MSG_CAPTION_WARNING"),
                           mb::kYesNo | mb::kIconExclamation) != kIdYes) {
      moduleError = true;
      return false;
    }
    if (usb) {
      playerLink->CardAccessBegin();
      playerLink->CardAccessOpen();
    }
    CreateCardStructure();
  }
  env.ui.BeginWaitCursor();
  if (usb) {
    uint32_t total = card->CardFileSectors(kMindex4.name11) + card->CardFileSectors(kMindex2.name11) +
                     card->CardFileSectors(kMindex0.name11);
    env.ui.ProgressStart(static_cast<int>(total));
    env.ui.ProgressLine1(env.T("MSG_LETTURA_FILE"));
    env.ui.ProgressLine2(env.T("MSG_ATTENDERE"));
    for (const auto& f : {kMindex0, kMindex2, kMindex4}) {
      RemoveFile(env.InstallPath(f.name));
      env.clock.SleepMs(400);
      card->CardReadFile("", f.name11, env.InstallPath(f.name));
    }
  }
  auto done = [&](bool ok) {
    if (usb) {
      playerLink->CardAccessEnd();
      env.ui.ProgressEnd();
    }
    env.ui.EndCursor();
    return ok;
  };
  auto mindex0 = ReadBinaryFile(IndexPath(kMindex0.name));
  if (!mindex0) {
    env.ui.ShowMessage(env.TF("MSG_CANTOPEN", IndexPath(kMindex0.name).string()), env.T("MSG_READERROR"), mb::kIconStop);
    indexUnreadable = true;
    return done(false);
  }
  auto mindex2 = ReadBinaryFile(IndexPath(kMindex2.name));
  if (!mindex2) {
    env.ui.ShowMessage(env.TF("MSG_CANTOPEN", IndexPath(kMindex2.name).string()), env.T("MSG_READERROR"), mb::kIconStop);
    indexUnreadable = true;
    return done(false);
  }
  auto list = ParseIndexFiles(*mindex0, *mindex2);
  if (!list) return done(false);
  player = std::move(*list);
  return done(true);
}

bool Library::RebuildCardIndexes(bool listChanged) {
  // Stale: the card's index no longer says what the list does. A rebuild
  // that fails before it reaches the card leaves the old index, which is
  // still right when the list did not change.
  const bool reachable = !CardLinkLost();
  indexFilesStale = listChanged || medium == kMediumCardReader;
  env.ui.ProgressLine1("Update index");
  env.WriteInt(settings::kMediaChange, 1);
  IndexFiles f = BuildIndexFiles(player);
  const std::pair<IndexFileName, const Bytes*> files[] = {
      {kMindex0, &f.mindex0}, {kMalpha0, &f.malpha0}, {kMindex2, &f.mindex2}, {kMindex4, &f.mindex4}, {kMalpha2, &f.malpha2}};
  for (const auto& [name, bytes] : files) {
    fs::path p = IndexPath(name.name);
    // Through a temporary file: the card reader's player must never find a
    // half-written index.
    if (!WriteFileAtomic(p, std::string(bytes->begin(), bytes->end()))) {
      env.ui.ShowMessage(env.TF("MSG_CANTCREATE", p.string()), env.T("MSG_WRITEERROR"), mb::kIconStop);
      return false;
    }
  }
  const fs::path firmware = env.InstallPath("ZUMBLA2.MHX");
  bool written = true;
  if (medium == kMediumCard && card) {
    env.ui.ProgressLine1(std::string(48, ' '));
    std::string working = "Aggiornamento in corso...";
    working.resize(97, ' ');
    env.ui.ProgressLine1(working);
    // Each write is checked: an index the card did not get leaves the
    // player a missing or stale list, which the caller must report.
    for (const auto& name : {kMindex0, kMindex2, kMalpha0, kMalpha2, kMindex4}) {
      if (!card->CardWriteFile("", name.name11, env.InstallPath(name.name))) written = false;
    }
    // The firmware copy is no index: the player's list does not depend on it.
    if (ExistsFile(firmware) && !CardLinkLost()) card->CardWriteFile("", kFirmwareCopy.name11, firmware);
  } else if (medium == kMediumCardReader && ExistsFile(firmware)) {
    if (!CopyFileOver(firmware, flashDrive / kFirmwareCopy.name)) ReportReadError(env, firmware.string());
  }
  indexFilesStale = !written && (listChanged || reachable);
  return written;
}

}  // namespace kestro::library

// Commands on the player's card: its identification and volume, the card
// check and format, and files in the root and the song folders.
//
// Every command is one card access: LinkOpen, CardAccessBegin,
// CardAccessOpen, the work, CardAccessEnd, LinkClose.
#include <cstdio>
#include <memory>
#include <string>

#include "cardfs/card_fs.h"
#include "cli/app_session.h"
#include "cli/cli.h"
#include "link/channels.h"
#include "platform/charmap.h"
#include "link/ftdi.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::cli {

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

// The link, the player and the card for the length of one command, in the
// application context (a format then also gives the card its structure).
class CardSession {
 public:
  ~CardSession() { Close(); }

  std::unique_ptr<AppSession> app;
  Link* link = nullptr;
  Player* player = nullptr;
  CardFs* card = nullptr;
  bool open = false;

  void Close() {
    if (!open) return;
    player->CardAccessEnd();
    link->LinkClose();
    open = false;
  }
};

std::unique_ptr<CardSession> OpenCard(Context& ctx) {
  auto s = std::make_unique<CardSession>();
  s->app = OpenApp(ctx);
  if (!s->app) return nullptr;
  s->link = &s->app->app.link;
  s->player = &s->app->app.player;
  s->card = &s->app->app.card;
  if (!s->link->ChooseTransport()) {
    ctx.Fail("no player is connected");
    return nullptr;
  }
  if (!s->link->LinkOpen()) {
    ctx.Fail("the player's link does not open");
    return nullptr;
  }
  s->open = true;
  s->link->linkErrorState = 0;
  s->player->CardAccessBegin();
  s->player->CardAccessOpen();
  if (s->link->linkErrorState == 1) {
    ctx.Fail("the player is busy or does not answer");
    return nullptr;
  }
  return s;
}

// Why the card could not be used, from the link error state.
int CardFailure(Context& ctx, CardSession& s, const std::string& what) {
  std::string why;
  // The card check leaves the state 1 for a card it refused, as for a lost
  // link; it keeps why it refused the card.
  int state = s.link->linkErrorState;
  if (state == 1 && s.card->CheckRefusal() != 0) state = s.card->CheckRefusal();
  switch (state) {
    case 1: why = "the link to the player was lost"; break;
    case 6:
      why = "the card holds no FAT16 volume Kestro can use";
      if (!s.card->MountProblem().empty()) why += " (" + s.card->MountProblem() + ")";
      why += "; kestro-cli --yes card format formats it for the player";
      break;
    case 7: why = "the card is formatted FAT32; the player needs FAT16 (kestro-cli --yes card format)"; break;
    default:
      why = s.card->MountProblem().empty() ? "the card could not be read" : s.card->MountProblem();
  }
  s.Close();
  return ctx.Fail(what + ": " + why);
}

// Mounts the volume and reads its root directory, offering nothing.
bool Mount(CardSession& s) { return s.card->MountVolume() && s.card->ReadRootDirectory(); }

std::string Shown(std::string_view cardText) { return ShownText(std::string(cardText)); }

std::string Trimmed(const uint8_t* p, size_t n) {
  std::string t(reinterpret_cast<const char*>(p), n);
  size_t z = t.find('\0');
  if (z != std::string::npos) t.resize(z);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return TerminalText(t);
}

// "[FOLDER/]NAME" as a directory argument and a name, both in the
// 11-character form; nothing when either is no card name.
struct CardPath {
  std::string dir;
  std::string name;
};
std::optional<CardPath> ParseCardPath(const std::string& arg) {
  std::string latin = Utf8ToLatin1(arg);
  size_t slash = latin.find('/');
  CardPath p;
  if (slash != std::string::npos) {
    auto d = ToName11(latin.substr(0, slash));
    if (!d) return std::nullopt;
    p.dir = *d;
    latin = latin.substr(slash + 1);
  }
  auto n = ToName11(latin);
  if (!n) return std::nullopt;
  p.name = *n;
  return p;
}

void PrintEntry(const uint8_t* e) {
  std::string name = Shown(FromName11(e));
  uint32_t size = static_cast<uint32_t>(e[28] | e[29] << 8 | e[30] << 16) | static_cast<uint32_t>(e[31]) << 24;
  if (e[11] & fat::kAttrDirectory) {
    std::printf("%s/\n", name.c_str());
  } else {
    std::printf("%-13s %10u\n", name.c_str(), size);
  }
}

// A file or folder to list: in use, no long-name part, no volume label.
bool Listed(const uint8_t* e) {
  if (e[0] == 0 || e[0] == fat::kDeleted) return false;
  if (e[11] == fat::kAttrLongName || (e[11] & fat::kAttrVolume)) return false;
  return e[0] != '.';
}

int Info(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("card info");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = s->card->MountVolume();
  ctx.ui.ProgressEnd();
  const VolumeRecord& v = s->card->Volume();
  const auto& id = v.identify;
  if (IdWord(id, 0) == 0 && IdWord(id, 1) == 0 && s->link->linkErrorState == 1)
    return CardFailure(ctx, *s, "the card's identification was not read");
  std::printf("configuration: 0x%04x\ncylinders: %u\nheads: %u\nsectors per track: %u\nsectors: %u\n"
              "LBA sectors: %u\nserial: %s\nfirmware: %s\nmodel: %s\n",
              IdWord(id, 0), IdWord(id, 1), IdWord(id, 3), IdWord(id, 6),
              static_cast<uint32_t>(IdWord(id, 7)) << 16 | IdWord(id, 8), IdLong(id, 60),
              Trimmed(id.data() + 20, 20).c_str(), Trimmed(id.data() + 46, 8).c_str(),
              Trimmed(id.data() + 54, 40).c_str());
  if (!mounted) return CardFailure(ctx, *s, "no volume");
  uint32_t free = s->card->CountFreeClusters();
  ctx.ui.ProgressEnd();
  std::printf("volume at sector: %u\nlabel: %s\nfile system: %s\nbytes per sector: %u\nsectors per cluster: %u\n"
              "reserved sectors: %u\nFATs: %u\nroot entries: %u\ntotal sectors: %u\nmedia: 0x%02x\n"
              "sectors per FAT: %u\nhidden sectors: %u\nfirst FAT sector: %u\nfirst root sector: %u\n"
              "first data sector: %u\nclusters: %u\nbytes per cluster: %u\nsize: %u MB\nfree: %u clusters (%u KB)\n",
              v.partitionOffset, Trimmed(v.pbr.data() + 43, 11).c_str(), Trimmed(v.pbr.data() + 54, 8).c_str(),
              v.bytesPerSector, v.sectorsPerCluster, v.reservedSectors, v.numberOfFats, v.rootEntries,
              v.totalSectors, v.mediaDescriptor, v.sectorsPerFat, v.hiddenSectors, v.firstFatSector,
              v.firstRootSector, v.firstDataSector, v.playerClusterCount - 2, v.bytesPerCluster,
              NominalCardSizeMb(v.cardSizeMb), free, static_cast<uint32_t>(uint64_t{free} * v.bytesPerCluster / 1024));
  if (s->link->linkErrorState != 0) return CardFailure(ctx, *s, "the free space was not counted");
  return kOk;
}

int Report(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("card report FILE");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = s->card->MountVolume();
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "no report");
  if (!s->card->WriteCardReport(a[0])) return ctx.Fail("cannot write " + a[0]);
  return kOk;
}

int Check(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("card check");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  ctx.ui.SetProgressTitle(ctx.env()->T("MSG_READING_FLASH"));
  if (!s->card->CheckCard()) return CardFailure(ctx, *s, "the card is not ready");
  std::printf("%s\n", Latin1ToUtf8(ctx.ui.StatusLine(2)).c_str());
  return kOk;
}

int Format(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("card format");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  if (ctx.ui.ShowMessage(env->T("MSG_SURE_TO_FORMAT_CARD"), env->T("MSG_CAPTION_WARNING"),
                         mb::kYesNo | mb::kIconQuestion | mb::kDefButton2) != kIdYes)
    return ctx.Fail("nothing formatted");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  ctx.ui.SetProgressTitle(env->T("MSG_FORMAT_CF"));
  int ok = s->card->FormatCard();
  ctx.ui.ProgressEnd();
  if (!ok) return CardFailure(ctx, *s, "the card was not formatted completely");
  const VolumeRecord& v = s->card->Volume();
  std::printf("formatted: %u MB, %u clusters of %u bytes\n", NominalCardSizeMb(v.cardSizeMb),
              v.playerClusterCount - 2, v.bytesPerCluster);
  return kOk;
}

int Ls(Context& ctx, std::vector<std::string>& a) {
  if (a.size() > 1) return Usage("card ls [FOLDER]");
  std::string dir;
  if (a.size() == 1) {
    auto d = ToName11(Utf8ToLatin1(a[0]));
    if (!d) return Usage("card ls [FOLDER]");
    dir = *d;
  }
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = Mount(*s);
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "cannot list the card");
  CardFs& card = *s->card;
  if (dir.empty()) {
    for (uint32_t i = 0; i < card.RootEntryCount(); ++i) {
      const uint8_t* e = card.RootEntry(i);
      if (e[0] == 0) break;
      if (Listed(e)) PrintEntry(e);
    }
    return kOk;
  }
  CardDirEntry folder;
  if (!card.FindEntry("", dir, folder) || !(folder.Attribute() & fat::kAttrDirectory))
    return ctx.Fail("no folder " + a[0] + " on the card");
  uint8_t e[kDirEntrySize];
  for (int more = card.ListDirFirst(dir, e); more; more = card.ListDirNext(e)) {
    if (Listed(e)) PrintEntry(e);
  }
  if (s->link->linkErrorState == 1) return CardFailure(ctx, *s, "the folder was not listed whole");
  return kOk;
}

int Get(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 2) return Usage("card get [FOLDER/]NAME FILE");
  auto p = ParseCardPath(a[0]);
  if (!p) return Usage("card get [FOLDER/]NAME FILE");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = Mount(*s);
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "cannot read the card");
  CardDirEntry e;
  if (!s->card->FindEntry(p->dir, p->name, e)) return ctx.Fail("no file " + a[0] + " on the card");
  ctx.ui.SetProgressTitle(a[0]);
  ctx.ui.ProgressStart(static_cast<int>((uint64_t{e.Size()} + 511) / 512));
  int ok = s->card->CardReadFile(p->dir, p->name, a[1]);
  ctx.ui.ProgressEnd();
  if (!ok) return ctx.Fail(a[0] + " was not read");
  return kOk;
}

int Put(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 2) return Usage("card put FILE [FOLDER/]NAME");
  auto p = ParseCardPath(a[1]);
  if (!p) return Usage("card put FILE [FOLDER/]NAME");
  auto size = FileSize(a[0]);
  if (!size) return ctx.Fail("cannot read " + a[0]);
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = Mount(*s);
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "cannot write the card");
  CardDirEntry folder;
  if (!p->dir.empty() && !s->card->FindEntry("", p->dir, folder))
    return ctx.Fail("no folder " + a[1].substr(0, a[1].find('/')) + " on the card");
  ctx.ui.SetProgressTitle(a[1]);
  ctx.ui.ProgressStart(static_cast<int>(*size / 512 + 1));
  int ok = s->card->CardWriteFile(p->dir, p->name, a[0]);
  ctx.ui.ProgressEnd();
  if (!ok) {
    if (s->link->linkErrorState == 1) return CardFailure(ctx, *s, a[1] + " was not written");
    return ctx.Fail(a[1] + " was not written");
  }
  return kOk;
}

int Rm(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("card rm [FOLDER/]NAME");
  auto p = ParseCardPath(a[0]);
  if (!p) return Usage("card rm [FOLDER/]NAME");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = Mount(*s);
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "cannot write the card");
  if (!s->card->CardDeleteFile(p->dir, p->name)) {
    if (s->link->linkErrorState == 1) return CardFailure(ctx, *s, a[0] + " was not deleted");
    return ctx.Fail("no file " + a[0] + " on the card");
  }
  return kOk;
}

int Mkdir(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("card mkdir NAME");
  auto n = ToName11(Utf8ToLatin1(a[0]));
  if (!n) return Usage("card mkdir NAME");
  auto s = OpenCard(ctx);
  if (!s) return kFailed;
  bool mounted = Mount(*s);
  ctx.ui.ProgressEnd();
  if (!mounted) return CardFailure(ctx, *s, "cannot write the card");
  CardDirEntry e;
  if (s->card->FindEntry("", *n, e)) return ctx.Fail(a[0] + " already exists on the card");
  if (!s->card->MakeDirectory(*n)) {
    if (s->link->linkErrorState == 1) return CardFailure(ctx, *s, a[0] + " was not made");
    return ctx.Fail(a[0] + " was not made: the card or its root folder is full");
  }
  return kOk;
}

}  // namespace

void RegisterCardCommands(CommandTable& t) {
  const std::string where =
      "The card is reached through the player (or the simulator that Zumbla.INI\n"
      "names: [Link] Simulator=PATH), one card access per command.";
  const std::string names =
      "Names are the card's 8.3 names, NAME.EXT; folders are the names of the\n"
      "root's folders (the song folders are 0 to 30).\n";
  t.push_back({{"card", "info"}, "", "show the card's identification and its volume",
               "The identification block the card reports, then the FAT16 volume found on it.\n" + where, Info});
  t.push_back({{"card", "report"}, "FILE", "write the HTML report of the card", where, Report});
  t.push_back({{"card", "check"}, "", "mount the card and show its size and free space",
               "What Kestro does whenever the player shows its card: a card without a usable\n"
               "format is offered the format (--yes takes the offer).\n" + where, Check});
  t.push_back({{"card", "format"}, "", "format the card for the player (asks first)",
               "Lays a new partition, boot sector, FATs and root folder on the card; every\n"
               "song and file on it is lost. Then the player's index files, its setup record\n"
               "and the 31 song folders are made, so the card is ready for the player.\n" + where, Format});
  t.push_back({{"card", "ls"}, "[FOLDER]", "list the card's root folder, or one of its folders", names + where, Ls});
  t.push_back({{"card", "get"}, "[FOLDER/]NAME FILE", "copy a card file to the PC", names + where, Get});
  t.push_back({{"card", "put"}, "FILE [FOLDER/]NAME", "copy a PC file to the card (replacing one of that name)",
               names + where, Put});
  t.push_back({{"card", "rm"}, "[FOLDER/]NAME", "delete a file on the card", names + where, Rm});
  t.push_back({{"card", "mkdir"}, "NAME", "make a folder in the card's root", names + where, Mkdir});
}

}  // namespace kestro::cli

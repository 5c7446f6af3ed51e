// Commands that talk to the player over the link: its information record,
// the songs of its internal memory and its setup record.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/cli.h"
#include "link/channels.h"
#include "platform/charmap.h"
#include "link/ftdi.h"
#include "link/link.h"
#include "link/player.h"
#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/latin1.h"

namespace kestro::cli {

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

// The link to whatever player answers, for the length of one command.
struct Session {
  FtdiLibrary ftdi;  // before the link: its FTDI channel refers to it
  BasicCycleSide cycle;
  std::unique_ptr<Link> link;
  std::unique_ptr<Player> player;
};

std::unique_ptr<Session> Connect(Context& ctx) {
  Env* env = ctx.RequireInstall();
  if (!env) return nullptr;
  auto s = std::make_unique<Session>();
  // The FTDI library matters only for a real device.
  if (env->GetText(settings::kSimulator).empty()) s->ftdi = LoadFtdiLibrary(env->ui);
  s->link = std::make_unique<Link>(*env, MakeLinkChannels(*env, s->ftdi), s->cycle);
  if (!s->link->ChooseTransport()) {
    ctx.Fail("no player is connected");
    return nullptr;
  }
  s->player = std::make_unique<Player>(*s->link);
  return s;
}

std::optional<uint16_t> ParseCode(const std::string& s) {
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str(), &end, 10);
  if (s.empty() || !end || *end || v > 0xFFFF || s[0] == '-') return std::nullopt;
  return static_cast<uint16_t>(v);
}

std::string Shown(const std::string& playerText) { return ShownText(playerText); }

// Where the link looks for the player: the simulator's socket, or the USB
// ids of both transports as lsusb and udev write them.
std::string LinkPlaces(const Env& env) {
  const std::string sim = env.GetText(settings::kSimulator);
  if (!sim.empty()) return "simulator: " + sim + "\n";
  auto searches = FtdiSearches(FtdiIdsOf(env));
  const bool standard = searches.size() == 1 && searches[0] == std::pair(0, 0);
  if (standard) {
    searches.clear();
    for (uint16_t product : kFtdiProducts) searches.emplace_back(kFtdiVendor, product);
  }
  std::string ftdi = Fmt("%04x:", searches[0].first);
  for (size_t i = 0; i < searches.size(); ++i) ftdi += Fmt(i ? "/%04x" : "%04x", searches[i].second);
  return Fmt("FTDI ids: %s (%s)\nbulk ids: %04x:%04x ([Link] BulkVid/BulkPid)\n", ftdi,
             standard ? "FTDI's standard ids; [Link] FtdiVid/FtdiPid for others" : "[Link] FtdiVid/FtdiPid",
             env.GetInt(settings::kBulkVid) & 0xFFFF, env.GetInt(settings::kBulkPid) & 0xFFFF);
}

int Info(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("player info");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  const std::string places = LinkPlaces(*env);
  auto s = Connect(ctx);
  if (!s) {
    std::fprintf(stderr, "%s", places.c_str());
    return kFailed;
  }
  ZumblaInfo info;
  if (!s->player->GetZumblaInfo(info)) return ctx.Fail("the player did not send its information");
  auto reading = ReadingForPlayerMode(info.Mode());
  std::printf("transport: %s\nmode: %d\nrelease: %s\nmedium: %s\n%s", TransportName(s->link->transport), info.Mode(),
              Latin1ToUtf8(info.Release()).c_str(), reading ? std::to_string(*reading).c_str() : "unknown",
              places.c_str());
  return kOk;
}

int RamLs(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("player ram ls");
  auto s = Connect(ctx);
  if (!s) return kFailed;
  RamSongTable table;
  if (!s->player->GetRamFileInfo(table)) return ctx.Fail("the player did not send its song list");
  for (int i = 0; i < table.SongCount(); ++i) {
    std::printf("%5u  %s  %s\n", table.Code(i), Shown(table.Title(i)).c_str(), Shown(table.Author(i)).c_str());
  }
  std::printf("%s, %u bytes free\n", SongCount(static_cast<size_t>(table.SongCount())).c_str(), table.FreeBytes());
  return kOk;
}

int RamGet(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 2) return Usage("player ram get CODE FILE");
  auto code = ParseCode(a[0]);
  if (!code) return Usage("player ram get CODE FILE");
  auto s = Connect(ctx);
  if (!s) return kFailed;
  if (!s->player->ReadRamFile(a[1], *code)) return ctx.Fail("song " + a[0] + " was not read");
  return kOk;
}

int RamPut(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("player ram put FILE");
  auto size = FileSize(a[0]);
  if (!size) return ctx.Fail("cannot read " + a[0]);
  auto s = Connect(ctx);
  if (!s) return kFailed;
  Ui& ui = s->link->env().ui;
  ui.ProgressStart(static_cast<int>(*size / wire::kRamBlockSize + 1));
  ui.ProgressLine1(Utf8ToLatin1(a[0]));
  int ok = s->player->WriteRamFile(a[0]);
  ui.ProgressEnd();
  if (!ok) return ctx.Fail("the player did not take " + a[0]);
  return kOk;
}

int RamRm(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("player ram rm CODE");
  auto code = ParseCode(a[0]);
  if (!code) return Usage("player ram rm CODE");
  auto s = Connect(ctx);
  if (!s) return kFailed;
  if (!s->player->DeleteRamFile(*code)) return ctx.Fail("the player did not delete song " + a[0]);
  return kOk;
}

int RamClear(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("player ram clear");
  auto s = Connect(ctx);
  if (!s) return kFailed;
  if (ctx.ui.ShowMessage("Delete every song in the player's internal memory?", "kestro-cli",
                         mb::kYesNo | mb::kIconQuestion) != kIdYes)
    return ctx.Fail("nothing deleted");
  if (!s->player->DeleteAllRamFiles()) return ctx.Fail("the player did not clear its memory");
  return kOk;
}

int SetupGet(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("player setup get FILE");
  auto s = Connect(ctx);
  if (!s) return kFailed;
  if (!s->player->ReadRamSetup(a[0])) return ctx.Fail("the player did not send its setup record");
  if (!FileExists(a[0])) return ctx.Fail("cannot write " + a[0]);
  return kOk;
}

int SetupPut(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("player setup put FILE");
  if (!FileExists(a[0])) return ctx.Fail("cannot read " + a[0]);
  auto s = Connect(ctx);
  if (!s) return kFailed;
  if (!s->player->WriteRamSetup(a[0])) return ctx.Fail("the player did not take the setup record");
  return kOk;
}

}  // namespace

void RegisterPlayerCommands(CommandTable& t) {
  const char* where =
      "The player is reached over the FTDI bridge or the bulk USB device, or through\n"
      "a simulator when Zumbla.INI names its socket: [Link] Simulator=PATH.";
  t.push_back({{"player", "info"}, "", "show the player's mode, firmware release and the medium it means",
               std::string("Medium: 2 internal memory, 1 card, 3 busy, 4 waiting for firmware.\n") + where +
                   "\nAlso shows the USB ids looked for ([Link] FtdiVid/FtdiPid, BulkVid/BulkPid),\n"
                   "even when no player answers.",
               Info});
  t.push_back({{"player", "ram", "ls"}, "", "list the songs in the player's internal memory", where, RamLs});
  t.push_back({{"player", "ram", "get"}, "CODE FILE", "copy a song of the internal memory to a file", where, RamGet});
  t.push_back({{"player", "ram", "put"}, "FILE", "send a song file (MF4) to the internal memory", where, RamPut});
  t.push_back({{"player", "ram", "rm"}, "CODE", "delete a song from the internal memory", where, RamRm});
  t.push_back({{"player", "ram", "clear"}, "", "delete every song of the internal memory (asks first)", where,
               RamClear});
  t.push_back({{"player", "setup", "get"}, "FILE", "save the player's 30-byte setup record to a file", where,
               SetupGet});
  t.push_back({{"player", "setup", "put"}, "FILE", "send a setup record file to the player", where, SetupPut});
}

}  // namespace kestro::cli

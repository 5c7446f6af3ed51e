// Commands that move songs: to the player and back, deletion on either
// side, the card's index rebuild and the card format. They run the main
// window's commands on the songs named on the command line.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <system_error>

#include "cli/app_session.h"
#include "library/lists.h"
#include "shell/commands.h"

namespace kestro::cli {

namespace fs = std::filesystem;
using library::Library;

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

// Why a command did nothing, when the user was not told already.
int CommandFailed(Context& ctx, CommandStatus s, App& app) {
  switch (s) {
    case CommandStatus::Busy:
      return ctx.Fail("another operation is running");
    case CommandStatus::NotAvailable:
      return ctx.Fail(app.cycle.currentMedium == library::kMediumRam
                          ? "the player works from its internal memory: it has no card"
                          : "no card is connected");
    case CommandStatus::PlayerListUnknown:
      return ctx.Fail("nothing was sent: the player's song list could not be read (" + PlayerProblem(app) +
                      "); connect the player again and repeat the command");
    case CommandStatus::Unreachable:
      return ctx.Fail("the player or its card cannot be used now: " + PlayerProblem(app));
    case CommandStatus::NothingDone:
      // A question declined or too little room was told already; a player
      // that went away was not.
      if (app.link.linkErrorState == 1 || app.card.CheckRefusal() != 0) return ctx.Fail(PlayerProblem(app));
      return kFailed;
    default:
      return kFailed;  // shown already (the busy message)
  }
}

// The card's index files were not all written after songs moved.
int IndexFilesStale(Context& ctx, App& app, const char* moved) {
  return ctx.Fail(std::string(moved) + ", but the card's index files were not updated (" + PlayerProblem(app) +
                  "): the player's list is missing or old until `kestro-cli recover` writes it anew");
}

std::optional<uint16_t> ParseCode(const std::string& s) {
  if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  unsigned long v = std::strtoul(s.c_str(), nullptr, 10);
  if (v > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(v);
}

// Selects the player songs of the codes named.
bool SelectPlayerSongs(Context& ctx, Library& lib, const std::vector<std::string>& codes) {
  for (auto& r : lib.player) r.selected = false;
  bool ok = true;
  for (const auto& c : codes) {
    auto code = ParseCode(c);
    bool found = false;
    for (auto& r : lib.player) {
      if (code && r.code == *code) r.selected = found = true;
    }
    if (!found) {
      ctx.Fail(code ? "no song of code " + c + " on the player" : "not a song code: " + c);
      ok = false;
    }
  }
  return ok;
}

const char* Word(Library::Outcome o, const char* done, const char* failed) {
  switch (o) {
    case Library::Outcome::Done: return done;
    case Library::Outcome::Skipped: return "skipped";
    default: return failed;
  }
}

// One line a song; kOk when at least one was done. Songs that failed
// because the player went away get that reason on standard error.
int Report(Context& ctx, App& app, const std::function<std::string(const Library::SongOutcome&)>& line) {
  bool any = false, failed = false;
  for (const auto& o : app.lib.outcomes) {
    std::printf("%s\n", line(o).c_str());
    any = any || o.outcome == Library::Outcome::Done;
    failed = failed || o.outcome == Library::Outcome::Failed;
  }
  std::fflush(stdout);
  if (failed && app.link.linkErrorState == 1) ctx.Fail(PlayerProblem(app));
  return any ? kOk : kFailed;
}

// The application as the program starts it, with the PC list read.
std::unique_ptr<AppSession> OpenWithPcList(Context& ctx) {
  auto s = OpenApp(ctx);
  if (s) s->app.Start();
  return s;
}

// The medium settled and both lists compared; false (reason shown) when no
// player side is there.
bool SettlePlayer(Context& ctx, App& app) {
  if (app.SettleMedium() < 0) {
    ctx.Fail("no player or card found");
    return false;
  }
  library::CompareLists(app.lib.pc, app.lib.player);
  return true;
}

// The player side with its song list read.
bool SettlePlayerList(Context& ctx, App& app) {
  if (!SettlePlayer(ctx, app)) return false;
  if (app.lib.playerListRead) return true;
  ctx.Fail("the player's song list could not be read: " + PlayerProblem(app));
  return false;
}

std::unique_ptr<AppSession> OpenWithPlayer(Context& ctx, bool needList = true) {
  auto s = OpenWithPcList(ctx);
  if (!s || !(needList ? SettlePlayerList(ctx, s->app) : SettlePlayer(ctx, s->app))) return nullptr;
  return s;
}

std::string PlayerSongName(const library::SongList& list, const std::string& fileName) {
  for (const auto& r : list) {
    if (r.fileName == fileName) return ShownName(fileName) + " " + ShownText(r.title);
  }
  return ShownName(fileName);
}

int Send(Context& ctx, std::vector<std::string>& a) {
  if (a.empty() || UnknownOption(a)) return Usage("send FILE...");
  auto s = OpenWithPcList(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  // The names are checked before the player is looked for; taking up a
  // player may read the PC list again, so the songs are selected after.
  if (!SelectPcSongs(ctx, app.lib, a) || !SettlePlayer(ctx, app) || !SelectPcSongs(ctx, app.lib, a)) return kFailed;
  CommandStatus st = TransferToPlayer(app);
  if (st != CommandStatus::Done && st != CommandStatus::IndexFilesStale) return CommandFailed(ctx, st, app);
  int reported = Report(ctx, app, [&](const Library::SongOutcome& o) {
    std::string target = o.target;
    if (target.empty() && o.outcome == Library::Outcome::Done) {
      // The player's memory gives its own codes: find the song there.
      for (const auto& p : app.lib.pc) {
        if (p.fileName != o.song) continue;
        for (const auto& r : app.lib.player)
          if (r.title == p.title && r.author == p.author) target = r.fileName;
      }
    }
    std::string line = ShownName(fs::path(o.song).filename().string()) + ": " + Word(o.outcome, "sent", "not sent");
    if (o.outcome == Library::Outcome::Done && !target.empty()) line += " as " + target;
    return line;
  });
  if (st == CommandStatus::IndexFilesStale) return IndexFilesStale(ctx, app, "the songs marked \"sent\" are on the card");
  return reported;
}

int Fetch(Context& ctx, std::vector<std::string>& a) {
  if (a.empty() || UnknownOption(a)) return Usage("fetch CODE...");
  auto s = OpenWithPlayer(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  if (!SelectPlayerSongs(ctx, app.lib, a)) return kFailed;
  library::SongList before = app.lib.player;
  CommandStatus st = TransferToPc(app);
  if (st != CommandStatus::Done) return CommandFailed(ctx, st, app);
  return Report(ctx, app, [&](const Library::SongOutcome& o) {
    std::string line = PlayerSongName(before, o.song) + ": " + Word(o.outcome, "copied", "not copied");
    if (o.outcome == Library::Outcome::Done && !o.target.empty()) line += " to " + ShownName(o.target);
    return line;
  });
}

int Delete(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "delete --pc FILE... | delete --player CODE...";
  bool pc = TakeFlag(a, "--pc");
  bool player = TakeFlag(a, "--player");
  if (pc == player || a.empty() || UnknownOption(a)) return Usage(synopsis);
  if (pc) {
    auto s = OpenWithPcList(ctx);
    if (!s) return kFailed;
    App& app = s->app;
    if (!SelectPcSongs(ctx, app.lib, a)) return kFailed;
    CommandStatus st = DeletePcSelection(app);
    if (st != CommandStatus::Done) return CommandFailed(ctx, st, app);
    return Report(ctx, app, [](const Library::SongOutcome& o) {
      return ShownName(fs::path(o.song).filename().string()) + ": " + Word(o.outcome, "deleted", "not deleted");
    });
  }
  auto s = OpenWithPlayer(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  if (!SelectPlayerSongs(ctx, app.lib, a)) return kFailed;
  library::SongList before = app.lib.player;
  CommandStatus st = DeletePlayerSelection(app);
  if (st != CommandStatus::Done && st != CommandStatus::IndexFilesStale) return CommandFailed(ctx, st, app);
  int r = Report(ctx, app, [&](const Library::SongOutcome& o) {
    return PlayerSongName(before, o.song) + ": " + Word(o.outcome, "deleted", "not deleted");
  });
  if (st == CommandStatus::IndexFilesStale)
    return IndexFilesStale(ctx, app, "the songs marked \"deleted\" are gone from the card");
  return r;
}

int Recover(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("recover");
  // The recovery writes the list anew: one that could not be read is no
  // obstacle.
  auto s = OpenWithPlayer(ctx, false);
  if (!s) return kFailed;
  App& app = s->app;
  CommandStatus st = RegenerateCardIndexes(app);
  if (st == CommandStatus::IndexFilesStale)
    return ctx.Fail("the card's index files could not be written (" + PlayerProblem(app) +
                    "): repeat `kestro-cli recover`");
  if (st != CommandStatus::Done) return CommandFailed(ctx, st, app);
  for (const auto& r : app.lib.player) {
    std::printf("%5u  %-27s  %-27s  %s\n", static_cast<unsigned>(r.code), ShownText(r.title).c_str(),
                ShownText(r.author).c_str(), ShownName(r.fileName).c_str());
  }
  std::printf("%s on the card\n", SongCount(app.lib.player.size()).c_str());
  return kOk;
}

int ClearCard(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("clear-card");
  // A card that cannot be read is what clearing is for.
  auto s = OpenWithPlayer(ctx, false);
  if (!s) return kFailed;
  App& app = s->app;
  CommandStatus st = FormatCardCommand(app);
  if (st == CommandStatus::Failed)
    return ctx.Fail("the card was not made ready for the player (" + PlayerProblem(app) +
                    "): its files and song folders may be missing; repeat `kestro-cli clear-card`");
  if (st != CommandStatus::Done) return CommandFailed(ctx, st, app);
  std::printf("the card is empty and ready for the player\n");
  return kOk;
}

}  // namespace

// The row of the PC list of a file named on the command line (a path, or
// a name in the PC song folder); -1 when it is none of the folder's songs.
static int FindPcSong(const library::SongList& pc, const fs::path& folder, const std::string& arg) {
  std::error_code ec;
  for (const fs::path& candidate : {fs::path(arg), folder / arg}) {
    if (!fs::is_regular_file(candidate, ec)) continue;
    for (size_t i = 0; i < pc.size(); ++i) {
      if (fs::equivalent(pc[i].fileName, candidate, ec)) return static_cast<int>(i);
    }
  }
  return -1;
}

// Selects the PC songs named; false (and the names shown) when one is no
// song of the folder.
bool SelectPcSongs(Context& ctx, Library& lib, const std::vector<std::string>& files) {
  for (auto& r : lib.pc) r.selected = false;
  bool ok = true;
  for (const auto& f : files) {
    int i = FindPcSong(lib.pc, lib.pcFolder, f);
    if (i < 0) {
      ctx.Fail("not a song of the PC song folder (" + lib.pcFolder.string() + "): " + f);
      ok = false;
    } else {
      lib.pc[static_cast<size_t>(i)].selected = true;
    }
  }
  return ok;
}

void RegisterTransferCommands(CommandTable& t) {
  t.push_back({{"send"}, "FILE...", "send songs of the PC song folder to the connected player or card",
               "FILE is a song of the PC song folder (PATH/OLD_MF4), by its path or its name.\n"
               "A song already on the player is replaced only when the question is answered\n"
               "Yes (--yes). One line a song tells what happened.",
               Send});
  t.push_back({{"fetch"}, "CODE...", "copy songs of the connected player or card into the PC song folder",
               "CODE is a song code as `kestro-cli songs` lists it. MF4 songs are named after\n"
               "their title, MP3 songs after their code; a name already taken gets \" (2)\".",
               Fetch});
  t.push_back({{"delete"}, "--pc FILE... | --player CODE...", "delete songs from the PC song folder or the player",
               "Asks first (--yes agrees). On the card both the MF4 and the MP3 file of a code go,\n"
               "and the card's index files are written anew.",
               Delete});
  t.push_back({{"recover"}, "", "rebuild the card's song list and index files from its song folders",
               "Reads every song file in the card's folders 0 to 30 (asks first: it can take\n"
               "minutes through the player) and prints the songs found.",
               Recover});
  t.push_back({{"clear-card"}, "", "empty the card and give it the player's files and folders",
               "Through the player the card is formatted anew; in a card reader its files are\n"
               "deleted. Asks first (--yes agrees).",
               ClearCard});
}

}  // namespace kestro::cli

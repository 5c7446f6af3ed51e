// kestro-cli floppy export / import: the main window's floppy commands on a
// folder that stands for the floppy disk.
#include <cstdio>
#include <string>

#include "cli/app_session.h"
#include "shell/floppy.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;
using library::Library;

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

// One line a song; kOk when none failed and the command ran.
int Report(Context& ctx, CommandStatus st, const Library& lib, const char* done) {
  if (st == CommandStatus::Busy) return ctx.Fail("another operation is running");
  bool failed = false;
  for (const auto& o : lib.outcomes) {
    std::string line = o.song + ": ";
    switch (o.outcome) {
      case Library::Outcome::Done: line += std::string(done) + " " + o.target; break;
      case Library::Outcome::Skipped: line += "skipped"; break;
      case Library::Outcome::Failed:
        line += "failed";
        failed = true;
        break;
    }
    std::printf("%s\n", line.c_str());
  }
  if (lib.outcomes.empty() && st != CommandStatus::Done) return kFailed;  // the reason was shown
  return failed ? kFailed : kOk;
}

int Export(Context& ctx, std::vector<std::string>& a) {
  if (a.empty() || UnknownOption(a)) return Usage("floppy export FILE...");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  app.lib.ReloadPcList();
  if (!SelectPcSongs(ctx, app.lib, a)) return kFailed;
  return Report(ctx, SaveSongsToFloppy(app), app.lib, "copied to");
}

int Import(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("floppy import");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  app.lib.ReloadPcList();
  return Report(ctx, LoadSongsFromFloppy(app), app.lib, "imported as");
}

}  // namespace

void RegisterFloppyCommands(CommandTable& t) {
  const char* where =
      "The floppy disk is the folder [PATH] Floppy of Zumbla.INI when set, else the\n"
      "first mounted removable medium (under /media or /run/media) that is not the\n"
      "player's card. Asks to insert the disk first (--yes answers OK).";
  t.push_back({{"floppy", "export"}, "FILE...", "copy songs of the PC song folder to the floppy disk",
               std::string("FILE is a song of the PC song folder, by its path or its name; it keeps its\n"
                           "name on the floppy. One line a song tells what happened.\n") +
                   where,
               Export});
  t.push_back({{"floppy", "import"}, "", "import every song file of the floppy disk into the PC song folder",
               std::string(".MF4 files are copied (a song of the same title and performer is replaced\n"
                           "only on Yes), .MF3, .MID and .KAR files converted as `convert` does.\n") +
                   where,
               Import});
}

}  // namespace kestro::cli

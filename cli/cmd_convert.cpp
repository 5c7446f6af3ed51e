// kestro-cli convert: imports song files into the PC song folder as the main
// window's import does.
#include <cstdio>
#include <string>
#include <system_error>

#include "cli/cli.h"
#include "convert/convert_context.h"
#include "library/pc_folder.h"
#include "library/song_import.h"
#include "platform/latin1.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

int Convert(Context& ctx, std::vector<std::string>& a) {
  auto to = TakeOption(a, "--to");
  if (UnknownOption(a) || a.empty()) {
    std::fprintf(stderr, "usage: kestro-cli convert FILE... [--to DIR]\n");
    return kUsage;
  }
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  const fs::path folder = to ? fs::path(*to) : library::ReadPcFolders(*env).oldMf4;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return ctx.Fail("no song folder " + folder.string());

  // One run is one import batch: both questions start switched on.
  ConvertContext conversion;
  conversion.EnableQuestions();
  bool failed = false;
  size_t imported = 0, declined = 0, notSongs = 0;
  const std::vector<fs::path> files(a.begin(), a.end());
  library::ImportSongFiles(*env, conversion, files, folder, {}, [&](size_t i, const library::ImportResult& r) {
    const std::string& file = a[i];
    if (r.outcome == library::ImportOutcome::Imported) {
      ++imported;
      std::printf("%s: imported as %s\n", file.c_str(), r.destination.string().c_str());
    } else {
      std::printf("%s: %s\n", file.c_str(), library::OutcomeText(r.outcome));
      if (r.outcome == library::ImportOutcome::Declined) ++declined;
      if (r.outcome == library::ImportOutcome::NotASong) ++notSongs;
    }
    std::fflush(stdout);
    if (r.outcome == library::ImportOutcome::Failed) {
      failed = true;
      if (!r.reason.empty()) std::fprintf(stderr, "%s\n", r.reason.c_str());
    }
    if (r.digitWarning) std::fprintf(stderr, "%s\n", Latin1ToUtf8(*r.digitWarning).c_str());
    return true;
  });
  // Songs the user declined were a choice, not a failure.
  if (imported == 0 && declined == 0) {
    return ctx.Fail(notSongs == a.size() ? "no song was imported: songs are .MID, .KAR, .MF3, .MF4 and .MP3 files"
                                         : "no song was imported");
  }
  std::printf("%zu of %zu files imported into %s\n", imported, a.size(), folder.string().c_str());
  return failed ? kFailed : kOk;
}

}  // namespace

void RegisterConvertCommands(CommandTable& t) {
  t.push_back({{"convert"}, "FILE... [--to DIR]", "import song files into the PC song folder (or DIR)",
               "Imports each file as the main window does: .MF4 and .MP3 files are copied,\n"
               ".MF3 packages re-wrapped as MF4, .MID and .KAR files converted into MF4\n"
               "songs (karaoke pages made from their lyrics) and packed with their texts;\n"
               "other files are skipped. The song folder is PATH/OLD_MF4 of Zumbla.INI\n"
               "(default: the install folder). The conversion's questions are answered by\n"
               "--yes / --no. One line per file tells what happened, and a last line how\n"
               "many of the files were imported; the exit status is 1 when a file failed\n"
               "or nothing was imported (every file skipped or failed).",
               Convert});
}

}  // namespace kestro::cli

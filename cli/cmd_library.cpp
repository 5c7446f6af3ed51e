// Commands on the song lists: the PC folder, song texts, the connected
// medium, comparison, search and export.
#include <cstdio>

#include "cli/app_session.h"
#include "library/lists.h"
#include "library/print_layout.h"
#include "library/song_texts.h"
#include "platform/charmap.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::cli {

namespace fs = std::filesystem;

std::unique_ptr<AppSession> OpenApp(Context& ctx) {
  Env* env = ctx.RequireInstall();
  if (!env) return nullptr;
  return std::make_unique<AppSession>(*env);
}

std::string MediumName(int medium) {
  switch (medium) {
    case 0: return "0 card in a card reader";
    case 1: return "1 player with its card";
    case 2: return "2 player's internal memory";
    default: return "-1 nothing connected";
  }
}

std::string ShownText(const std::string& text) { return TerminalText(PlayerTextToLatin1(text)); }

std::string ShownName(const std::string& name) { return TerminalName(name); }

std::string SongCount(size_t n) { return std::to_string(n) + (n == 1 ? " song" : " songs"); }

std::string PlayerProblem(App& app) {
  switch (app.card.CheckRefusal()) {
    case 7: return "the card is formatted FAT32; the player needs FAT16 (kestro-cli card format)";
    case 6: return "the card holds no FAT16 volume the player can use (kestro-cli card format)";
    default: break;
  }
  if (app.lib.moduleError)
    return "the card lacks the player's index files and song folders (kestro-cli card structure adds them)";
  if (app.lib.indexUnreadable) return "the card's index files could not be read";
  if (app.link.linkErrorState == 1) return "the link to the player was lost";
  return "the player does not answer (another program may be using it)";
}

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

void PrintList(const library::SongList& list, bool withFile) {
  for (const auto& r : list) {
    std::printf("%5u  %-27s  %-27s", static_cast<unsigned>(r.code), ShownText(r.title).c_str(),
                ShownText(r.author).c_str());
    if (withFile) std::printf("  %s", ShownName(r.fileName).c_str());
    std::printf("\n");
  }
}

int PcList(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("pc ls");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  // As at the program's start: songs waiting to arrive come in first.
  s->app.Start();
  const library::Library& lib = s->app.lib;
  for (const auto& r : lib.pc) {
    std::printf("%-27s  %-27s  %-16s  %s\n", ShownText(r.title).c_str(), ShownText(r.author).c_str(),
                ShownText(r.genre).c_str(), ShownName(fs::path(r.fileName).filename().string()).c_str());
  }
  std::printf("%s in %s\n", SongCount(lib.pc.size()).c_str(), ShownName(lib.pcFolder.string()).c_str());
  return kOk;
}

int SongShow(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1) return Usage("song show FILE");
  auto data = ReadBinaryFile(a[0]);
  if (!data) return ctx.Fail("cannot read " + a[0]);
  data->resize(std::min(data->size(), library::kSongHeadBytes));
  library::SongTexts t = library::ReadStoredTexts(a[0], data->data(), data->size());
  std::printf("title:     %s\nperformer: %s\ngenre:     %s\neditor:    %s\nauthor:    %s\nrights:    %s\n",
              ShownText(t.title).c_str(), ShownText(t.performer).c_str(), ShownText(t.genre).c_str(),
              ShownText(t.editor).c_str(), ShownText(t.author).c_str(), ShownText(t.rights).c_str());
  return kOk;
}

int SongEdit(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "song edit FILE [--title T] [--performer P] [--genre G] [--editor E] [--author A]";
  auto title = TakeOption(a, "--title");
  auto performer = TakeOption(a, "--performer");
  auto genre = TakeOption(a, "--genre");
  auto editor = TakeOption(a, "--editor");
  auto author = TakeOption(a, "--author");
  if (a.size() != 1 || UnknownOption(a)) return Usage(synopsis);
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  auto data = ReadBinaryFile(a[0]);
  if (!data) return ctx.Fail("cannot read " + a[0]);
  data->resize(std::min(data->size(), library::kSongHeadBytes));
  library::SongTexts t = library::ReadStoredTexts(a[0], data->data(), data->size());
  auto set = [](std::string& field, const std::optional<std::string>& v) {
    if (v) field = Utf8ToLatin1(*v).substr(0, 31);
  };
  set(t.title, title);
  set(t.performer, performer);
  set(t.genre, genre);
  set(t.editor, editor);
  set(t.author, author);
  if (!library::WriteSongTexts(a[0], t, env->installDir)) {
    ReportWriteError(*env, a[0]);
    return kFailed;
  }
  return kOk;
}

int Medium(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("medium");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  int m = s->app.SettleMedium();
  std::printf("%s\n", MediumName(m).c_str());
  if (m == 0) std::printf("card folder: %s\n", s->app.lib.flashDrive.c_str());
  if (m == 1 || m == 2) std::printf("firmware release: %s\n", s->app.cycle.lastInfo.Release().c_str());
  return kOk;
}

// A medium was found but its song list could not be read: an empty list
// would pass for a player without songs.
bool PlayerListUnread(const App& app) { return app.cycle.currentMedium >= 0 && !app.lib.playerListRead; }

int ListUnread(Context& ctx, App& app) {
  return ctx.Fail("the player's song list could not be read: " + PlayerProblem(app));
}

// Both lists with the current medium, compared. Null (the reason shown) when
// the player side was wanted and a medium is there whose list is unknown.
std::unique_ptr<AppSession> LoadBothLists(Context& ctx, bool needPlayer) {
  auto s = OpenApp(ctx);
  if (!s) return nullptr;
  s->app.Start();
  if (needPlayer) {
    s->app.SettleMedium();
    if (PlayerListUnread(s->app)) {
      ListUnread(ctx, s->app);
      return nullptr;
    }
  }
  library::CompareLists(s->app.lib.pc, s->app.lib.player);
  return s;
}

int Songs(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("songs");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  int m = s->app.SettleMedium();
  if (m < 0) return ctx.Fail("no player or card found");
  if (PlayerListUnread(s->app)) return ListUnread(ctx, s->app);
  PrintList(s->app.lib.player, true);
  std::printf("%s\n", SongCount(s->app.lib.player.size()).c_str());
  return kOk;
}

int Compare(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("compare");
  auto s = LoadBothLists(ctx, true);
  if (!s) return kFailed;
  if (s->app.cycle.currentMedium < 0) return ctx.Fail("no player or card found");
  int n = 0;
  for (const auto& r : s->app.lib.pc) {
    if (!r.existsOnTarget) continue;
    std::printf("%-27s  %-27s  %s\n", ShownText(r.title).c_str(), ShownText(r.author).c_str(),
                ShownName(fs::path(r.fileName).filename().string()).c_str());
    ++n;
  }
  std::printf("%s on both sides\n", SongCount(static_cast<size_t>(n)).c_str());
  return kOk;
}

int Search(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "search TEXT [--titles] [--performers] [--pc] [--player]";
  library::SearchState st;
  st.titles = TakeFlag(a, "--titles");
  st.performers = TakeFlag(a, "--performers");
  st.pcList = TakeFlag(a, "--pc");
  st.playerList = TakeFlag(a, "--player");
  if (a.size() != 1 || UnknownOption(a)) return Usage(synopsis);
  if (!st.titles && !st.performers) st.titles = true;
  if (!st.pcList && !st.playerList) st.pcList = st.playerList = true;
  auto s = LoadBothLists(ctx, st.playerList);
  if (!s) return kFailed;
  std::vector<int> pcRows, playerRows;
  std::string text = Utf8ToLatin1(a[0]);
  library::SelectAllMatches(st, s->app.lib.pc, s->app.lib.player, text, &pcRows, &playerRows);
  for (int i : pcRows) {
    const auto& r = s->app.lib.pc[static_cast<size_t>(i)];
    std::printf("pc      %-27s  %-27s  %s\n", ShownText(r.title).c_str(), ShownText(r.author).c_str(),
                ShownName(fs::path(r.fileName).filename().string()).c_str());
  }
  for (int i : playerRows) {
    const auto& r = s->app.lib.player[static_cast<size_t>(i)];
    std::printf("player  %-27s  %-27s  %s\n", ShownText(r.title).c_str(), ShownText(r.author).c_str(),
                ShownName(r.fileName).c_str());
  }
  if (pcRows.empty() && playerRows.empty()) {
    s->app.env.ui.ShowMessage(s->app.env.T("MSG_SEARCH_TEXT_NOT_FOUND"), s->app.env.T("MSG_CAPTION_WARNING"),
                              mb::kIconExclamation);
    return kFailed;
  }
  return kOk;
}

int ExportCsv(Context& ctx, std::vector<std::string>& a) {
  bool pc = TakeFlag(a, "--pc");
  bool player = TakeFlag(a, "--player");
  if (a.size() != 1 || UnknownOption(a) || (pc && player)) return Usage("export-csv FILE [--pc|--player]");
  auto s = LoadBothLists(ctx, !pc);
  if (!s) return kFailed;
  if (!pc && s->app.cycle.currentMedium < 0) return ctx.Fail("no player or card found (use --pc for the PC list)");
  library::Renumber(s->app.lib.pc);
  library::Renumber(s->app.lib.player);
  fs::path out = fs::absolute(a[0]);
  ctx.ui.presetSave = SaveFileResult{out.string(), pc ? 0 : 1};
  if (!library::ExportCsv(s->app.env, s->app.lib.pc, s->app.lib.player, s->app.cycle.currentMedium,
                          fs::current_path().string()))
    return kFailed;
  return kOk;
}

int Print(Context& ctx, std::vector<std::string>& a) {
  bool pc = TakeFlag(a, "--pc");
  bool player = TakeFlag(a, "--player");
  if (a.size() != 1 || UnknownOption(a) || (pc && player)) return Usage("print OUT.pdf [--pc|--player]");
  auto s = LoadBothLists(ctx, !pc);
  if (!s) return kFailed;
  App& app = s->app;
  const int medium = app.cycle.currentMedium;
  if (!pc && medium < 0) return ctx.Fail("no player or card found (use --pc for the PC list)");
  // In the order the window shows the list.
  library::SortOrder order = library::LoadSortOrder(app.env.profile);
  library::SongList& list = pc ? app.lib.pc : app.lib.player;
  library::SortList(list, pc, pc ? order.pcColumn : order.playerColumn,
                    (pc ? order.pcDescending : order.playerDescending) != 0);
  auto print = library::PrepareListPrint(app.env, list, pc, medium, false);
  if (!print) return kFailed;
  fs::path out = fs::absolute(a[0]);
  int pages = 0, perPage = 0;
  if (!library::WritePdfList(out, print->job, print->documentName, &pages, &perPage))
    return ctx.Fail("cannot write " + out.string());
  std::printf("%zu songs on %d pages of at most %d songs: %s\n", print->job.rows.size(), pages, perPage,
              ShownName(out.string()).c_str());
  return kOk;
}

int CardStructure(Context& ctx, std::vector<std::string>& a) {
  if (!a.empty()) return Usage("card structure");
  auto s = OpenApp(ctx);
  if (!s) return kFailed;
  App& app = s->app;
  int m = app.SettleMedium();
  if (m != library::kMediumCard && m != library::kMediumCardReader)
    return ctx.Fail("no card found: connect the player with its card, or put the card in a card reader");
  bool usb = m == library::kMediumCard;
  if (usb) {
    app.link.LinkOpen();
    app.player.CardAccessBegin();
    app.player.CardAccessOpen();
    if (!app.card.Mounted()) app.card.CheckCard();
  }
  bool complete = app.lib.CheckCardStructure();
  if (!complete) {
    if (usb && !app.card.Mounted()) {
      app.player.CardAccessEnd();
      app.link.LinkClose();
      return ctx.Fail("the card cannot be read");
    }
    app.lib.CreateCardStructure();
    complete = app.lib.CheckCardStructure();
    std::printf(complete ? "created what was missing\n" : "the structure could not be completed\n");
  } else {
    std::printf("complete\n");
  }
  if (usb) {
    app.player.CardAccessEnd();
    app.link.LinkClose();
  }
  return complete ? kOk : kFailed;
}

}  // namespace

void RegisterLibraryCommands(CommandTable& t) {
  t.push_back({{"pc", "ls"}, "", "list the songs of the PC song folder (PATH/OLD_MF4)", "", PcList});
  t.push_back({{"song", "show"}, "FILE", "the texts stored in an MF4 or MP3 file", "", SongShow});
  t.push_back({{"song", "edit"}, "FILE [--title T] [--performer P] [--genre G] [--editor E] [--author A]",
               "change the texts stored in an MF4 or MP3 file",
               "Texts not named keep their value; each is cut to 31 characters. An MP3 file\n"
               "without a tag gets one; a tag too small for the new texts grows.",
               SongEdit});
  t.push_back({{"card", "structure"}, "", "check the card's index files and song folders, and create what is missing",
               "Works on the player's card and on a card in a card reader.", CardStructure});
  t.push_back({{"medium"}, "", "find the connected player or card reader and print the medium",
               "Runs the connection cycle until a medium is taken over (a few seconds at most).", Medium});
  t.push_back({{"songs"}, "", "list the songs of the connected medium: code, title, performer, file", "", Songs});
  t.push_back({{"compare"}, "", "list the PC songs that are also on the connected medium", "", Compare});
  t.push_back({{"search"}, "TEXT [--titles] [--performers] [--pc] [--player]",
               "find songs whose title or performer holds TEXT",
               "TEXT is upper-cased; stored texts are compared as they are. Without --titles\n"
               "or --performers titles are searched; without --pc or --player both lists.",
               Search});
  t.push_back({{"export-csv"}, "FILE [--pc|--player]", "write a list as semicolon-separated text",
               "The player list by default (the connected medium), the PC list with --pc.", ExportCsv});
  t.push_back({{"print"}, "OUT.pdf [--pc|--player]", "print a list into a PDF file, as the window prints it",
               "The player list by default (the connected medium), the PC list with --pc. A4 pages,\n"
               "title and performer in two columns, in the list's saved sort order.",
               Print});
}

}  // namespace kestro::cli

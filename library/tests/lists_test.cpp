#include "library/lists.h"

#include <gtest/gtest.h>

#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

SongRecord Rec(std::string title, std::string author, std::string file = "", std::string genre = "") {
  SongRecord r;
  r.title = std::move(title);
  r.author = std::move(author);
  r.fileName = std::move(file);
  r.genre = std::move(genre);
  return r;
}

TEST(CompareLists, MarksSongsOnBothSidesByTheir26BytePrefixes) {
  std::string base(26, 'T');
  SongList pc = {Rec(base + "pc-end", "AUTHOR"), Rec("ALONE", "X"), Rec("SAME", "A")};
  SongList player = {Rec(base + "other", "AUTHOR"), Rec("SAME", "B"), Rec("SAME", "A"), Rec("ALONE", "Y")};
  pc[1].existsOnTarget = true;  // stale flags are cleared
  CompareLists(pc, player);
  EXPECT_TRUE(pc[0].existsOnTarget);
  EXPECT_FALSE(pc[1].existsOnTarget);
  EXPECT_TRUE(pc[2].existsOnTarget);
  EXPECT_TRUE(player[0].existsOnTarget);
  EXPECT_FALSE(player[1].existsOnTarget);
  EXPECT_TRUE(player[2].existsOnTarget);
  EXPECT_FALSE(player[3].existsOnTarget);
}

TEST(Sorting, ColumnsAndTieBreaks) {
  SongList l = {Rec("b", "Y", "/s/2.MF4", "rock"), Rec("a", "Y", "/s/1.MF4", "pop"), Rec("C", "X", "/t/0.MF4", "pop"),
                Rec("a", "Z", "/a/9.MF4", "jazz")};
  Renumber(l);
  auto titles = [&] {
    std::string s;
    for (const auto& r : l) s += r.title + (r.fileName.empty() ? "" : r.fileName.substr(3, 1)) + " ";
    return s;
  };
  SongList original = l;
  SortList(l, true, 0, false);
  EXPECT_EQ(titles(), "C0 a1 a9 b2 ");  // byte order: upper case first; equal titles keep their order
  l = original;
  SortList(l, true, 1, false);
  EXPECT_EQ(titles(), "C0 a1 b2 a9 ");  // performer, then the full file name
  l = original;
  SortList(l, true, 2, true);
  EXPECT_EQ(titles(), "b2 C0 a1 a9 ");  // genre descending, then file name descending
  l = original;
  SortList(l, true, 3, false);
  EXPECT_EQ(titles(), "a9 a1 b2 C0 ");  // the whole path
  l = original;
  SortList(l, false, 3, false);
  EXPECT_EQ(titles(), "C0 a1 b2 a9 ");  // player: bare names first
  l = original;
  SortList(l, true, -1, false);
  EXPECT_EQ(titles(), "b2 a1 C0 a9 ");
  EXPECT_EQ(l[2].listIndex, 2);
}

TEST(SortOrder, DigitsReadAsCharacterMinusZero) {
  testing::TempDir dir;
  ProfileFile p(dir / "Zumbla.INI");
  SortOrder o = LoadSortOrder(p);
  EXPECT_EQ(o.pcColumn, 0);
  EXPECT_EQ(o.playerDescending, 0);
  ASSERT_TRUE(p.WriteString("SETTINGS", "LISTSORTORDER", "/13"));
  o = LoadSortOrder(p);
  EXPECT_EQ(o.pcColumn, -1);
  EXPECT_EQ(o.pcDescending, 1);
  EXPECT_EQ(o.playerColumn, 3);
  EXPECT_EQ(o.playerDescending, 0);  // missing digit
  o = {2, 1, 0, 0};
  ClickColumn(o.playerColumn, o.playerDescending, 0);
  EXPECT_EQ(o.playerDescending, 1);
  ClickColumn(o.playerColumn, o.playerDescending, 0);
  EXPECT_EQ(o.playerDescending, 0);
  ClickColumn(o.pcColumn, o.pcDescending, 3);
  EXPECT_EQ(o.pcColumn, 3);
  EXPECT_EQ(o.pcDescending, 0);
  ASSERT_TRUE(SaveSortOrder(p, o));
  EXPECT_EQ(p.GetString("settings", "listsortorder", ""), "3000");
}

TEST(ListWidths, DefaultsAndRangeRule) {
  testing::TempDir dir;
  ProfileFile p(dir / "Zumbla.INI");
  ListWidths w = LoadListWidths(p);
  EXPECT_EQ(w.pc[0], 200);
  EXPECT_EQ(w.pc[4], 96);
  // The second list keeps its own defaults, then the range rule takes the
  // first list's entry for an out-of-range width.
  EXPECT_EQ(w.player[4], 100);
  EXPECT_EQ(w.player[7], 100);  // 0 is out of range: first list's 100
  EXPECT_EQ(w.player[8], 0);    // ... and the first list's 0 there
  int32_t stored[10] = {3, 251, 4, 250, 120, 0, 0, 0, 0, 0};
  ASSERT_TRUE(p.WriteStruct("ListSettings", "List2_Width", stored, sizeof stored));
  w = LoadListWidths(p);
  EXPECT_EQ(w.player[0], 200);
  EXPECT_EQ(w.player[1], 200);
  EXPECT_EQ(w.player[2], 4);
  EXPECT_EQ(w.player[3], 250);
  EXPECT_EQ(w.player[4], 120);
}

TEST(Search, UpperCasedTextAgainstStoredTexts) {
  SongList pc = {Rec("VOLARE", "MODUGNO"), Rec("volare", "x"), Rec("AZZURRO", "CELENTANO")};
  SongList player = {Rec("NEL BLU", "MODUGNO"), Rec("ALTRO", "VOLARE BAND")};
  EXPECT_TRUE(MatchesSearch(pc[0], "vol", true, false));
  EXPECT_FALSE(MatchesSearch(pc[1], "vol", true, false));  // lower-case titles are never found
  EXPECT_FALSE(MatchesSearch(pc[0], "mod", true, false));
  EXPECT_TRUE(MatchesSearch(pc[0], "mod", false, true));

  SearchState s;
  s.titles = true;
  s.performers = true;
  SearchHit hit{};
  std::vector<std::pair<int, int>> seen;
  for (int i = 0; i < 4; ++i) {
    if (FindNext(s, pc, player, "o", &hit) == SearchOutcome::Found) seen.push_back({hit.list, hit.row});
    else seen.push_back({-1, -1});
  }
  // "O" matches PC rows 0 and 2, then player rows 0 and 1.
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {0, 2}, {1, 0}, {1, 1}}));
  EXPECT_EQ(FindNext(s, pc, player, "o", &hit), SearchOutcome::Found);  // back at the top of the PC list
  EXPECT_EQ(hit.list, 0);
  EXPECT_EQ(hit.row, 0);

  s.playerList = false;
  s.currentList = 0;
  s.lastRow = -1;
  EXPECT_EQ(FindNext(s, pc, player, "zz", &hit), SearchOutcome::Found);
  EXPECT_EQ(FindNext(s, pc, player, "zz", &hit), SearchOutcome::NotFound);
  s.pcList = false;
  EXPECT_EQ(FindNext(s, pc, player, "zz", &hit), SearchOutcome::NoListChecked);

  SearchState all;
  all.pcList = all.playerList = true;
  std::vector<int> pcRows, playerRows;
  EXPECT_EQ(SelectAllMatches(all, pc, player, "volare", &pcRows, &playerRows), SearchOutcome::Found);
  EXPECT_EQ(pcRows, std::vector<int>{0});
  EXPECT_TRUE(playerRows.empty());  // performers not checked
}

TEST(Csv, LinesAndSeparatorsInTexts) {
  SongList l = {Rec("VOLARE", "MODUGNO"), Rec("UNO; DUE", "A \"B\"")};
  Renumber(l);
  EXPECT_EQ(CsvText("Num;Titolo;Interprete \n", l),
            "Num;Titolo;Interprete \n0;VOLARE;MODUGNO\n1;\"UNO; DUE\";\"A \"\"B\"\"\"\n");
}

TEST(Csv, ExportAsksForFileAndList) {
  testing::TempDir dir;
  ProfileFile profile(dir / "Zumbla.INI");
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  dict.LoadFromText("[ENUMKEYS]\nK0=MSG_TITLECSV\nK1=MSG_FILESAVED_CSV\n[ITALIANO]\nMSG_TITLECSV=N;T;I\\n\nMSG_FILESAVED_CSV=Salvato\n",
                    "ITALIANO", ui);
  Env env{ui, clock, profile, dict, dir.path()};
  SongList pc = {Rec("PC SONG", "A")}, player = {Rec("CARD SONG", "B")};
  Renumber(pc);
  Renumber(player);
  EXPECT_FALSE(ExportCsv(env, pc, player, 1, dir.path().string()));  // cancelled
  ui.saveAnswers.push_back(SaveFileResult{"out.csv", 0});
  ASSERT_TRUE(ExportCsv(env, pc, player, 1, dir.path().string()));
  EXPECT_EQ(ui.saveRequests[1].radioLabels, (std::vector<std::string>{"Kestro", "Compact Flash"}));
  EXPECT_EQ(ui.saveRequests[1].radioChecked, 1);
  EXPECT_EQ(testing::ReadFileOrEmpty(dir / "out.csv"), "N;T;I \n0;PC SONG;A\n");
  EXPECT_EQ(ui.Last()->text, "Salvato");
}

}  // namespace
}  // namespace kestro::library

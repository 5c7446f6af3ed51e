// What the two song lists offer besides transfers: the comparison that marks
// songs present on both sides, sorting, searching, the saved sort order and
// column widths, and the export as semicolon-separated text.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "library/song_record.h"
#include "context/env.h"

namespace kestro::library {

// Sets `existsOnTarget` on every record of either list whose title and
// performer agree, in their first 26 bytes, with a record of the other list;
// clears it on all others.
void CompareLists(SongList& pc, SongList& player);

// Sort callbacks: negative, zero or positive. Column 0 title, 1 performer,
// 2 genre, 3 file name; any other column keeps the list positions.
int ComparePcRecords(const SongRecord& a, const SongRecord& b, int column);
int ComparePlayerRecords(const SongRecord& a, const SongRecord& b, int column);
// Sorts a list in place (stable) and renumbers it; a column of -1 leaves it.
void SortList(SongList& list, bool pcList, int column, bool descending);

struct SortOrder {
  int pcColumn = 0;
  int pcDescending = 0;
  int playerColumn = 0;
  int playerDescending = 0;
};
// SETTINGS/"LISTSORTORDER": four digits, each read as the character minus '0'
// (so "/" gives -1: that list stays unsorted).
SortOrder LoadSortOrder(const ProfileFile& profile);
bool SaveSortOrder(ProfileFile& profile, const SortOrder& order);
// A click on a column header: the current column toggles the reverse flag,
// another column becomes the sort column in normal order.
void ClickColumn(int& column, int& descending, int clicked);

// Column widths of the two lists (ten each), with the range rule applied.
struct ListWidths {
  std::array<int32_t, 10> pc{};
  std::array<int32_t, 10> player{};
};
ListWidths LoadListWidths(const ProfileFile& profile);

// Search: the search text is upper-cased, the stored texts are not.
bool MatchesSearch(const SongRecord& r, std::string_view searchText, bool titles, bool performers);

struct SearchState {
  bool titles = true;
  bool performers = false;
  bool pcList = true;
  bool playerList = true;
  int currentList = 0;  // 0 PC, 1 player
  int lastRow = -1;
};
struct SearchHit {
  int list;  // 0 PC, 1 player
  int row;
};
enum class SearchOutcome { Found, NotFound, NoListChecked };
// Find next: from the row after the last match of the current list, then in
// the other list, at most two rounds.
SearchOutcome FindNext(SearchState& s, const SongList& pc, const SongList& player, std::string_view text,
                       SearchHit* hit);
// Select all: the rows of each checked list that match.
SearchOutcome SelectAllMatches(const SearchState& s, const SongList& pc, const SongList& player,
                               std::string_view text, std::vector<int>* pcRows, std::vector<int>* playerRows);

// One list as text: the first line is the text of "MSG_TITLECSV" (used as a
// format, it carries its own line end), then "listIndex;title;performer".
std::string CsvText(const std::string& titleLine, const SongList& list);
// The export command: asks for the file and the list, writes it, tells the
// user. `medium` names the player list's radio button.
bool ExportCsv(Env& env, const SongList& pc, const SongList& player, int medium, const std::string& folder);

}  // namespace kestro::library

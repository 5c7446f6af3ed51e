#include "library/lists.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/fileutil.h"
#include "platform/format.h"

namespace kestro::library {

namespace {

std::string_view Prefix26(const std::string& s) { return std::string_view(s).substr(0, std::min<size_t>(s.size(), 26)); }

int ByteCompare(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view BareName(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  if (slash != std::string_view::npos) path = path.substr(slash + 1);
  size_t dot = path.rfind('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

void CompareLists(SongList& pc, SongList& player) {
  // Keyed on the two 26-byte prefixes; the same pairs as comparing every
  // record with every other, without the quadratic time.
  auto key = [](const SongRecord& r) {
    std::string k(Prefix26(r.title));
    k += '\0';
    k += Prefix26(r.author);
    return k;
  };
  std::unordered_map<std::string, int> onPlayer;
  for (auto& r : player) {
    r.existsOnTarget = false;
    ++onPlayer[key(r)];
  }
  std::unordered_map<std::string, int> onPc;
  for (auto& r : pc) {
    std::string k = key(r);
    r.existsOnTarget = onPlayer.count(k) > 0;
    if (r.existsOnTarget) ++onPc[k];
  }
  for (auto& r : player) r.existsOnTarget = onPc.count(key(r)) > 0;
}

int ComparePcRecords(const SongRecord& a, const SongRecord& b, int column) {
  switch (column) {
    case 0: return ByteCompare(a.title, b.title);
    case 1:
      if (int c = ByteCompare(a.author, b.author)) return c;
      return ByteCompare(a.fileName, b.fileName);
    case 2:
      if (int c = ByteCompare(a.genre, b.genre)) return c;
      return ByteCompare(a.fileName, b.fileName);
    case 3: return ByteCompare(a.fileName, b.fileName);
    default: return a.listIndex < b.listIndex ? -1 : (a.listIndex > b.listIndex ? 1 : 0);
  }
}

int ComparePlayerRecords(const SongRecord& a, const SongRecord& b, int column) {
  if (column == 3) {
    if (int c = ByteCompare(BareName(a.fileName), BareName(b.fileName))) return c;
    return ByteCompare(a.fileName, b.fileName);
  }
  return ComparePcRecords(a, b, column);
}

void SortList(SongList& list, bool pcList, int column, bool descending) {
  if (column == -1) return;
  std::stable_sort(list.begin(), list.end(), [&](const SongRecord& a, const SongRecord& b) {
    int c = pcList ? ComparePcRecords(a, b, column) : ComparePlayerRecords(a, b, column);
    return descending ? c > 0 : c < 0;
  });
  Renumber(list);
}

SortOrder LoadSortOrder(const ProfileFile& profile) {
  std::string v = profile.GetString("SETTINGS", "LISTSORTORDER", "0000", 4);
  while (v.size() < 4) v += '0';
  SortOrder o;
  o.pcColumn = v[0] - '0';
  o.pcDescending = v[1] - '0';
  o.playerColumn = v[2] - '0';
  o.playerDescending = v[3] - '0';
  return o;
}

bool SaveSortOrder(ProfileFile& profile, const SortOrder& o) {
  auto digit = [](int v) { return Fmt("%1i", v); };
  return profile.WriteString("SETTINGS", "LISTSORTORDER",
                             digit(o.pcColumn) + digit(o.pcDescending) + digit(o.playerColumn) +
                                 digit(o.playerDescending));
}

void ClickColumn(int& column, int& descending, int clicked) {
  if (clicked == column) {
    descending = descending ? 0 : 1;
  } else {
    column = clicked;
    descending = 0;
  }
}

ListWidths LoadListWidths(const ProfileFile& profile) {
  ListWidths w;
  for (size_t i = 0; i < 10; ++i) {
    w.pc[i] = settings::kList1WidthDefault[i];
    w.player[i] = settings::kList2WidthDefault[i];
  }
  int32_t raw[10];
  if (profile.GetStruct(settings::kList1Width.section, settings::kList1Width.name, raw, sizeof raw))
    std::copy(raw, raw + 10, w.pc.begin());
  if (profile.GetStruct(settings::kList2Width.section, settings::kList2Width.name, raw, sizeof raw))
    std::copy(raw, raw + 10, w.player.begin());
  for (size_t i = 0; i < 10; ++i) {
    if (w.pc[i] < 4 || w.pc[i] > 250) w.pc[i] = settings::kList1WidthDefault[i];
    if (w.player[i] < 4 || w.player[i] > 250) w.player[i] = settings::kList1WidthDefault[i];
  }
  return w;
}

bool MatchesSearch(const SongRecord& r, std::string_view searchText, bool titles, bool performers) {
  std::string needle = UpperAscii(searchText);
  if (titles && r.title.find(needle) != std::string::npos) return true;
  if (performers && r.author.find(needle) != std::string::npos) return true;
  return false;
}

SearchOutcome FindNext(SearchState& s, const SongList& pc, const SongList& player, std::string_view text,
                       SearchHit* hit) {
  if (!s.pcList && !s.playerList) return SearchOutcome::NoListChecked;
  auto checked = [&](int list) { return list == 0 ? s.pcList : s.playerList; };
  for (int round = 0; round < 2; ++round) {
    if (checked(s.currentList)) {
      const SongList& l = s.currentList == 0 ? pc : player;
      for (size_t row = static_cast<size_t>(s.lastRow + 1); row < l.size(); ++row) {
        if (MatchesSearch(l[row], text, s.titles, s.performers)) {
          s.lastRow = static_cast<int>(row);
          if (hit) *hit = {s.currentList, s.lastRow};
          return SearchOutcome::Found;
        }
      }
    }
    s.lastRow = -1;
    s.currentList = 1 - s.currentList;
  }
  return SearchOutcome::NotFound;
}

SearchOutcome SelectAllMatches(const SearchState& s, const SongList& pc, const SongList& player,
                               std::string_view text, std::vector<int>* pcRows, std::vector<int>* playerRows) {
  if (!s.pcList && !s.playerList) return SearchOutcome::NoListChecked;
  bool any = false;
  auto collect = [&](const SongList& l, std::vector<int>* rows) {
    for (size_t i = 0; i < l.size(); ++i) {
      if (MatchesSearch(l[i], text, s.titles, s.performers)) {
        if (rows) rows->push_back(static_cast<int>(i));
        any = true;
      }
    }
  };
  if (s.pcList) collect(pc, pcRows);
  if (s.playerList) collect(player, playerRows);
  return any ? SearchOutcome::Found : SearchOutcome::NotFound;
}

namespace {
// A field holding the separator or a quote is quoted, so that it cannot
// shift the columns; every other field is written as it stands.
std::string CsvField(const std::string& s) {
  if (s.find_first_of(";\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}
}  // namespace

std::string CsvText(const std::string& titleLine, const SongList& list) {
  std::string out = Fmt(titleLine);
  for (const auto& r : list) out += Fmt("%d;%s;%s\n", static_cast<int>(r.listIndex), CsvField(r.title), CsvField(r.author));
  return out;
}

bool ExportCsv(Env& env, const SongList& pc, const SongList& player, int medium, const std::string& folder) {
  SaveFileRequest req;
  req.initialName = "DATABASE.CSV";
  req.filterName = env.T("MSG_DB_WITH_DELIMITED_FIELD");
  req.patterns = "*.CSV";
  req.title = env.T("MSG_TITLE_SAVEFILE");
  req.defaultExt = "CSV";
  req.folder = folder;
  req.radioLabels = {"Kestro", medium == 1 ? "Compact Flash" : "Zumbla"};
  req.radioChecked = 1;
  auto choice = env.ui.ChooseSaveFile(req);
  if (!choice) return false;
  std::filesystem::path path(choice->path);
  if (path.is_relative()) path = std::filesystem::path(folder) / path;
  const SongList& list = choice->radioChecked == 0 ? pc : player;
  if (!WriteTextFile(path, CsvText(env.T("MSG_TITLECSV"), list))) {
    env.ui.ShowMessage(env.TF("MSG_CANTCREATE", path.string()), env.T("MSG_WRITEERROR"), mb::kIconStop);
    return false;
  }
  env.ui.ShowMessage(env.T("MSG_FILESAVED_CSV"), env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
  return true;
}

}  // namespace kestro::library

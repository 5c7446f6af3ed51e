#include "library/pc_folder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

#include "library/dbf.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The first bytes of a file and its length.
bool ReadHead(const fs::path& p, Bytes* head, uint64_t* size) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  head->assign(kSongHeadBytes, 0);
  in.read(reinterpret_cast<char*>(head->data()), static_cast<std::streamsize>(head->size()));
  head->resize(static_cast<size_t>(in.gcount()));
  std::error_code ec;
  *size = fs::file_size(p, ec);
  return !ec;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

bool IsMf4Name(const fs::path& p) { return Upper(p.extension().string()) == ".MF4"; }

}  // namespace

PcFolders ReadPcFolders(const Env& env) {
  return {env.GetFolder(settings::kOldMf4), env.GetFolder(settings::kNewMf4), env.GetFolder(settings::kDownloadMf4)};
}

void ScanPcFolder(Env& env, const fs::path& folder, SongList& list) {
  list.clear();
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    std::error_code ec2;
    if (e.is_directory(ec2)) continue;
    std::string ext = ExtensionOf(e.path().filename().string());
    if (ext == "MF4" || ext == "MP3") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  if (files.size() > kListCapacity) files.resize(kListCapacity);

  for (size_t i = 0; i < files.size(); ++i) {
    SongRecord r;
    r.fileName = files[i].string();
    r.code = static_cast<uint16_t>(i);
    list.push_back(std::move(r));
  }
  const bool progress = list.size() > 50;
  if (progress) {
    env.ui.ProgressStart(static_cast<int>(list.size()));
    env.ui.ProgressLine1(env.T("MSG_READING_SONGS_FROM_HARDDISK"));
  }
  for (size_t i = 0; i < list.size(); ++i) {
    SongRecord& r = list[i];
    Bytes head;
    uint64_t size = 0;
    if (ReadHead(r.fileName, &head, &size)) {
      r.fileSize = static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
      ReadSongTexts(r, head.data(), head.size());
    } else {
      r.title = r.author = r.genre = "-";
      env.ui.ShowMessage(env.TF("MSG_CANTOPEN", r.fileName), env.T("MSG_READERROR"), mb::kIconStop);
    }
    if (progress) {
      env.ui.ProgressLine2(env.TF("MSG_X_OF_N", static_cast<int>(i + 1), static_cast<int>(list.size())));
      env.ui.ProgressStep();
    }
  }
  if (progress) env.ui.ProgressEnd();
  Renumber(list);
}

void MergeNewSongs(Env& env) {
  PcFolders f = ReadPcFolders(env);
  std::vector<fs::path> moved;
  for (const fs::path& from : {f.newMf4, f.downloadMf4}) {
    if (SameFolder(from, f.oldMf4)) continue;  // copying onto itself and deleting would lose the songs
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(from, ec)) {
      std::error_code ec2;
      if (!e.is_regular_file(ec2) || !IsMf4Name(e.path())) continue;
      // A song is removed from its folder only once its copy is in place.
      if (CopyFileOver(e.path(), f.oldMf4 / e.path().filename())) moved.push_back(e.path());
    }
  }
  for (const auto& p : moved) RemoveFile(p);
}

bool IsCatalogueSong(const Env& env, const std::string& sourceRights) {
  std::string u = Upper(sourceRights);
  return u.find("V-SONO") != std::string::npos || u.find("TRAXELDA") != std::string::npos ||
         env.GetInt(settings::kForceDbSettings) == 1;
}

namespace {

void PutText(Bytes& h, size_t at, size_t fieldSize, const std::string& text, size_t max) {
  std::string t = text.substr(0, std::min(text.size(), max));
  std::fill(h.begin() + static_cast<long>(at), h.begin() + static_cast<long>(at + fieldSize), 0);
  std::copy(t.begin(), t.end(), h.begin() + static_cast<long>(at));
}

bool ReadHeader(Env& env, const fs::path& p, Bytes* h) {
  std::ifstream in(p, std::ios::binary);
  h->assign(512, 0);
  if (in) in.read(reinterpret_cast<char*>(h->data()), 512);
  if (!in || in.gcount() != 512) {
    ReportReadError(env, p.string());
    return false;
  }
  return true;
}

bool WriteHeader(Env& env, const fs::path& p, const Bytes& h) {
  std::fstream out(p, std::ios::binary | std::ios::in | std::ios::out);
  if (out) out.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
  if (!out) {
    env.ui.ShowMessage(env.TF("MSG_CANTCREATE", p.string()), env.T("MSG_WRITEERROR"), mb::kIconStop);
    return false;
  }
  return true;
}

}  // namespace

bool FillImportedHeader(Env& env, const fs::path& mf4Path, const ImportedTexts& t) {
  fs::path dbfPath = env.InstallPath("MIDI.DBF");
  auto table = DbfTable::Open(dbfPath);
  if (!table) {
    env.ui.ShowMessage(env.TF("MSG_CANTOPEN", dbfPath.string()), env.T("MSG_READERROR"), mb::kIconStop);
    return false;
  }
  std::string key = Upper(BaseNameOf(mf4Path.filename().string())) + ".MID";
  bool catalogue = IsCatalogueSong(env, t.sourceRights);
  bool record = table->FindRecord(key, "CODICE");

  Bytes h;
  if (!ReadHeader(env, mf4Path, &h)) return false;
  auto field = [&](const char* name, size_t max) {
    std::string v;
    table->GetField(name, max, &v);
    return v;
  };
  if (catalogue && record) {
    PutText(h, kMf4Title, 32, t.hadTitle ? t.title : field("TITOLO", 31), 31);
    PutText(h, kMf4Author, 32, !t.author.empty() ? t.author : field("AUTORE", 31), 31);
    PutText(h, kMf4Performer, 32, !t.performer.empty() ? t.performer : field("INTERPRETE", 31), 31);
    PutText(h, kMf4Editor, 30, !t.editor.empty() ? t.editor : field("EDITORE", 30), 30);
    PutText(h, kMf4Genre, 32, !t.genre.empty() ? t.genre : field("GENERE", 31), 31);
  } else {
    if (!t.title.empty()) PutText(h, kMf4Title, 32, t.title, 31);
    if (!t.author.empty()) PutText(h, kMf4Author, 32, t.author, 31);
    if (!t.performer.empty()) PutText(h, kMf4Performer, 32, t.performer, 31);
    if (!t.editor.empty()) PutText(h, kMf4Editor, 30, t.editor, 30);
    if (!t.genre.empty()) PutText(h, kMf4Genre, 32, t.genre, 31);
  }
  if (!t.rightsToStore.empty()) PutText(h, kMf4Rights, 32, t.rightsToStore, 31);
  h[38] = static_cast<uint8_t>(t.tempo);
  h[39] = static_cast<uint8_t>(t.tempo >> 8);
  h[184] = 0;
  h[185] = t.markers;
  return WriteHeader(env, mf4Path, h);
}

bool CopyHeaderTexts(Env& env, const fs::path& source, const fs::path& target) {
  Bytes s, t;
  if (!ReadHeader(env, source, &s) || !ReadHeader(env, target, &t)) return false;
  for (size_t at : {kMf4Rights, kMf4Title, kMf4Editor, kMf4Author, kMf4Performer, kMf4Genre})
    std::copy(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + 32), t.begin() + static_cast<long>(at));
  return WriteHeader(env, target, t);
}

bool StampSourceName(Env& env, const fs::path& mf4Path) {
  Bytes h;
  if (!ReadHeader(env, mf4Path, &h)) return false;
  PutText(h, 42, 36, BaseNameOf(mf4Path.filename().string()) + ".MF4", 35);
  return WriteHeader(env, mf4Path, h);
}

std::vector<std::string> LoadSuggestionList(const fs::path& path) {
  std::vector<std::string> out;
  auto text = ReadTextFile(path);
  if (!text) return out;
  size_t pos = 0;
  while (pos <= text->size()) {
    size_t nl = text->find('\n', pos);
    std::string line = text->substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    size_t a = line.find_first_not_of(" \t\r");
    size_t b = line.find_last_not_of(" \t\r");
    if (a != std::string::npos) out.push_back(line.substr(a, b - a + 1));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return out;
}

std::optional<std::string> DigitWarning(Env& env, const fs::path& mf4Path) {
  Bytes h;
  std::ifstream in(mf4Path, std::ios::binary);
  h.assign(512, 0);
  if (!in.read(reinterpret_cast<char*>(h.data()), 512)) return std::nullopt;
  for (size_t at : {kMf4Title, kMf4Performer, kMf4Genre}) {
    for (size_t i = 0; i < 4 && h[at + i]; ++i) {
      if (h[at + i] >= '0' && h[at + i] <= '9') return env.TF("MSG_IMPORT_FIRST_4_CHAR_MUST_BE_NOT_DIGIT", mf4Path.string());
    }
  }
  return std::nullopt;
}

}  // namespace kestro::library

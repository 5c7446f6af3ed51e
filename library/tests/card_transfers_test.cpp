// Songs between the PC and the player's card, against the simulated player
// on a virtual clock (medium 1), and on a card in a card reader, here a
// plain folder (medium 0). What reaches the card is read back with the
// other systems' tools (dosfstools, mtools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "cardfs/tests/card_rig.h"
#include "library/card_paths.h"
#include "library/index_files.h"
#include "library/library.h"
#include "library/lists.h"
#include "library/song_texts.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;
using cardtest::CardConfig;
using cardtest::CardRig;
using cardtest::HaveTools;
using cardtest::Mtools;
using cardtest::Pattern;

Bytes Package(const std::string& title, const std::string& performer, size_t body, uint32_t seed) {
  Bytes b = Pattern(512 + body, seed);
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + kMf4Title, title.data(), title.size());
  std::memcpy(b.data() + kMf4Performer, performer.data(), performer.size());
  return b;
}

// An MP3 file: an ID3v2.3 tag with title and performer, then "audio".
Bytes Mp3(const std::string& title, const std::string& performer, size_t audio, uint32_t seed) {
  Bytes frames;
  auto frame = [&](const char* id, const std::string& text) {
    uint32_t n = static_cast<uint32_t>(text.size() + 1);
    frames.insert(frames.end(), id, id + 4);
    for (int s = 24; s >= 0; s -= 8) frames.push_back(static_cast<uint8_t>(n >> s));
    frames.insert(frames.end(), {0, 0, 0});
    frames.insert(frames.end(), text.begin(), text.end());
  };
  frame("TIT2", title);
  frame("TPE1", performer);
  uint32_t n = static_cast<uint32_t>(frames.size());
  Bytes b = {'I', 'D', '3', 3, 0, 0, static_cast<uint8_t>(n >> 21 & 0x7F), static_cast<uint8_t>(n >> 14 & 0x7F),
             static_cast<uint8_t>(n >> 7 & 0x7F), static_cast<uint8_t>(n & 0x7F)};
  b.insert(b.end(), frames.begin(), frames.end());
  Bytes a = Pattern(audio, seed);
  a[0] = 0xFF;
  a[1] = 0xFB;
  b.insert(b.end(), a.begin(), a.end());
  return b;
}

struct Listed {
  uint16_t code;
  std::string title;
  std::string author;
  std::string fileName;
  bool operator==(const Listed&) const = default;
  bool operator<(const Listed& o) const { return code != o.code ? code < o.code : fileName < o.fileName; }
};
std::ostream& operator<<(std::ostream& os, const Listed& l) {
  return os << l.code << " " << l.fileName << " '" << l.title << "' '" << l.author << "'";
}

// What fsck.fat -v says before it looks for clusters no file uses.
std::string FsckHead(const std::string& out) {
  size_t at = out.find("Checking for unused clusters.");
  return at == std::string::npos ? out : out.substr(0, at);
}

std::vector<Listed> Summary(const SongList& list) {
  std::vector<Listed> out;
  for (const auto& r : list) out.push_back({r.code, r.title, r.author, r.fileName});
  std::sort(out.begin(), out.end());
  return out;
}

// What two index files list.
std::vector<Listed> IndexListing(const std::optional<Bytes>& mindex0, const std::optional<Bytes>& mindex2) {
  EXPECT_TRUE(mindex0 && mindex2);
  if (!mindex0 || !mindex2) return {};
  auto list = ParseIndexFiles(*mindex0, *mindex2);
  EXPECT_TRUE(list);
  return list ? Summary(*list) : std::vector<Listed>{};
}

// The PC side and the helpers both media share.
class SongsBench {
 public:
  explicit SongsBench(Env& env) : lib(env), env_(env) {}
  void SetUpFolders(const fs::path& dir) {
    songs = dir / "songs";
    fs::create_directories(songs);
    env_.profile.WriteString("PATH", "OLD_MF4", songs.string());
    lib.pcFolder = songs;
  }
  fs::path AddPc(const std::string& file, const Bytes& data) {
    EXPECT_TRUE(WriteBinaryFile(songs / file, data));
    pcData[file] = data;
    return songs / file;
  }
  void Reload() {
    lib.ReloadPcList();
    CompareLists(lib.pc, lib.player);
  }
  void SelectPc(std::initializer_list<std::string> files) {
    for (auto& r : lib.pc) {
      r.selected = false;
      for (const auto& f : files) r.selected |= fs::path(r.fileName).filename() == f;
    }
  }
  void SelectAllPc() {
    for (auto& r : lib.pc) r.selected = true;
  }
  void SelectPlayer(std::initializer_list<uint16_t> codes) {
    for (auto& r : lib.player) r.selected = std::find(codes.begin(), codes.end(), r.code) != codes.end();
  }
  // Every PC file the test wrote is still there, unchanged.
  void ExpectPcFilesIntact() {
    for (const auto& [file, data] : pcData) EXPECT_EQ(ReadBinaryFile(songs / file), data) << file;
  }
  const SongRecord* Player(uint16_t code) const {
    for (const auto& r : lib.player)
      if (r.code == code) return &r;
    return nullptr;
  }

  Library lib;
  fs::path songs;
  std::map<std::string, Bytes> pcData;

 private:
  Env& env_;
};

// --- The player's card through the simulated player ---

class UsbCard : public ::testing::Test {
 protected:
  UsbCard() : r(CardConfig(16 << 20)), b(r.rig.env) {
    Library& lib = b.lib;
    lib.card = &r.card;
    lib.link = &r.rig.link;
    lib.playerLink = &r.rig.player;
    lib.medium = kMediumCard;
    r.card.createStructure = [this](CardFs&) { return b.lib.CreateCardStructure(); };
    b.SetUpFolders(r.dir());
    EXPECT_EQ(r.card.FormatCard(), 1);
    EXPECT_EQ(r.rig.link.linkErrorState, 0);
    r.rig.ui.messages.clear();
  }
  Library& lib() { return b.lib; }
  uint64_t Offset() const { return static_cast<uint64_t>(r.card.Volume().partitionOffset) * 512; }

  // The card's files as mtools copies them out ("7/00007.MF4" -> bytes).
  std::map<std::string, Bytes> CardFiles() {
    fs::path out = r.dir() / "mtools-out";
    fs::remove_all(out);
    fs::create_directories(out);
    auto m = Mtools("mcopy", r.Image(), Offset(), {"-s", "-n", "::/*", out.string()});
    EXPECT_EQ(m.status, 0) << m.err;
    std::map<std::string, Bytes> files;
    for (const auto& e : fs::recursive_directory_iterator(out)) {
      if (e.is_regular_file()) files[fs::relative(e.path(), out).generic_string()] = *ReadBinaryFile(e.path());
    }
    return files;
  }
  // The song files among them.
  static std::map<std::string, Bytes> Songs(const std::map<std::string, Bytes>& files) {
    std::map<std::string, Bytes> out;
    for (const auto& [p, d] : files)
      if (p.find('/') != std::string::npos) out[p] = d;
    return out;
  }
  std::vector<Listed> CardIndex(const std::map<std::string, Bytes>& files) {
    auto get = [&](const char* n) -> std::optional<Bytes> {
      auto it = files.find(n);
      if (it == files.end()) return std::nullopt;
      return it->second;
    };
    return IndexListing(get("MINDEX0.DAT"), get("MINDEX2.DAT"));
  }
  void ExpectCleanVolume() {
    auto fsck = cardtest::Fsck(r.Image(), r.card.Volume().partitionOffset, r.card.Volume().totalSectors);
    EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  }
  // The card file system as a new connection finds it.
  void Reconnect() {
    r.rig.link.LinkClose();
    r.Open();
    fresh = std::make_unique<CardFs>(r.sectors, r.rig.player);
    fresh->localTime = r.card.localTime;
    ASSERT_EQ(fresh->CheckCard(), 1);
    lib().card = fresh.get();
  }

  CardRig r;
  SongsBench b;
  std::unique_ptr<CardFs> fresh;
};

TEST_F(UsbCard, TenSongsReachTheCardWholeAndTheIndexListsExactlyThem) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  std::vector<Listed> expect;
  for (int i = 0; i < 10; ++i) {
    std::string title = "SONG " + std::to_string(i), performer = "SINGER " + std::to_string(i % 3);
    // Sizes from a few bytes past one sector to many clusters.
    size_t body = 100 + static_cast<size_t>(i) * 7919;
    if (i == 4) {
      b.AddPc("s" + std::to_string(i) + ".MP3", Mp3(title, performer, body, 40));
      expect.push_back({static_cast<uint16_t>(i), title, performer, SongFileName(static_cast<uint16_t>(i), true)});
    } else {
      b.AddPc("s" + std::to_string(i) + ".MF4", Package(title, performer, body, static_cast<uint32_t>(i)));
      expect.push_back({static_cast<uint16_t>(i), title, performer, SongFileName(static_cast<uint16_t>(i), false)});
    }
  }
  b.Reload();
  b.SelectAllPc();
  b.lib.pc[2].infoEdited = true;
  r.rig.ui.answers = {kIdYes};  // the MP3 question
  r.rig.profile.WriteString("Settings", "mediaChange", "0");
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(r.rig.ui.messages.size(), 1u);
  EXPECT_NE(r.rig.ui.messages[0].text.find("MP3 direttamente su Zumbla2"), std::string::npos);
  EXPECT_FALSE(b.lib.pc[2].infoEdited);
  EXPECT_EQ(r.rig.profile.GetInt("Settings", "mediaChange", 0), 1);
  EXPECT_FALSE(r.card.DeferredFlush());
  EXPECT_EQ(Summary(lib().player), expect);
  auto lines = r.rig.ui.Line1History();
  EXPECT_NE(std::find(lines.begin(), lines.end(), r.rig.env.TF("MSG_COPY_IN_COMPACTFLASH", "SONG 9", 10, 10)),
            lines.end());
  for (const auto& o : lib().outcomes) EXPECT_EQ(o.outcome, Library::Outcome::Done) << o.song;

  ExpectCleanVolume();
  auto files = CardFiles();
  auto songs = Songs(files);
  EXPECT_EQ(songs.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    std::string file = "s" + std::to_string(i) + (i == 4 ? ".MP3" : ".MF4");
    std::string onCard = std::to_string(i % 31) + "/" + SongFileName(static_cast<uint16_t>(i), i == 4);
    ASSERT_TRUE(songs.count(onCard)) << onCard;
    EXPECT_EQ(songs[onCard], b.pcData[file]) << onCard;
  }
  EXPECT_EQ(CardIndex(files), expect);
  b.ExpectPcFilesIntact();
}

TEST_F(UsbCard, AReplacingSongKeepsItsCodeAndFolderAndTakesItsOwnKindOfFile) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  b.AddPc("a.MF4", Package("VOLARE", "MODUGNO", 3000, 1));
  b.AddPc("b.MF4", Package("AZZURRO", "CELENTANO", 2000, 2));
  b.AddPc("c.MF4", Package("MARE", "X", 900, 3));
  b.Reload();
  b.SelectAllPc();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  ASSERT_EQ(lib().player.size(), 3u);

  // VOLARE comes back as an MP3 (replaced), AZZURRO again (declined), and a
  // new song.
  fs::remove(b.songs / "a.MF4");
  b.pcData.erase("a.MF4");
  b.AddPc("a.MP3", Mp3("VOLARE", "MODUGNO", 5000, 9));
  b.AddPc("d.MF4", Package("NUOVA", "Y", 700, 4));
  b.Reload();
  b.SelectPc({"a.MP3", "b.MF4", "d.MF4"});
  r.rig.ui.answers = {kIdYes, kIdYes, kIdNo};  // MP3 question, replace VOLARE, keep AZZURRO
  size_t wire = r.rig.sim.wire.size();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  // The card is asked for again after each replacement question.
  int asks = 0;
  for (size_t i = wire; i < r.rig.sim.wire.size(); ++i) {
    const auto& w = r.rig.sim.wire[i];
    asks += w.fromHost && w.bytes == Bytes{0x55, 0xAA, 0xFF, 0x00, 0x78, 0x81};
  }
  EXPECT_EQ(asks, 2);

  EXPECT_EQ(Summary(lib().player),
            (std::vector<Listed>{{0, "VOLARE", "MODUGNO", "00000.MP3"},
                                 {1, "AZZURRO", "CELENTANO", "00001.MF4"},
                                 {2, "MARE", "X", "00002.MF4"},
                                 {3, "NUOVA", "Y", "00003.MF4"}}));
  const SongRecord* declined = nullptr;
  for (const auto& p : lib().pc)
    if (p.title == "AZZURRO") declined = &p;
  ASSERT_NE(declined, nullptr);
  EXPECT_TRUE(declined->existsOnTarget);

  auto files = CardFiles();
  auto songs = Songs(files);
  EXPECT_EQ(songs.size(), 4u);
  EXPECT_EQ(songs["0/00000.MP3"], b.pcData["a.MP3"]);
  EXPECT_FALSE(songs.count("0/00000.MF4"));  // the old kind of file went
  EXPECT_EQ(songs["1/00001.MF4"], b.pcData["b.MF4"]);
  EXPECT_EQ(songs["3/00003.MF4"], b.pcData["d.MF4"]);
  EXPECT_EQ(CardIndex(files), Summary(lib().player));
  ExpectCleanVolume();
}

TEST_F(UsbCard, NewCodesContinueFromTheHighestAndPastTheTopTakeAFreeOne) {
  for (uint16_t c : {0, 1, 7}) {
    SongRecord rec;
    rec.code = c;
    rec.title = "OLD " + std::to_string(c);
    rec.fileName = SongFileName(c, false);
    lib().player.push_back(rec);
  }
  b.AddPc("a.MF4", Package("EIGHT", "P", 100, 1));
  b.Reload();
  b.SelectAllPc();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  ASSERT_NE(b.Player(8), nullptr);
  EXPECT_EQ(b.Player(8)->title, "EIGHT");
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry(FolderName11(8), SongName11(8), e), 1);

  lib().player[2].code = 0xFFFF;
  lib().player[2].fileName = SongFileName(0xFFFF, false);
  b.AddPc("b.MF4", Package("TOP", "P", 100, 2));
  b.Reload();
  b.SelectPc({"b.MF4"});
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  ASSERT_NE(b.Player(2), nullptr);  // the lowest code not in use
  EXPECT_EQ(b.Player(2)->title, "TOP");
  EXPECT_EQ(r.card.FindEntry(FolderName11(2), SongName11(2), e), 1);
}

TEST_F(UsbCard, ANewSongNeverTakesTheNameOfAFileInItsFolder) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  // Three songs on the card; the list the index gave lost some of them (an
  // index left behind by a rewrite that did not get through).
  for (int i = 0; i < 3; ++i) b.AddPc("old" + std::to_string(i) + ".MF4", Package("OLD " + std::to_string(i), "P", 900, 30 + i));
  b.Reload();
  b.SelectAllPc();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  const auto before = Songs(CardFiles());
  ASSERT_EQ(before.size(), 3u);
  const SongList all = lib().player;
  struct Case {
    const char* what;
    std::vector<uint16_t> listed;  // codes the list still knows
    std::vector<uint16_t> got;     // codes the two new songs get
  } cases[] = {{"an empty list", {}, {3, 4}},
               {"the first song only", {0}, {3, 4}},
               {"the middle song only", {1}, {3, 4}}};
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lib().player = all;
    lib().player.erase(std::remove_if(lib().player.begin(), lib().player.end(),
                                      [&](const SongRecord& p) {
                                        return std::find(c.listed.begin(), c.listed.end(), p.code) == c.listed.end();
                                      }),
                       lib().player.end());
    ASSERT_EQ(lib().player.size(), c.listed.size());
    std::string n1 = "new" + std::to_string(round) + "a.MF4", n2 = "new" + std::to_string(round) + "b.MF4";
    b.AddPc(n1, Package("NEW " + std::to_string(round) + "A", "P", 700, 40 + round));
    b.AddPc(n2, Package("NEW " + std::to_string(round) + "B", "P", 800, 50 + round));
    b.Reload();
    b.SelectPc({n1, n2});
    ASSERT_EQ(lib().SendSongsToCard(), 1);
    std::vector<uint16_t> got;
    for (const auto& o : lib().outcomes) {
      EXPECT_EQ(o.outcome, Library::Outcome::Done) << o.song;
      got.push_back(static_cast<uint16_t>(std::stoi(o.target.substr(0, 5))));
    }
    EXPECT_EQ(got, c.got);
    // Every song that was on the card is still there, byte for byte.
    auto now = Songs(CardFiles());
    for (const auto& [path, data] : before) EXPECT_EQ(now[path], data) << path;
    // The new songs go again before the next round.
    for (uint16_t code : got) {
      r.card.CardDeleteFile(FolderName11(SongFolderOf(code)), SongName11(code, "MF4"));
    }
    ++round;
  }
  ExpectCleanVolume();
}

TEST_F(UsbCard, NotEnoughRoomSendsNothing) {
  b.AddPc("big.MF4", Package("BIG", "P", 16 << 20, 1));
  b.AddPc("small.MF4", Package("SMALL", "P", 100, 2));
  b.Reload();
  b.SelectAllPc();
  size_t wire = r.rig.sim.wire.size();
  EXPECT_EQ(lib().SendSongsToCard(), 0);
  EXPECT_EQ(r.rig.ui.Last()->text, r.rig.env.T("MSG_INSUFFICIENT_SPACE_ON_CARD"));
  EXPECT_EQ(r.rig.ui.Last()->style, mb::kIconExclamation);
  EXPECT_TRUE(lib().player.empty());
  EXPECT_NE(r.rig.sim.WireSummary(wire).find("H:55AAFF007881"), std::string::npos);  // the card asked for again
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry(FolderName11(1), SongName11(1), e), 0);
  EXPECT_EQ(r.card.FindEntry(FolderName11(0), SongName11(0), e), 0);
}

TEST_F(UsbCard, NoToTheMp3QuestionSendsNothing) {
  b.AddPc("a.MF4", Package("A", "P", 100, 1));
  b.AddPc("b.MP3", Mp3("B", "P", 100, 2));
  b.Reload();
  b.SelectAllPc();
  r.rig.ui.answers = {kIdNo};
  EXPECT_EQ(lib().SendSongsToCard(), 0);
  EXPECT_TRUE(lib().player.empty());
  EXPECT_EQ(r.rig.ui.questionsAsked, 1);
}

TEST_F(UsbCard, ClosingTheProgressWindowMidSongLeavesThatSongOffTheCardAndTheList) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  for (int i = 0; i < 3; ++i) b.AddPc("s" + std::to_string(i) + ".MF4", Package("S" + std::to_string(i), "P", 40 * 512, 7));
  b.Reload();
  b.SelectAllPc();
  // One step per sector written: the second song is some 40 steps in.
  r.rig.ui.abortAfterSteps = r.rig.ui.steps + 60;
  r.rig.ui.answers = {kIdYes};  // stop
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(r.rig.ui.Last()->text, r.rig.env.T("MSG_ASK_ABORT"));
  EXPECT_EQ(Summary(lib().player), (std::vector<Listed>{{0, "S0", "P", "00000.MF4"}}));
  auto files = CardFiles();
  EXPECT_EQ(Songs(files).size(), 1u);
  EXPECT_EQ(CardIndex(files), Summary(lib().player));
  ExpectCleanVolume();
}

TEST_F(UsbCard, CopiesToThePcNeverOverwriteAnotherSongAndReplaceOnlyWhenAsked) {
  b.AddPc("v.MF4", Package("VOLARE", "MODUGNO", 2000, 1));
  b.AddPc("m.MP3", Mp3("MARE", "X", 3000, 2));
  b.AddPc("o.MF4", Package("OTHER", "Z", 500, 3));
  b.Reload();
  b.SelectAllPc();
  r.rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  Bytes volare = b.pcData["v.MF4"], mare = b.pcData["m.MP3"];

  // Codes by the PC list's order: MARE 0, OTHER 1, VOLARE 2. The PC now
  // has another song of the title VOLARE, another MP3 named as the card's
  // MARE would be, and OTHER where it was.
  fs::remove(b.songs / "v.MF4");
  fs::remove(b.songs / "m.MP3");
  b.pcData.clear();
  b.AddPc("VOLARE.MF4", Package("VOLARE", "SOMEONE ELSE", 100, 5));
  b.AddPc("00000.MP3", Mp3("ANOTHER", "Q", 100, 6));
  b.pcData["o.MF4"] = *ReadBinaryFile(b.songs / "o.MF4");
  b.Reload();
  for (auto& p : lib().player) p.selected = true;
  r.rig.ui.answers = {kIdYes, kIdYes};  // the MP3 question; replace OTHER
  ASSERT_EQ(lib().CopyCardSongsToPc(), 1);
  EXPECT_EQ(ReadBinaryFile(b.songs / "VOLARE (2).MF4"), volare);
  EXPECT_EQ(ReadBinaryFile(b.songs / "00000 (2).MP3"), mare);
  EXPECT_FALSE(fs::exists(b.songs / "o.MF4"));
  EXPECT_TRUE(fs::exists(b.songs / "OTHER.MF4"));  // the replacement, named after its title
  b.pcData.erase("o.MF4");
  b.ExpectPcFilesIntact();
  for (const auto& o : lib().outcomes) EXPECT_EQ(o.outcome, Library::Outcome::Done) << o.song;

  // Declined: nothing is copied and the PC copy stays.
  b.Reload();
  b.SelectPlayer({1});
  r.rig.ui.answers = {kIdNo};
  ASSERT_EQ(lib().CopyCardSongsToPc(), 1);
  EXPECT_TRUE(fs::exists(b.songs / "OTHER.MF4"));
  EXPECT_FALSE(fs::exists(b.songs / "OTHER (2).MF4"));
  ASSERT_EQ(lib().outcomes.size(), 1u);
  EXPECT_EQ(lib().outcomes[0].outcome, Library::Outcome::Skipped);
}

TEST_F(UsbCard, ACopyToThePcThatBreaksOffLeavesNoFileAndKeepsTheOldCopy) {
  b.AddPc("v.MF4", Package("VOLARE", "MODUGNO", 30 * 512, 1));
  b.Reload();
  b.SelectAllPc();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  b.Reload();
  ASSERT_TRUE(lib().player[0].existsOnTarget);
  for (auto& p : lib().player) p.selected = true;
  // The player hangs up some 10 sectors into the song.
  r.rig.sim.faults.dropAfterBytes = 516 * 12;
  r.rig.ui.answers = {kIdYes};  // replace the PC copy
  ASSERT_EQ(lib().CopyCardSongsToPc(), 1);
  EXPECT_EQ(r.rig.link.linkErrorState, 1);
  ASSERT_EQ(lib().outcomes.size(), 1u);
  EXPECT_EQ(lib().outcomes[0].outcome, Library::Outcome::Failed);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(b.songs)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"v.MF4"});
  b.ExpectPcFilesIntact();
}

TEST_F(UsbCard, DeletingRemovesBothFilesOfTheSelectedSongsOnly) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  b.AddPc("a.MF4", Package("A", "P", 700, 1));
  b.AddPc("b.MP3", Mp3("B", "P", 900, 2));
  b.AddPc("c.MF4", Package("C", "P", 700, 3));
  b.AddPc("d.MF4", Package("D", "P", 700, 4));
  b.Reload();
  b.SelectAllPc();
  r.rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  // An MP3 of A's code too, as another program might have left it.
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(0), SongName11(0, "MP3"), b.songs / "b.MP3"), 1);

  b.SelectPlayer({0, 1});
  r.rig.ui.answers = {kIdYes};
  size_t wire = r.rig.sim.wire.size();
  ASSERT_EQ(lib().DeleteCardSongs("Cancella"), 1);
  EXPECT_EQ(r.rig.ui.messages.back().caption, "Cancella");
  EXPECT_EQ(r.rig.ui.messages.back().text, r.rig.env.TF("MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY", 2));
  EXPECT_NE(r.rig.sim.WireSummary(wire).find("H:55AAFF007882"), std::string::npos);  // CardAccessEnd
  EXPECT_EQ(Summary(lib().player),
            (std::vector<Listed>{{2, "C", "P", "00002.MF4"}, {3, "D", "P", "00003.MF4"}}));
  EXPECT_EQ(lib().player[0].listIndex, 0);
  EXPECT_EQ(lib().player[1].listIndex, 1);
  auto files = CardFiles();
  auto songs = Songs(files);
  EXPECT_EQ(songs.size(), 2u);
  EXPECT_TRUE(songs.count("2/00002.MF4"));
  EXPECT_TRUE(songs.count("3/00003.MF4"));
  EXPECT_EQ(CardIndex(files), Summary(lib().player));
  ExpectCleanVolume();

  // A song whose files are gone already: told, and dropped from the list.
  lib().ReopenCardAccess();  // the delete ended its card access
  ASSERT_EQ(r.card.CardDeleteFile(FolderName11(2), SongName11(2)), 1);
  b.SelectPlayer({2});
  r.rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().DeleteCardSongs("Cancella"), 1);
  EXPECT_EQ(r.rig.ui.Last()->text, r.rig.env.TF("MSG_CANTDELETE", "2/00002.MP3"));
  EXPECT_EQ(r.rig.ui.Last()->caption, r.rig.env.T("MSG_CAPTION_ERROR"));
  EXPECT_EQ(Summary(lib().player), (std::vector<Listed>{{3, "D", "P", "00003.MF4"}}));

  // No to the question: nothing happens.
  b.SelectPlayer({3});
  r.rig.ui.answers = {kIdNo};
  EXPECT_EQ(lib().DeleteCardSongs("Cancella"), 0);
  EXPECT_EQ(lib().player.size(), 1u);
}

TEST_F(UsbCard, RecoveryListsEachSongFileOnceAndSkipsEverythingElse) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  fs::path mf4 = b.AddPc("a.MF4", Package("ALFA", "UNO", 1500, 1));
  fs::path mp3 = b.AddPc("b.MP3", Mp3("Beta", "Due", 1500, 2));
  fs::path other = b.AddPc("c.MF4", Package("GAMMA", "TRE", 200, 3));
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(5), SongName11(5), mf4), 1);
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(1), SongName11(32, "MP3"), mp3), 1);
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(1), SongName11(63), other), 1);
  // Deleted entries, files of other names, a song in the wrong folder.
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(9), SongName11(9), other), 1);
  ASSERT_EQ(r.card.CardDeleteFile(FolderName11(9), SongName11(9)), 1);
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(9), "NOTES   TXT", other), 1);
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(9), SongName11(10), other), 1);
  // A long name that another system wrote.
  r.rig.link.LinkClose();
  auto cp = Mtools("mcopy", r.Image(), Offset(), {mf4.string(), "::/4/a song with a long name.mf4"});
  ASSERT_EQ(cp.status, 0) << cp.err;
  Reconnect();
  // An index that lists a song no longer there.
  SongRecord gone;
  gone.code = 77;
  gone.title = "GONE";
  gone.fileName = "00077.MF4";
  lib().player = {gone};

  r.rig.ui.answers = {kIdYes};
  r.rig.profile.WriteString("Settings", "mediaChange", "0");
  ASSERT_EQ(lib().RecoverCardFromFolders(), 1);
  EXPECT_EQ(r.rig.ui.messages[0].text, r.rig.env.T("MSG_PROCEDURE_MAY_BE_LONG"));
  EXPECT_EQ(r.rig.profile.GetInt("Settings", "mediaChange", 0), 1);
  std::vector<Listed> expect{{5, "ALFA", "UNO", "00005.MF4"},
                             {32, "BETA", "DUE", "00032.MP3"},
                             {63, "GAMMA", "TRE", "00063.MF4"}};
  EXPECT_EQ(Summary(lib().player), expect);
  auto lines = r.rig.ui.Line1History();
  EXPECT_NE(std::find(lines.begin(), lines.end(), r.rig.env.TF("MSG_SCANNING_HASH_TABLE", 30)), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), r.rig.env.TF("MSG_RECOVERY_FILE_FROM_HASH", 30)), lines.end());
  EXPECT_EQ(CardIndex(CardFiles()), expect);

  // No: nothing changes.
  lib().player.clear();
  r.rig.ui.answers = {kIdNo};
  EXPECT_EQ(lib().RecoverCardFromFolders(), 0);
  EXPECT_TRUE(lib().player.empty());
}

TEST_F(UsbCard, ALinkLostMidTransferLeavesASoundCardAndTheRecoveryListsWhatIsThere) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  for (int i = 0; i < 3; ++i)
    b.AddPc("first" + std::to_string(i) + ".MF4", Package("FIRST " + std::to_string(i), "P", 3000, 10 + i));
  b.Reload();
  b.SelectAllPc();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  ASSERT_EQ(lib().player.size(), 3u);
  auto clean = cardtest::Fsck(r.Image(), r.card.Volume().partitionOffset, r.card.Volume().totalSectors);
  ASSERT_EQ(clean.status, 0) << clean.out;
  std::string headBefore = FsckHead(clean.out);

  for (int i = 0; i < 10; ++i)
    b.AddPc("next" + std::to_string(i) + ".MF4", Package("NEXT " + std::to_string(i), "P", 20 * 512, 20 + i));
  b.Reload();
  b.SelectPc({"next0.MF4", "next1.MF4", "next2.MF4", "next3.MF4", "next4.MF4", "next5.MF4", "next6.MF4",
              "next7.MF4", "next8.MF4", "next9.MF4"});
  // Each song costs the player one folder sector read (516 bytes of
  // answer) and one byte per sector written (21): the link goes ten
  // sectors into the fourth song.
  r.rig.sim.faults.dropAfterBytes = 3 * (516 + 21) + 516 + 10;
  size_t before = r.rig.sim.wire.size();
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(r.rig.link.linkErrorState, 1);
  int sectorWrites = 0;
  for (size_t i = before; i < r.rig.sim.wire.size(); ++i) {
    const auto& w = r.rig.sim.wire[i];
    sectorWrites += w.fromHost && w.bytes.size() == 7 && w.bytes[0] == 0x55 && w.bytes[1] == 0x01;
  }
  EXPECT_EQ(sectorWrites, 3 * 21 + 11);  // whole songs went before the link did
  int done = 0;
  for (const auto& o : lib().outcomes) done += o.outcome == Library::Outcome::Done;
  EXPECT_EQ(done, 0);  // none of the batch is known to be on the card
  EXPECT_EQ(lib().player.size(), 3u);
  b.ExpectPcFilesIntact();

  r.rig.link.LinkClose();
  // Clusters written but never given to a file are all another system may
  // find: whatever fsck says before its search for them is what it said
  // of the card before the batch.
  auto fsck = cardtest::Fsck(r.Image(), r.card.Volume().partitionOffset, r.card.Volume().totalSectors);
  EXPECT_EQ(FsckHead(fsck.out), headBefore) << fsck.out;
  std::istringstream tail(fsck.out.substr(FsckHead(fsck.out).size()));
  for (std::string line; std::getline(tail, line);) {
    bool expected = line.empty() || line == "Checking for unused clusters." || line.rfind("Reclaimed ", 0) == 0 ||
                    line == "Leaving filesystem unchanged." || line.find(" files, ") != std::string::npos;
    EXPECT_TRUE(expected) << line << "\n" << fsck.out;
  }
  Reconnect();
  r.rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().RecoverCardFromFolders(), 1);
  std::set<uint16_t> present;
  for (const auto& [p, d] : Songs(CardFiles())) present.insert(static_cast<uint16_t>(std::stoi(p.substr(p.find('/') + 1, 5))));
  std::set<uint16_t> listed;
  for (const auto& s : lib().player) listed.insert(s.code);
  EXPECT_EQ(listed, present);
  EXPECT_EQ(listed, (std::set<uint16_t>{0, 1, 2}));
  b.ExpectPcFilesIntact();
}

// --- A card in a card reader: the card's folder ---

class ReaderCard : public ::testing::Test {
 protected:
  ReaderCard() : b(rig.env) {
    rig.sim.attached = false;
    drive = rig.dir / "card";
    fs::create_directories(drive);
    b.lib.medium = kMediumCardReader;
    b.lib.flashDrive = drive;
    b.lib.link = &rig.link;
    b.SetUpFolders(rig.dir);
    b.lib.CreateCardStructure();
  }
  Library& lib() { return b.lib; }
  std::vector<Listed> DriveIndex() {
    return IndexListing(ReadBinaryFile(drive / "MINDEX0.DAT"), ReadBinaryFile(drive / "MINDEX2.DAT"));
  }
  sim::SimRig rig;
  SongsBench b;
  fs::path drive;
};

TEST_F(ReaderCard, TransfersBothWaysDeletionAndTheAbortFlag) {
  b.AddPc("a.MF4", Package("ALFA", "P", 700, 1));
  b.AddPc("b.MP3", Mp3("BETA", "P", 900, 2));
  b.AddPc("c.MF4", Package("GAMMA", "P", 700, 3));
  b.Reload();
  b.SelectAllPc();
  // The user closes the progress window as the second song is copied, and
  // stops.
  rig.ui.abortAfterSteps = 2;
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(rig.ui.questionsAsked, 1);  // no MP3 question through a card reader
  EXPECT_EQ(ReadBinaryFile(drive / "0" / "00000.MF4"), b.pcData["a.MF4"]);
  // Written, but not listed.
  EXPECT_EQ(ReadBinaryFile(drive / "1" / "00001.MP3"), b.pcData["b.MP3"]);
  EXPECT_EQ(Summary(lib().player), (std::vector<Listed>{{0, "ALFA", "P", "00000.MF4"}}));
  EXPECT_EQ(DriveIndex(), Summary(lib().player));
  EXPECT_FALSE(fs::exists(drive / "2" / "00002.MF4"));

  // The rest; the file written while stopping is not taken over: BETA and
  // GAMMA get codes of their own. Then a replacement of ALFA by another file
  // of that title.
  b.Reload();
  b.SelectPc({"b.MP3", "c.MF4"});
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(ReadBinaryFile(drive / "1" / "00001.MP3"), b.pcData["b.MP3"]);
  b.AddPc("a2.MF4", Package("ALFA", "P", 100, 8));
  b.Reload();
  b.SelectPc({"a2.MF4"});
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().SendSongsToCard(), 1);
  EXPECT_EQ(ReadBinaryFile(drive / "0" / "00000.MF4"), b.pcData["a2.MF4"]);
  EXPECT_EQ(Summary(lib().player), (std::vector<Listed>{{0, "ALFA", "P", "00000.MF4"},
                                                        {2, "BETA", "P", "00002.MP3"},
                                                        {3, "GAMMA", "P", "00003.MF4"}}));
  EXPECT_EQ(DriveIndex(), Summary(lib().player));
  EXPECT_FALSE(fs::exists(drive / "0" / "~KESTRO.TMP"));

  // Back to the PC.
  fs::path back = rig.dir / "back";
  fs::create_directories(back);
  rig.profile.WriteString("PATH", "OLD_MF4", back.string());
  lib().pcFolder = back;
  b.Reload();
  b.SelectPlayer({2, 3});
  ASSERT_EQ(lib().CopyCardSongsToPc(), 1);
  EXPECT_EQ(ReadBinaryFile(back / "GAMMA.MF4"), b.pcData["c.MF4"]);
  EXPECT_EQ(ReadBinaryFile(back / "00002.MP3"), b.pcData["b.MP3"]);
  // A song whose file is missing: told, and no file.
  fs::remove(drive / "0" / "00000.MF4");
  b.SelectPlayer({0});
  ASSERT_EQ(lib().CopyCardSongsToPc(), 1);
  EXPECT_EQ(rig.ui.Last()->text, rig.env.TF("MSG_CANTOPEN", (drive / "0" / "00000.MP3").string()));
  EXPECT_FALSE(fs::exists(back / "ALFA.MF4"));
  EXPECT_FALSE(fs::exists(back / "00000.MP3"));

  // Deletion: both kinds of file of the selected codes, nothing else.
  ASSERT_TRUE(WriteBinaryFile(drive / "3" / "00003.MP3", Bytes(10, 1)));
  b.SelectPlayer({3});
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().DeleteCardSongs("Cancella"), 1);
  EXPECT_FALSE(fs::exists(drive / "3" / "00003.MF4"));
  EXPECT_FALSE(fs::exists(drive / "3" / "00003.MP3"));
  EXPECT_TRUE(fs::exists(drive / "2" / "00002.MP3"));
  EXPECT_TRUE(fs::exists(drive / "1" / "00001.MP3"));
  EXPECT_EQ(Summary(lib().player), (std::vector<Listed>{{0, "ALFA", "P", "00000.MF4"}, {2, "BETA", "P", "00002.MP3"}}));
  EXPECT_EQ(DriveIndex(), Summary(lib().player));
}

TEST_F(ReaderCard, RecoveryTakesOnlyTheNamesThePlayerLooksFor) {
  auto put = [&](const std::string& rel, const Bytes& data) { ASSERT_TRUE(WriteBinaryFile(drive / rel, data)); };
  put("1/00001.MF4", Package("UNO", "A", 100, 1));
  put("1/00032.mp3", Mp3("Trentadue", "B", 100, 2));
  put("2/00002.MF4", Package("DUE", "C", 100, 3));
  // Names holding "MF4" or "MP3" that are no song of the folder: counted by
  // their names alone they would list songs the player cannot find, one of
  // them twice.
  put("3/00003.MP3.MF4", Package("TWICE", "D", 100, 4));
  put("3/MF4NOTES.TXT", Bytes(10, 'x'));
  put("5/00006.MF4", Package("WRONG FOLDER", "E", 100, 5));
  put("7/7.MF4", Package("SHORT NAME", "F", 100, 6));
  fs::create_directories(drive / "8" / "00008.MF4");  // a folder

  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib().RecoverCardFromFolders(), 1);
  std::vector<Listed> expect{{1, "UNO", "A", "00001.MF4"}, {2, "DUE", "C", "00002.MF4"}, {32, "TRENTADUE", "B", "00032.MP3"}};
  EXPECT_EQ(Summary(lib().player), expect);
  EXPECT_EQ(DriveIndex(), expect);
  EXPECT_NE(std::find(rig.ui.progressLog.begin(), rig.ui.progressLog.end(), "start 4"), rig.ui.progressLog.end());
}

TEST_F(ReaderCard, ClearingEmptiesTheCardButLeavesOtherFilesInTheFolders) {
  ASSERT_TRUE(WriteBinaryFile(drive / "MINDEX0.DAT", Bytes(64, 7)));
  ASSERT_TRUE(WriteBinaryFile(drive / "OTHER.TXT", Bytes(3, 1)));
  ASSERT_TRUE(WriteBinaryFile(drive / "4" / "00004.MF4", Bytes(3, 1)));
  ASSERT_TRUE(WriteBinaryFile(drive / "4" / "00035.MP3", Bytes(3, 1)));
  ASSERT_TRUE(WriteBinaryFile(drive / "4" / "keep.txt", Bytes(3, 1)));
  fs::remove_all(drive / "30");
  ASSERT_EQ(lib().ClearCard(), 1);
  EXPECT_EQ(ReadBinaryFile(drive / "MINDEX0.DAT"), Bytes(32, 0));
  EXPECT_FALSE(fs::exists(drive / "OTHER.TXT"));
  EXPECT_FALSE(fs::exists(drive / "4" / "00004.MF4"));
  EXPECT_FALSE(fs::exists(drive / "4" / "00035.MP3"));
  EXPECT_TRUE(fs::exists(drive / "4" / "keep.txt"));
  EXPECT_TRUE(fs::is_directory(drive / "30"));
  EXPECT_TRUE(lib().CheckCardStructure());
}

TEST(CardReaderUnit, FollowsTheDriveSize) {
  constexpr uint64_t MiB = 1024 * 1024;
  const std::pair<uint64_t, uint32_t> cases[] = {{8 * MiB, 512},       {16 * MiB, 512},     {16 * MiB + 1, 1024},
                                                 {32 * MiB, 1024},     {64 * MiB, 2048},    {128 * MiB, 4096},
                                                 {256 * MiB, 8192},    {256 * MiB + 1, 16384}, {8192 * MiB, 16384}};
  for (const auto& [size, unit] : cases) EXPECT_EQ(CardReaderUnit(size), unit) << size;
}

TEST(CardSongNames, OnlyThePlayersOwnNamesInTheirFolder) {
  EXPECT_EQ(SongOfName11("00007   MF4", 7)->code, 7);
  EXPECT_TRUE(SongOfName11("00038   MP3", 7)->mp3);
  EXPECT_FALSE(SongOfName11("00038   MP3", 8));
  EXPECT_FALSE(SongOfName11("7          ", 7));
  EXPECT_FALSE(SongOfName11("0007    MF4", 7));
  EXPECT_FALSE(SongOfName11("99999   MF4", 99999 % 31));  // beyond a song code
  EXPECT_EQ(SongOfFileName("00031.mf4", 0)->code, 31);
  EXPECT_FALSE(SongOfFileName("00031.MF4X", 0));
  EXPECT_FALSE(SongOfFileName("00031.TXT", 0));
}

}  // namespace
}  // namespace kestro::library

// Cards are shared with other systems: what Kestro formats and writes must be
// a sound FAT16 volume to dosfstools and mtools, and what they make must read
// right through Kestro.
#include <map>
#include <set>
#include <sstream>

#include "cardfs/tests/card_rig.h"

namespace kestro::cardtest {
namespace {

// Every file below a folder, by its path relative to it ("7/00007.MF4").
std::map<std::string, Bytes> FilesBelow(const fs::path& top) {
  std::map<std::string, Bytes> out;
  for (const auto& e : fs::recursive_directory_iterator(top)) {
    if (!e.is_regular_file()) continue;
    out[fs::relative(e.path(), top).generic_string()] = ReadImage(e.path());
  }
  return out;
}

// What mtools finds on the volume, copied out whole.
std::map<std::string, Bytes> MtoolsCopy(const fs::path& image, uint64_t offset, const fs::path& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  auto r = Mtools("mcopy", image, offset, {"-s", "-n", "::/*", out.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  return FilesBelow(out);
}

class KestroWritten : public ::testing::TestWithParam<uint64_t> {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  }
};

INSTANTIATE_TEST_SUITE_P(CardSizes, KestroWritten, ::testing::Values(8, 64),
                         [](const ::testing::TestParamInfo<uint64_t>& p) { return std::to_string(p.param) + "MB"; });

TEST_P(KestroWritten, FsckFindsNoErrorAndMtoolsReadsEveryFileBack) {
  CardRig r(CardConfig(GetParam() << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  ASSERT_EQ(r.card.CheckCard(), 1);
  const VolumeRecord v = r.card.Volume();
  uint32_t bpc = v.bytesPerCluster;
  std::map<std::string, Bytes> expect;  // mtools' path -> bytes

  for (int f = 0; f <= 30; ++f) ASSERT_EQ(r.card.MakeDirectory(FolderName11(f)), 1);
  ASSERT_EQ(r.card.FlushFat(), 1);
  auto put = [&](int folder, uint16_t code, const Bytes& data) {
    std::string dir = folder < 0 ? "" : FolderName11(folder);
    std::string name = folder < 0 ? SongName11(code, "DAT") : SongName11(code);
    ASSERT_EQ(r.Write(dir, name, data), 1) << code;
    std::string path = (folder < 0 ? "" : std::to_string(folder) + "/") + FromName11(name);
    expect[path] = data;
  };
  auto remove = [&](int folder, uint16_t code) {
    std::string name = folder < 0 ? SongName11(code, "DAT") : SongName11(code);
    ASSERT_EQ(r.card.CardDeleteFile(folder < 0 ? "" : FolderName11(folder), name), 1) << code;
    expect.erase((folder < 0 ? "" : std::to_string(folder) + "/") + FromName11(name));
  };

  // A batch with the flush at its end, as song transfers do.
  r.card.SetDeferredFlush(true);
  for (uint16_t code = 1; code <= 70; ++code) {
    size_t size = code % 5 == 0 ? code / 5 * bpc : 300 + code * 211u;
    put(code % 31, code, Pattern(size, code));
  }
  r.card.SetDeferredFlush(false);
  ASSERT_EQ(r.card.FlushFat(), 1);
  // Files in the root, and a folder with more entries than one cluster holds.
  for (uint16_t i = 0; i < 6; ++i) put(-1, i, Pattern(i * 1000u, 100 + i));
  for (uint16_t i = 0; i < bpc / 32 + 2; ++i) put(3, static_cast<uint16_t>(1000 + 31 * i), Pattern(100, i));
  // Deletes, rewrites, and new files in the places freed.
  for (uint16_t code : {5, 36, 40, 62}) remove(code % 31, code);
  remove(-1, 2);
  put(9, 40, Pattern(3 * bpc + 7, 99));
  put(-1, 4, Pattern(50, 4));
  for (uint16_t code = 71; code <= 80; ++code) put(code % 31, code, Pattern(700 + code, code));
  put(-1, 2, Bytes());

  uint32_t first = v.partitionOffset, count = v.totalSectors;
  auto fsck = Fsck(r.Image(), first, count);
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  EXPECT_EQ(fsck.out.find("rror"), std::string::npos) << fsck.out;
  EXPECT_EQ(fsck.out.find("Free cluster summary"), std::string::npos) << fsck.out;
  EXPECT_NE(fsck.out.find("Checking for unused clusters."), std::string::npos) << fsck.out;

  uint64_t offset = static_cast<uint64_t>(first) * 512;
  auto label = Mtools("mlabel", r.Image(), offset, {"-s", "::"});
  EXPECT_NE(label.out.find("ZUM-BLA-MF4"), std::string::npos) << label.out << label.err;
  auto got = MtoolsCopy(r.Image(), offset, r.dir() / "mtools-out");
  EXPECT_EQ(got.size(), expect.size());
  for (const auto& [path, data] : expect) {
    auto it = got.find(path);
    ASSERT_NE(it, got.end()) << path;
    EXPECT_EQ(it->second, data) << path;
  }
  // The folders, empty ones too.
  auto dirs = Mtools("mdir", r.Image(), offset, {"-b", "::/"});
  for (int f = 0; f <= 30; ++f) EXPECT_NE(dirs.out.find("::/" + std::to_string(f) + "/\n"), std::string::npos) << f;
}

// A volume mkfs.fat made, with files mcopy put there.
struct Foreign {
  const char* name;
  uint32_t kib;
  int spc;
  uint32_t start;   // partition start; 0: no partition table
  bool hidden;      // the boot sector's hidden sectors say where it lies
};

void PrintTo(const Foreign& f, std::ostream* os) { *os << f.name; }

class OtherSystemsCard : public ::testing::TestWithParam<Foreign> {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are needed";
  }
  testing::TempDir tmp;
};

INSTANTIATE_TEST_SUITE_P(
    MkfsFat, OtherSystemsCard,
    ::testing::Values(Foreign{"Plain8MB", 8192, 1, 0, false}, Foreign{"Plain32MBClusters4", 32768, 4, 0, false},
                      Foreign{"AtTrack32MBClusters2", 32768, 2, 32, true},
                      Foreign{"At63Hidden0", 16384, 1, 63, false}, Foreign{"At63", 65536, 8, 63, true},
                      Foreign{"At200Clusters16", 131072, 16, 200, true}, Foreign{"At255", 16384, 2, 255, false}),
    [](const ::testing::TestParamInfo<Foreign>& p) { return std::string(p.param.name); });

TEST_P(OtherSystemsCard, MountsListsAndReadsBackWhatMcopyPutThere) {
  const Foreign& f = GetParam();
  fs::path part = tmp / "part.img";
  std::vector<std::string> mkfs{"/usr/sbin/mkfs.fat", "-F", "16", "-s", std::to_string(f.spc), "-S", "512",
                                "-i", "12345678", "-n", "OTHER"};
  if (f.hidden) mkfs.insert(mkfs.end(), {"-h", std::to_string(f.start)});
  mkfs.insert(mkfs.end(), {"-C", part.string(), std::to_string(f.kib)});
  auto made = testing::Run(mkfs);
  ASSERT_EQ(made.status, 0) << made.out << made.err;

  std::map<std::string, Bytes> files{
      {"MINDEX0.DAT", Pattern(32 * 40, 1)},   {"EMPTY.DAT", Bytes()},
      {"7/00007.MF4", Pattern(70000, 7)},     {"7/00038.MF4", Pattern(512u * f.spc * 3, 38)},
      {"0/00031.MP3", Pattern(12345, 31)},    {"longer name.txt", Pattern(900, 5)},
  };
  // Enough entries for the folder's chain to need a second cluster.
  for (int i = 0; i < 16 * f.spc; ++i) files["12/" + std::to_string(10000 + i * 31 + 12) + ".MF4"] = Pattern(100, i);
  for (const char* d : {"7", "0", "12"}) ASSERT_EQ(Mtools("mmd", part, 0, {std::string("::/") + d}).status, 0);
  // One mcopy per folder, with all its files.
  std::map<std::string, std::vector<std::string>> byFolder;
  for (const auto& [path, data] : files) {
    fs::path src = tmp / "tree" / path;
    fs::create_directories(src.parent_path());
    WriteBinaryFile(src, data);
    size_t slash = path.find('/');
    byFolder[slash == std::string::npos ? "" : path.substr(0, slash)].push_back(src.string());
  }
  for (auto& [folder, sources] : byFolder) {
    sources.push_back("::/" + folder);
    auto cp = Mtools("mcopy", part, 0, sources);
    ASSERT_EQ(cp.status, 0) << folder << cp.err;
  }

  Bytes image = ReadImage(part);
  uint32_t partSectors = static_cast<uint32_t>(image.size() / 512);
  if (f.start > 0) {
    Bytes whole(static_cast<size_t>(f.start) * 512, 0);
    PutMbr(whole, f.start, partSectors, 0x06);
    whole.insert(whole.end(), image.begin(), image.end());
    image = std::move(whole);
  }
  fs::path card = tmp / "card.img";
  ASSERT_TRUE(WriteBinaryFile(card, image));

  CardRig r(ImageConfig(card));
  ASSERT_EQ(r.card.CheckCard(), 1) << r.card.MountProblem();
  EXPECT_EQ(r.rig.ui.questionsAsked, 0);
  EXPECT_EQ(r.card.Volume().partitionOffset, f.start);
  EXPECT_EQ(r.card.Volume().sectorsPerCluster, f.spc);
  for (const auto& [path, data] : files) {
    size_t slash = path.find('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name == "longer name.txt") name = "LONGER~1.TXT";  // its short name
    auto n11 = ToName11(name);
    ASSERT_TRUE(n11) << name;
    EXPECT_EQ(r.Read(dir.empty() ? "" : *ToName11(dir), *n11), data) << path;
  }
  std::set<std::string> listed;
  uint8_t e[32];
  for (int more = r.card.ListDirFirst(*ToName11("12"), e); more; more = r.card.ListDirNext(e)) {
    if (e[0] != 0xE5 && e[11] != 0x0F) listed.insert(FromName11(e));
  }
  EXPECT_EQ(listed.size(), 2u + 16u * f.spc);
  EXPECT_EQ(listed.count("10012.MF4"), 1u);
  // Nothing outside the volume was asked for, but the probes at the start.
  uint32_t end = f.start + partSectors;
  for (uint32_t s : r.Asked(false)) EXPECT_TRUE(s == 0xFFFFFF || s < end) << s;

  // Kestro's writes and deletes keep the volume sound for the others.
  ASSERT_EQ(r.Write(*ToName11("7"), SongName11(69), Pattern(5000, 69)), 1);
  ASSERT_EQ(r.card.CardDeleteFile(*ToName11("7"), SongName11(7)), 1);
  ASSERT_EQ(r.card.CardDeleteFile("", "LONGER~1TXT"), 1);
  ASSERT_EQ(r.Write("", "NEW     DAT", Pattern(3000, 3)), 1);
  auto fsck = Fsck(card, f.start, partSectors);
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  EXPECT_EQ(fsck.out.find("rror"), std::string::npos) << fsck.out;
  EXPECT_EQ(fsck.out.find("rphan"), std::string::npos) << fsck.out;
  auto got = MtoolsCopy(card, static_cast<uint64_t>(f.start) * 512, tmp / "out");
  EXPECT_EQ(got["7/00069.MF4"], Pattern(5000, 69));
  EXPECT_EQ(got["NEW.DAT"], Pattern(3000, 3));
  EXPECT_EQ(got.count("7/00007.MF4"), 0u);
  EXPECT_EQ(got.count("longer name.txt"), 0u);
  EXPECT_EQ(got["0/00031.MP3"], files["0/00031.MP3"]);
}

}  // namespace
}  // namespace kestro::cardtest

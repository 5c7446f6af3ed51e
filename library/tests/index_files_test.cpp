#include "library/index_files.h"

#include <gtest/gtest.h>

namespace kestro::library {
namespace {

SongRecord Song(uint16_t code, std::string title, std::string author, std::string fileName = "") {
  SongRecord r;
  r.code = code;
  r.title = std::move(title);
  r.author = std::move(author);
  r.fileName = fileName.empty() ? SongFileName(code, false) : fileName;
  return r;
}

// Records of the files, built by hand.
Bytes SongRec(uint16_t code, const std::string& title, uint8_t flags = 0) {
  Bytes b(32, 0);
  b[0] = code & 0xFF;
  b[1] = code >> 8;
  for (size_t i = 0; i < title.size() && i < 26; ++i) b[2 + i] = static_cast<uint8_t>(title[i]);
  b[29] = flags;
  return b;
}
Bytes Header(const std::string& author) {
  Bytes b(32, 0);
  b[0] = 0x00;
  b[1] = 0x80;
  for (size_t i = 0; i < author.size(); ++i) b[2 + i] = static_cast<uint8_t>(author[i]);
  return b;
}
Bytes AuthorRec(const std::string& author, uint16_t p) {
  Bytes b(32, 0);
  b[0] = b[1] = 0xFF;
  for (size_t i = 0; i < author.size(); ++i) b[2 + i] = static_cast<uint8_t>(author[i]);
  b[30] = p & 0xFF;
  b[31] = p >> 8;
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Letters(std::initializer_list<std::pair<char, uint16_t>> set) {
  Bytes b(52, 0xFF);
  for (auto [c, v] : set) {
    b[2 * (c - 'A')] = v & 0xFF;
    b[2 * (c - 'A') + 1] = v >> 8;
  }
  return b;
}
const Bytes kEnd(32, 0);

TEST(IndexFiles, KnownListByteForByte) {
  SongList list = {Song(5, "Volare", "Modugno"), Song(2, "azzurro", "Celentano", "00002.mp3"),
                   Song(9, "1 canzone", "Modugno")};
  IndexFiles f = BuildIndexFiles(list);
  EXPECT_EQ(f.mindex0, Cat({SongRec(9, "1 canzone"), SongRec(5, "Volare"), SongRec(2, "azzurro", 1), kEnd}));
  EXPECT_EQ(f.malpha0, Letters({{'V', 1}, {'A', 2}}));
  EXPECT_EQ(f.mindex2, Cat({Header("Celentano"), SongRec(2, "azzurro", 1), Header("Modugno"), SongRec(9, "1 canzone"),
                            SongRec(5, "Volare"), kEnd}));
  EXPECT_EQ(f.mindex4, Cat({AuthorRec("Celentano", 0), AuthorRec("Modugno", 2), kEnd}));
  EXPECT_EQ(f.malpha2, Letters({{'C', 0}, {'M', 1}}));
  // The regeneration upper-cases the file names it reads.
  EXPECT_EQ(list[1].fileName, "00002.MP3");
}

TEST(IndexFiles, EmptyListStillWritesEntryZero) {
  SongList list;
  IndexFiles f = BuildIndexFiles(list);
  EXPECT_EQ(f.mindex0, Bytes(32, 0));
  EXPECT_EQ(f.mindex2, Bytes(96, 0));
  EXPECT_EQ(f.mindex4, Cat({AuthorRec("", 0), kEnd}));
  EXPECT_EQ(f.malpha0, Bytes(52, 0xFF));
  EXPECT_EQ(f.malpha2, Bytes(52, 0xFF));
}

TEST(IndexFiles, LongTextsCaseAndFirstLetters) {
  std::string longTitle = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 characters
  SongList list = {Song(1, longTitle, "beta band"), Song(2, " blank first", "Beta Band"),
                   Song(3, "\xE8 accented", "Beta Band"), Song(4, "zeta", "beta band")};
  IndexFiles f = BuildIndexFiles(list);
  // Titles are cut to 26 bytes; only ASCII letters fill the letter table,
  // lower case counting as upper case.
  Bytes first = SongRec(2, " blank first");
  EXPECT_EQ(Bytes(f.mindex0.begin(), f.mindex0.begin() + 32), first);  // 0x20 sorts first
  EXPECT_EQ(Bytes(f.mindex0.begin() + 32, f.mindex0.begin() + 64), SongRec(1, longTitle));
  EXPECT_EQ(f.malpha0, Letters({{'A', 1}, {'Z', 2}}));
  // "Beta Band" and "beta band" are two groups, upper case first.
  EXPECT_EQ(f.mindex4, Cat({AuthorRec("Beta Band", 0), AuthorRec("beta band", 3), kEnd}));
  EXPECT_EQ(f.malpha2, Letters({{'B', 0}}));
}

TEST(IndexFiles, AuthorsKeep27Characters) {
  std::string author(27, 'p');
  SongList list = {Song(7, "t", author)};
  IndexFiles f = BuildIndexFiles(list);
  EXPECT_EQ(Bytes(f.mindex2.begin(), f.mindex2.begin() + 32), Header(author));
  auto back = ParseIndexFiles(f.mindex0, f.mindex2);
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0].author, author);
}

TEST(IndexFiles, RoundTripThroughTheParser) {
  SongList list = {Song(5, "Volare", "Modugno"), Song(2, "Azzurro", "Celentano", "00002.MP3"),
                   Song(9, "Nel blu", "Modugno"), Song(40000, "Tardi", "")};
  IndexFiles f = BuildIndexFiles(list);
  auto back = ParseIndexFiles(f.mindex0, f.mindex2);
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), 4u);
  const char* titles[] = {"Azzurro", "Nel blu", "Tardi", "Volare"};
  const char* authors[] = {"Celentano", "Modugno", "", "Modugno"};
  const char* names[] = {"00002.MP3", "00009.MF4", "40000.MF4", "00005.MF4"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ((*back)[i].title, titles[i]);
    EXPECT_EQ((*back)[i].author, authors[i]);
    EXPECT_EQ((*back)[i].fileName, names[i]);
    EXPECT_EQ((*back)[i].listIndex, i);
    EXPECT_EQ((*back)[i].number, std::string(5, ' ') + std::to_string(i));
  }
}

TEST(IndexFiles, ParserEdges) {
  EXPECT_FALSE(ParseIndexFiles(Bytes(31, 0), Bytes()).has_value());
  auto empty = ParseIndexFiles(Bytes(32, 0), Bytes(96, 0));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
  // Trailing bytes are ignored; the last whole record is the terminator,
  // whatever it holds; a song before any header gets no author.
  Bytes m0 = Cat({SongRec(3, "Uno"), SongRec(4, "Due"), Bytes(7, 0xAB)});
  Bytes m2 = Cat({SongRec(3, "Uno"), Header("Autore"), SongRec(4, "Due"), kEnd});
  auto list = ParseIndexFiles(m0, m2);
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ((*list)[0].code, 3);
  EXPECT_EQ((*list)[0].author, "");
  // A title field without its zero is read as 26 bytes.
  Bytes full(32, 'x');
  full[0] = 1;
  full[1] = 0;
  full[29] = 0;
  auto cut = ParseIndexFiles(Cat({full, kEnd}), kEnd);
  ASSERT_EQ(cut->size(), 1u);
  EXPECT_EQ((*cut)[0].title, std::string(26, 'x'));
}

}  // namespace
}  // namespace kestro::library

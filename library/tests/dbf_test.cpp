#include "library/dbf.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;

// A dBASE III table written by Python's struct module, as another program
// would write it (header length, 0x0D, records, 0x1A end mark).
const char* kWriter = R"(
import struct, sys
fields = [('CODICE', 20), ('TITOLO', 31), ('AUTORE', 31), ('INTERPRETE', 31), ('EDITORE', 30), ('GENERE', 31)]
rows = [(b' ', ['SONG1.MID', 'VOLARE', 'MIGLIACCI', 'DOMENICO MODUGNO', 'FONIT', 'POP']),
        (b'*', ['SONG2.MID', 'CANCELLATA', 'X', 'Y', 'Z', 'W']),
        (b' ', ['SONG3.MID', 'CAF\xc8 NERO', 'AUTORE', 'INTERPRETE', 'EDITORE', 'JAZZ'])]
reclen = 1 + sum(l for _, l in fields)
hdrlen = 32 + 32 * len(fields) + 1
out = bytearray(struct.pack('<BBBBIHH20x', 3, 126, 12, 9, len(rows), hdrlen, reclen))
for name, length in fields:
    out += struct.pack('<11sc4xBB14x', name.encode(), b'C', length, 0)
out += b'\r'
for flag, values in rows:
    out += flag
    for (name, length), v in zip(fields, values):
        out += v.encode('latin-1').ljust(length, b' ')
out += b'\x1a'
open(sys.argv[1], 'wb').write(out)
)";

TEST(Dbf, ReadsATableWrittenByAnotherProgram) {
  testing::TempDir dir;
  fs::path p = dir / "MIDI.DBF";
  auto r = testing::Run({testing::Python3(), "-c", kWriter, p.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto t = DbfTable::Open(p);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->FieldCount(), 6u);
  EXPECT_EQ(t->RecordCount(), 3u);
  std::string v;
  EXPECT_FALSE(t->GetField("TITOLO", 31, &v));  // no current record yet
  ASSERT_TRUE(t->FindRecord("SONG3.MID", "CODICE"));
  ASSERT_TRUE(t->GetField("titolo", 31, &v));
  EXPECT_EQ(v, "CAF\xC8 NERO");
  ASSERT_TRUE(t->GetField("GENERE", 2, &v));
  EXPECT_EQ(v, "JA");
  EXPECT_FALSE(t->GetField("NOFIELD", 31, &v));
  // Deleted records are compared like any other; keys are case-sensitive.
  EXPECT_TRUE(t->FindRecord("SONG2.MID", "CODICE"));
  EXPECT_FALSE(t->FindRecord("song1.mid", "CODICE"));
  EXPECT_FALSE(t->FindRecord("SONG1.MID", "NOFIELD"));
  ASSERT_TRUE(t->FindRecord("SONG1.MID", "CODICE"));
  ASSERT_TRUE(t->GetField("INTERPRETE", 31, &v));
  EXPECT_EQ(v, "DOMENICO MODUGNO");
}

// Descriptor lists ended by 0x0D alone or by 0x0D 0x00, with a header
// length field that cannot be trusted.
Bytes HandMadeTable(bool padding) {
  Bytes b(32, 0);
  b[0] = 3;
  auto field = [&](const char* name, uint8_t len) {
    Bytes d(32, 0);
    std::memcpy(d.data(), name, std::strlen(name));
    d[11] = 'C';
    d[16] = len;
    b.insert(b.end(), d.begin(), d.end());
  };
  field("CODICE", 8);
  field("TITOLO", 5);
  b.push_back(0x0D);
  if (padding) b.push_back(0x00);
  for (const char* rec : {" A.MID   UNO  ", " B.MID   DUE  "}) b.insert(b.end(), rec, rec + 14);
  return b;
}

TEST(Dbf, TerminatorWithOrWithoutPadding) {
  for (bool padding : {false, true}) {
    testing::TempDir dir;
    ASSERT_TRUE(WriteBinaryFile(dir / "T.DBF", HandMadeTable(padding)));
    auto t = DbfTable::Open(dir / "T.DBF");
    ASSERT_TRUE(t) << padding;
    EXPECT_EQ(t->RecordCount(), 2u);
    ASSERT_TRUE(t->FindRecord("A.MID", "CODICE")) << padding;
    std::string v;
    ASSERT_TRUE(t->GetField("TITOLO", 31, &v));
    EXPECT_EQ(v, "UNO");
    ASSERT_TRUE(t->FindRecord("B.MID", "CODICE")) << padding;
    ASSERT_TRUE(t->GetField("TITOLO", 31, &v));
    EXPECT_EQ(v, "DUE");
  }
}

TEST(Dbf, DamagedFilesAreRefused) {
  testing::TempDir dir;
  EXPECT_FALSE(DbfTable::Open(dir / "missing.dbf"));
  Bytes t = HandMadeTable(false);
  t.resize(40);  // descriptor cut short, no terminator
  ASSERT_TRUE(WriteBinaryFile(dir / "cut.dbf", t));
  EXPECT_FALSE(DbfTable::Open(dir / "cut.dbf"));
  Bytes noFields(33, 0);
  noFields[32] = 0x0D;
  ASSERT_TRUE(WriteBinaryFile(dir / "empty.dbf", noFields));
  EXPECT_FALSE(DbfTable::Open(dir / "empty.dbf"));
}

}  // namespace
}  // namespace kestro::library

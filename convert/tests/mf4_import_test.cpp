// The import of one MIDI file: catalogue songs, the title and the two
// questions with "show again".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/karaoke.h"
#include "convert/mf4_converter.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

const std::string kNoText = "La song %s non contiene alcun testo\n\nProcedere con l'importazione ?\n\n";

std::string NoTextQuestion(const std::string& title) {
  std::string s = kNoText;
  return s.replace(s.find("%s"), 2, title);
}

std::string NotColouredQuestion(const std::string& title) {
  return "Attenzione! Il testo di " + title +
         " non \xE8 stato colorato a sillabe.\n\nDurante l\x92"
         "esecuzione la canzone verr\xE0 colorata riga per riga e non parola per parola.\n\n"
         "Procedere con l'importazione ?\n\n";
}

ByteVec NotesOnly() {
  Track t;
  for (uint32_t i = 0; i < 20; ++i) {
    t.At(i * 240, {0x90, static_cast<uint8_t>(60 + i % 12), 0x50});
    t.At(i * 240 + 200, {0x80, static_cast<uint8_t>(60 + i % 12), 0x40});
  }
  return SongFile(480, {t.End()});
}

class Import : public ::testing::Test {
 protected:
  Install in;
  int Run(const std::string& name, const ByteVec& song, bool preprocess = true) {
    auto src = in.Write(name, song);
    return import_midi_file(*in.env, in.ctx, src, in.Path("0.MID"), preprocess);
  }
};

TEST_F(Import, NoTextQuestionWithShowAgain) {
  in.ui.answers = {kIdYes};
  in.ui.checkAnswers = {true};
  EXPECT_EQ(Run("senza parole.mid", NotesOnly()), kImportGoOn);
  EXPECT_TRUE(in.ctx.outputWritten);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  const auto& q = in.ui.messages[0];
  EXPECT_EQ(q.text, NoTextQuestion("SENZA PAROLE"));
  EXPECT_EQ(q.caption, "Attenzione");
  EXPECT_EQ(q.style, mb::kYesNo | mb::kIconExclamation);
  EXPECT_EQ(q.checkText, "Visualizza ancora questo messaggio");
  EXPECT_TRUE(q.checkState);

  // No, and the box cleared: the question is off and No stands.
  in.ui.answers = {kIdNo};
  in.ui.checkAnswers = {false};
  EXPECT_EQ(Run("b.mid", NotesOnly()), kImportDeclined);
  EXPECT_EQ(in.ui.messages.size(), 2u);
  EXPECT_EQ(Run("c.mid", NotesOnly()), kImportDeclined);
  EXPECT_EQ(in.ui.messages.size(), 2u) << "not asked again";

  // The next message of the program has no check box.
  ShowErrorWarning(*in.env, "x");
  EXPECT_TRUE(in.ui.messages.back().checkText.empty());

  // A new batch asks again.
  in.ctx.EnableQuestions();
  in.ui.answers = {kIdYes};
  EXPECT_EQ(Run("d.mid", NotesOnly()), kImportGoOn);
  EXPECT_EQ(in.ui.CountText(NoTextQuestion("D")), 1);

  // Yes with the box cleared: later songs go in without asking.
  in.ui.answers = {kIdYes};
  in.ui.checkAnswers = {false};
  EXPECT_EQ(Run("e.mid", NotesOnly()), kImportGoOn);
  const size_t asked = in.ui.messages.size();
  EXPECT_EQ(Run("f.mid", NotesOnly()), kImportGoOn);
  EXPECT_EQ(in.ui.messages.size(), asked);
}

TEST_F(Import, TitleFromTheFileName) {
  in.ui.answers = {kIdYes, kIdYes};
  Run("canzone d'amore \xC3\xA8 perch\xC3\xA9.mid", NotesOnly());
  EXPECT_EQ(in.ctx.Title(), "CANZONE D'AMORE \x06 PERCH\x05");
  EXPECT_FALSE(in.ctx.HadTitle());
  EXPECT_EQ(in.ctx.header.Title(), in.ctx.Title());
  Run(std::string(40, 'z') + ".kar", NotesOnly());
  EXPECT_EQ(in.ctx.Title(), std::string(31, 'Z'));
}

TEST_F(Import, TitleFromTheTrackNameInPlayerCodes) {
  Track t;
  t.Meta(0, 0x03, "Perch\xE8 t'amo").At(10, {0x90, 0x40, 0x40});
  in.ui.answers = {kIdYes};
  Run("x.mid", SongFile(480, {t.End()}));
  EXPECT_EQ(in.ctx.Title(), "PERCH\x06 T'AMO");
  EXPECT_TRUE(in.ctx.HadTitle());
}

TEST_F(Import, SourceThatIsNoMidiFile) {
  auto src = in.Write("notes.mid", ByteVec(50, 'x'));
  in.ui.answers = {kIdYes};
  EXPECT_EQ(import_midi_file(*in.env, in.ctx, src, in.Path("0.MID"), true), kImportGoOn);
  EXPECT_FALSE(in.ctx.outputWritten);
  EXPECT_FALSE(fs::exists(in.Path("0.MID")));
  EXPECT_EQ(in.ui.CountText("Impossibile aprire il file " + src.string()), 1);
  EXPECT_EQ(in.ui.CountText(NoTextQuestion("NOTES")), 1) << "the questions come all the same";
}

// A song of the maker's catalogue by its rights notice.
ByteVec VSonoSong(int controller31, int kind8) {
  Track t;
  t.Meta(0, 0x02, "(c) 2003 v-SoNo srl")
      .Meta(0, 0x03, "Catalogo")
      .At(0, {0xB0, 0x62, 0x01})
      .At(0, {0xB0, 0x63, 0x02})
      .At(0, {0xB0, 0x64, 0x03})
      .At(0, {0xB1, 0x62, 0x04})
      .At(0, {0xB0, 0x07, 0x70});
  uint32_t time = 10;
  for (int i = 0; i < kind8; ++i) t.At(time += 10, Karaoke(8, ""));
  for (int i = 0; i < controller31; ++i) t.At(time += 10, {0xB0, 0x1F, static_cast<uint8_t>(i + 1)});
  return SongFile(480, {t.End()});
}

TEST_F(Import, CatalogueSongByItsRightsNotice) {
  EXPECT_EQ(Run("cat.mid", VSonoSong(12, 8)), kImportGoOn);
  EXPECT_TRUE(in.ctx.catalogue);
  EXPECT_TRUE(in.ui.messages.empty()) << "coloured by syllable, with its own lyric steps";
  EXPECT_EQ(in.ctx.RightsNotice(), "Tutti i diritti riservati");
  EXPECT_EQ(in.ctx.SourceRightsNotice(), "(c) 2003 v-SoNo srl");
  EXPECT_EQ(in.ctx.header.RightsNotice(), "Tutti i diritti riservati");
  EXPECT_EQ(in.ctx.counters.controller31, 12);
  Mf4Content c = ParseOrFail(in.Read("0.MID"));
  std::vector<ByteVec> controllers;
  for (const auto& e : c.events) {
    if ((e.bytes[0] & 0xF0) == 0xB0 && e.bytes[1] != 0x1F) controllers.push_back(e.bytes);
  }
  EXPECT_EQ(controllers, (std::vector<ByteVec>{{0xB1, 0x62, 0x04}, {0xB0, 0x07, 0x70}}))
      << "controllers 98-100 of channel 1 go";

  // Few controller-31 events: the song is coloured line by line.
  in.ui.answers = {kIdNo};
  EXPECT_EQ(Run("poco.mid", VSonoSong(3, 8)), kImportDeclined);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, NotColouredQuestion("CATALOGO"));
  EXPECT_EQ(in.ui.messages[0].checkText, "Visualizza ancora questo messaggio");
}

TEST_F(Import, OrdinarySongKeepsItsControllersAndRights) {
  Track t;
  t.Meta(0, 0x02, "(c) 2003 Someone")
      .At(0, {0xB0, 0x62, 0x01})
      .At(10, {0xB0, 0x1F, 0x05});
  for (int i = 0; i < 8; ++i) t.At(20 + static_cast<uint32_t>(i), Karaoke(8, ""));
  EXPECT_EQ(Run("plain.mid", SongFile(480, {t.End()})), kImportGoOn);
  EXPECT_FALSE(in.ctx.catalogue);
  EXPECT_EQ(in.ctx.RightsNotice(), "(c) 2003 Someone");
  EXPECT_EQ(in.ctx.counters.controller31, 0) << "counted only in catalogue songs";
  Mf4Content c = ParseOrFail(in.Read("0.MID"));
  EXPECT_EQ(c.events[1].bytes, (ByteVec{0xB0, 0x62, 0x01}));
}

// The pattern that the maker's songs carry in the lowest bit of their
// velocities ("MS"), repeated as the measure takes it.
ByteVec MarkedSong() {
  std::vector<int> bits;
  for (char ch : std::string("MS")) {
    const int c = static_cast<unsigned char>(ch);
    for (int b = 0; b < 5; ++b) bits.push_back((c >> b) & 1);
    bits.push_back(((c >> 5) & 1) ^ 1);
    bits.push_back((((c >> 5) - 1) >> 1) & 1);
    bits.push_back((((c >> 5) - 1) >> 2) & 1);
  }
  Track t;
  t.Meta(0, 0x03, "Marcata");
  for (uint32_t i = 0; i < 280; ++i) {
    const int bit = bits[i % (bits.size() - 2)];
    t.At(i * 100, {0x90, 0x40, static_cast<uint8_t>(0x40 | bit)});
    t.At(i * 100 + 50, {0x90, 0x40, 0x00});
  }
  for (int i = 0; i < 8; ++i) t.At(28000 + static_cast<uint32_t>(i), Karaoke(8, ""));
  return SongFile(480, {t.End()});
}

TEST_F(Import, CatalogueSongByItsMark) {
  in.ui.answers = {kIdYes};
  EXPECT_EQ(Run("marked.mid", MarkedSong()), kImportGoOn);
  EXPECT_TRUE(in.ctx.catalogue);
  EXPECT_EQ(in.ctx.RightsNotice(), "Tutti i diritti riservati");
  EXPECT_EQ(in.ui.CountText(NotColouredQuestion("MARCATA")), 1);
  EXPECT_FALSE(fs::exists(in.Path("marked_M1.MID"))) << "the pre-processing cleans up after itself";
  EXPECT_TRUE(fs::exists(in.Path("pre.MID")));
}

}  // namespace
}  // namespace kestro

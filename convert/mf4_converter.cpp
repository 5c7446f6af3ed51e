#include "convert/mf4_converter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

#include "convert/karaoke.h"
#include "convert/lyrics.h"
#include "convert/midi_writer.h"
#include "convert/song_event_list.h"
#include "convert/work_files.h"
#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/latin1.h"

namespace kestro {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Context

void LyricTables::AddChord(uint32_t time, std::string_view text) {
  if (chords.size() >= kChordCapacity) {
    ++chordsDropped;
    return;
  }
  if (text.size() > kChordTextMax) {
    text = text.substr(0, kChordTextMax);
    ++textsCut;
  }
  chords.push_back({time, std::string(text)});
}

void LyricTables::AddItem(uint32_t time, std::string_view text) {
  if (items.size() >= kItemCapacity) {
    ++itemsDropped;
    return;
  }
  if (text.size() > kItemTextMax) {
    text = text.substr(0, kItemTextMax);
    ++textsCut;
  }
  items.push_back({time, std::string(text)});
}

void LyricTables::Clear() { *this = LyricTables(); }

void ConvertContext::EnableQuestions() {
  noLyricsQuestion.enabled = true;
  notColouredQuestion.enabled = true;
}

// ---------------------------------------------------------------------------
// Helpers

namespace {

constexpr uint8_t kMarker[3] = {0xFF, 0x00, 0xFF};

std::string Keep(std::string_view s) { return std::string(s.substr(0, std::min(s.size(), CapturedFields::kMaxText))); }

// The text of a meta event: its data up to the first zero byte. `ev` may be
// the first part of a longer event.
std::string MetaText(std::span<const uint8_t> ev) {
  if (ev.size() < 3) return {};
  const size_t header = (ev[2] & 0x80) ? 4 : 3;
  std::string s;
  for (size_t i = header; i < ev.size() && ev[i] != 0; ++i) s += static_cast<char>(ev[i]);
  return s;
}

int ParseDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 1000000) v = v * 10 + (s[i++] - '0');
  return static_cast<int>(v);
}

bool IsKaraokeLine(int kind) { return kind >= karaoke::kLine1 && kind <= karaoke::kLine4; }

// The reader takes a length as one byte, or two when the first has its top
// bit; a damaged source can give a second byte with its top bit too, which
// any other reader of the content would take for a longer length and lose
// its way in the track. Such an event stays out.
bool PlainLength(std::span<const uint8_t> ev, size_t at) {
  return at + 1 >= ev.size() || !(ev[at] & 0x80) || !(ev[at + 1] & 0x80);
}

// A page mark of any line kind: length byte 7, data byte 10.
bool IsAnyPageMark(std::span<const uint8_t> ev) {
  return IsKaraokeLine(KaraokeKind(ev)) && ev[1] == 7 && ev.size() > 7 && ev[7] == 10;
}

class Converter {
 public:
  Converter(ConvertContext& ctx, MidiStreamReader& r, MidiFileWriter& w) : ctx_(ctx), r_(r), w_(w) {}

  void Event(std::span<const uint8_t> ev, bool cut) {
    const uint8_t st = ev[0];
    const uint32_t t = r_.absolute_time();
    if (st < 0xF0) {
      Channel(ev, t);
    } else if (st == 0xF0) {
      if (cut) return Skip();
      if (!PlainLength(ev, 1)) return;
      SystemExclusive(ev, t);
    } else if (st == 0xFF && ev.size() >= 3) {
      if (!PlainLength(ev, 2)) return;
      Meta(ev, t, cut);
    }
  }

 private:
  void Write(std::span<const uint8_t> ev, uint32_t sourceTime) { w_.write_event(ev, scale_time(sourceTime, r_.division())); }
  void Skip() { ++ctx_.counters.longEventsSkipped; }

  void Channel(std::span<const uint8_t> ev, uint32_t t) {
    const uint8_t kind = ev[0] & 0xF0;
    const int ch = ev[0] & 0x0F;
    PackageHeader& h = ctx_.header;
    if (ev.size() < 2) return;
    // A damaged file can give a status byte where a data byte belongs (the
    // reader takes what follows a running status as data): such an event
    // would break the player's reading of the whole track, so it stays out.
    for (size_t i = 1; i < ev.size(); ++i)
      if (ev[i] & 0x80) return;
    if (kind == 0x80) {
      const uint8_t note = ev[1];
      if (ch == 9 && note >= 35 && note <= 60 && note != 46) return;
      const uint8_t off[2] = {static_cast<uint8_t>(0x80 | ch), note};
      return Write(off, t);
    }
    if (kind == 0x90 && ev.size() >= 3 && ev[2] == 0) {
      const uint8_t off[2] = {static_cast<uint8_t>(0x80 | ch), ev[1]};
      return Write(off, t);
    }
    if (kind == 0xC0) {
      if (h.Program(ch) == kNoValue) h.SetProgram(ch, ev[1]);
    } else if (kind == 0xB0 && ev.size() >= 3) {
      const uint8_t controller = ev[1], value = ev[2];
      auto first = [&](uint8_t current, auto set) {
        if (current == kNoValue) (h.*set)(ch, value);
      };
      switch (controller) {
        case 0: first(h.Bank(ch), &PackageHeader::SetBank); break;
        case 7: first(h.Volume(ch), &PackageHeader::SetVolume); break;
        case 10: first(h.Pan(ch), &PackageHeader::SetPan); break;
        case 91: first(h.Reverb(ch), &PackageHeader::SetReverb); break;
        case 93: first(h.Chorus(ch), &PackageHeader::SetChorus); break;
        default: break;
      }
      if (ctx_.catalogue && ev[0] == 0xB0) {
        if (controller == 31) ++ctx_.counters.controller31;
        if (controller == 98 || controller == 99 || controller == 100) return;
      }
    }
    Write(ev, t);
  }

  std::string ChordAt(size_t i) const {
    const auto& chords = ctx_.lyrics.chords;
    return i < chords.size() ? chords[i].text : std::string();
  }

  void SystemExclusive(std::span<const uint8_t> ev, uint32_t t) {
    const int kind = KaraokeKind(ev);
    if (kind == karaoke::kChord) {
      const size_t c = static_cast<size_t>(ctx_.counters.chordsMet++);
      const std::string text = ">" + ChordAt(c) + "|" + ChordAt(c + 1) + "|" + ChordAt(c + 2);
      return Write(MakeKaraokeMessage(karaoke::kChord, text), t);
    }
    Write(ev, t);
    if (IsKaraokeLine(kind)) {
      const size_t seen = static_cast<size_t>(++ctx_.counters.itemsSeen);
      if (kind == karaoke::kLine4) {
        const auto& items = ctx_.lyrics.items;
        const std::string next = seen < items.size() ? items[seen].text : std::string();
        Write(MakeKaraokeMessage(karaoke::kNextPreview, next), t);
      }
    }
  }

  void Meta(std::span<const uint8_t> ev, uint32_t t, bool cut) {
    CapturedFields& f = ctx_.fields;
    const uint8_t type = ev[1];
    switch (type) {
      case 0x02: {
        const std::string text = MetaText(ev);
        f.rights = Keep(text);
        if (text.size() > 32 && text[32] == ';') f.editor = Keep(EditorFrom(text.substr(33)));
        break;
      }
      case 0x03:
        if (!f.titleFromTrackName) TrackName(MetaText(ev));
        return;
      case 0x4B: {
        const std::string text = MetaText(ev);
        if (text.empty()) return;
        const std::string item = text.substr(1);
        switch (static_cast<uint8_t>(text[0])) {
          case 1: if (f.genre.empty()) f.genre = Keep(item); break;
          case 2: if (f.performer.empty()) f.performer = Keep(item); break;
          case 3: if (f.author.empty()) f.author = Keep(item); break;
          case 5: if (f.tempo == 0) f.tempo = ParseDecimal(item); break;
          default: break;
        }
        return;
      }
      case 0x51:
        if (f.tempo == 0 && ev.size() >= 6) {
          const uint32_t us = (uint32_t{ev[3]} << 16) | (uint32_t{ev[4]} << 8) | ev[5];
          if (us != 0) f.tempo = static_cast<int>(60000000u / us);
        }
        break;
      case 0x58:
        if (ev.size() >= 5) TimeSignature(t, ev[3], ev[4]);
        break;
      case 0x06:
        f.markers = true;
        break;
      case 0x01:
      case 0x2F:
        return;
      default:
        break;
    }
    if (cut) return Skip();
    Write(ev, t);
  }

  // The part of a long rights notice after its ";" names the publisher.
  static std::string EditorFrom(std::string_view rest) {
    std::string u = UpperAscii(rest);
    const size_t start = u.find_first_not_of("0123456789,.-_: ");
    if (start != std::string::npos) u = u.substr(start);
    return TrimSpaces(u);
  }

  void TrackName(const std::string& name) {
    CapturedFields& f = ctx_.fields;
    f.titleFromTrackName = true;
    if (name.size() <= 32) {
      f.title = Keep(name);
      return;
    }
    const size_t semi = name.find(';');
    f.title = Keep(UpperAscii(TrimSpaces(name.substr(0, semi))));
    if (semi == 32) {
      std::string author = UpperAscii(name.substr(33));
      if (author.find("MUSIC BY") != std::string::npos && author.size() > 18) author = author.substr(18);
      f.author = Keep(TrimSpaces(author));
    }
  }

  void TimeSignature(uint32_t t, uint8_t numerator, uint8_t power) {
    MidiBarClock& c = r_.bar_clock();
    if (c.ticksPerBar > 0 && t > c.barStart) c.barStart += (t - c.barStart) / c.ticksPerBar * c.ticksPerBar;
    const uint32_t denominator = power < 31 ? (1u << power) : 0;
    c.numerator = numerator;
    c.denominator = static_cast<int>(denominator);
    const uint64_t beat = denominator ? 4ull * static_cast<uint64_t>(std::max(r_.division(), 0)) / denominator : 0;
    c.ticksPerBeat = static_cast<uint32_t>(std::min<uint64_t>(beat, 0xFFFFFFFFu));
    c.ticksPerBar = static_cast<uint32_t>(std::min<uint64_t>(beat * numerator, 0xFFFFFFFFu));
  }

  ConvertContext& ctx_;
  MidiStreamReader& r_;
  MidiFileWriter& w_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Conversion

uint32_t scale_time(uint32_t ticks, int division) {
  if (division == kMf4Division || division <= 0) return ticks;
  const uint64_t scaled = uint64_t{ticks} * kMf4Division / static_cast<uint64_t>(division);
  return static_cast<uint32_t>(std::min<uint64_t>(scaled, 0xFFFFFFFFu));
}

void prescan_lyrics(MidiStreamReader& reader, LyricTables& tables) {
  tables.Clear();
  std::vector<uint8_t> ev;
  while (true) {
    reader.next_event(ev);
    if (reader.end_of_song() || reader.error() || ev.empty()) break;
    const int kind = KaraokeKind(ev);
    if (kind == karaoke::kChord) {
      std::string text;
      for (size_t i = 7; i < ev.size() && ev[i] != 0xF7; ++i) {
        if (ev[i] >= 0x20) text += static_cast<char>(ev[i]);
      }
      tables.AddChord(reader.absolute_time(), text);
    } else if (IsKaraokeLine(kind)) {
      std::string text;
      for (size_t i = 7; i < ev.size() && ev[i] != 0xF7; ++i) {
        if (ev[i] != '\n') text += static_cast<char>(ev[i]);
      }
      tables.AddItem(reader.absolute_time(), text);
    }
  }
  reader.rewind();
}

bool convert_midi(Env& env, ConvertContext& ctx, MidiStreamReader& reader, const fs::path& destination) {
  ctx.fields = {};
  ctx.header.ClearForConversion();
  ctx.counters.chordsMet = 0;
  ctx.counters.itemsSeen = 0;
  ctx.counters.longEventsSkipped = 0;
  ctx.outputWritten = false;
  ctx.sourceDivision = reader.division();
  prescan_lyrics(reader, ctx.lyrics);
  reader.bar_clock().barStart = 0;
  reader.bar_clock().ticksPerBeat = 4u * static_cast<uint32_t>(std::max(reader.division(), 0));

  auto w = MidiFileWriter::create(env, destination, kMf4Division);
  if (!w) {
    ReportWriteError(env, destination.string());
    return false;
  }
  w->write_raw(kMarker);
  Converter conv(ctx, reader, *w);
  std::array<uint8_t, kConverterEventBuffer> buffer{};
  while (true) {
    size_t length = 0;
    reader.next_event(buffer, length);
    if (reader.error() || reader.end_of_song() || length == 0) break;
    const bool cut = reader.last_event_cut();
    conv.Event(std::span<const uint8_t>(buffer.data(), std::min(length, buffer.size())), cut);
    if (w->stopped()) break;
  }
  reader.rewind();
  if (ctx.counters.longEventsSkipped > 0) {
    std::printf("%d event(s) longer than %zu bytes left out\n", ctx.counters.longEventsSkipped, kConverterEventBuffer);
    std::fflush(stdout);
  }
  const bool stopped = w->stopped();
  ctx.outputWritten = w->close() && !stopped;
  return ctx.outputWritten;
}

bool convert_mf3_content(Env& env, ConvertContext& ctx, const fs::path& source, const fs::path& destination) {
  ctx.outputWritten = false;
  auto reader = MidiStreamReader::open(env, source);
  if (!reader) {
    ShowErrorWarning(env, env.TF("MSG_CANTOPEN", source.string()));
    return false;
  }
  reader.reset();
  ctx.header.SetMagic(kMagicMf4);
  auto w = MidiFileWriter::create(env, destination, kMf4Division);
  if (!w) {
    ReportWriteError(env, destination.string());
    return false;
  }
  w->write_raw(kMarker);
  std::ifstream in(source, std::ios::binary);
  in.seekg(22);
  std::vector<char> block(10000);
  bool ok = static_cast<bool>(in);
  while (ok && in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    w->write_bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(block.data()), got));
    if (w->stopped()) ok = false;
  }
  ctx.outputWritten = w->close() && ok;
  return ctx.outputWritten;
}

// ---------------------------------------------------------------------------
// Catalogue pre-processing

namespace {

struct PageMarkScan {
  bool found = false;
  int kind4 = 0;   // K: kind-4 messages up to the first page mark
  int marks = 0;   // C: page marks at the head of that page
};

PageMarkScan ScanPageMarks(Env& env, const fs::path& file) {
  PageMarkScan s;
  auto r = MidiStreamReader::open(env, file);
  if (!r) return s;
  std::vector<uint8_t> ev;
  while (true) {
    r->next_event(ev);
    if (r->end_of_song() || r->error() || ev.empty()) break;
    const int kind = KaraokeKind(ev);
    if (!IsKaraokeLine(kind)) continue;
    if (!s.found) {
      if (kind == karaoke::kLine1) {
        ++s.kind4;
        if (IsPageMark(ev)) {
          s.found = true;
          s.marks = 1;
        }
      }
      continue;
    }
    if (kind == karaoke::kLine1 || !IsAnyPageMark(ev)) return s;
    ++s.marks;
  }
  if (s.found) s.marks = 5;
  return s;
}

// One pass: the page marks at the head of the K-th page go to its end.
bool MovePageMarks(Env& env, const fs::path& in, const fs::path& out, int k, int c) {
  auto r = MidiStreamReader::open(env, in);
  if (!r) return false;
  auto w = MidiFileWriter::create(env, out, r->division());
  if (!w) return false;
  const std::vector<uint8_t> colourAll = {0xB0, 0x1F, 0x7F};
  std::vector<uint8_t> ev;
  int kind4 = 0, kind8ToTake = 0;
  bool changing = false, done = false, ok = true;
  while (true) {
    r->next_event(ev);
    if (r->error()) {
      ok = false;
      break;
    }
    if (r->end_of_song() || ev.empty()) break;
    const uint32_t t = r->absolute_time();
    if (ev[0] == 0xFF && ev.size() >= 2 && ev[1] == 0x2F) continue;
    const int kind = KaraokeKind(ev);
    if (kind == karaoke::kLine1 && !done) {
      ++kind4;
      if (changing) {
        changing = false;
        done = true;
      } else if (kind4 == k) {
        changing = true;
      }
    }
    if (!changing) {
      w->write_event(ev, t);
    } else if (IsKaraokeLine(kind)) {
      if (kind < c + karaoke::kLine1) {
        w->write_event(colourAll, t);
      } else {
        ev[6] = static_cast<uint8_t>(kind - c);
        w->write_event(ev, t);
        if (kind - c == karaoke::kLine1) w->write_event(std::vector<uint8_t>{0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x09, 0x7F}, t);
      }
      if (kind == karaoke::kLine4) {
        for (int m = 8 - c; m <= 7; ++m) {
          w->write_event(std::vector<uint8_t>{0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, static_cast<uint8_t>(m), 0x0A, 0xF7}, t);
        }
        kind8ToTake = c;
      }
    } else if (kind == karaoke::kColourStep && kind8ToTake > 0) {
      --kind8ToTake;
      w->write_event(colourAll, t);
    } else if (kind == karaoke::kControl) {
      w->write_event(colourAll, t);
    } else {
      w->write_event(ev, t);
    }
    if (w->stopped()) {
      ok = false;
      break;
    }
  }
  return w->close() && ok;
}

}  // namespace

bool preprocess_catalogue_song(Env& env, const fs::path& source, const fs::path& destination) {
  const std::string stem = source.stem().string();
  const fs::path m1 = workfile::CataloguePass(env, stem, 1);
  const fs::path m2 = workfile::CataloguePass(env, stem, 2);
  const fs::path m3 = workfile::CataloguePass(env, stem, 3);
  const fs::path tmp = env.InstallPath(workfile::kRewrite);
  bool ok = CopyFileOver(source, m1);
  if (ok) {
    // Each pass turns one kind-4 page mark into a colour step, so the passes
    // end; the bound only guards against a file that changes under us.
    PageMarkScan scan = ScanPageMarks(env, m1);
    const int bound = scan.kind4 + 2;
    for (int pass = 0; pass < bound && scan.found && scan.marks != 4 && scan.marks != 5; ++pass) {
      if (!MovePageMarks(env, m1, tmp, scan.kind4, scan.marks)) {
        ok = false;
        break;
      }
      std::error_code ec;
      fs::rename(tmp, m1, ec);
      if (ec) {
        ok = false;
        break;
      }
      scan = ScanPageMarks(env, m1);
    }
  }
  ok = ok && retime_catalogue_lyrics(env, m1, m2) && CopyFileOver(m2, destination);
  RemoveFile(tmp);
  RemoveFile(m1);
  RemoveFile(m2);
  RemoveFile(m3);
  return ok;
}

// ---------------------------------------------------------------------------
// Import of one MIDI file

std::string PlayerTitle(std::string_view title) { return to_player_codes(UpperAscii(title)); }

namespace {

// One of the two questions with "show again"; an unticked box keeps the
// answer for the songs that follow.
bool Ask(Env& env, QuestionSwitch& q, const std::string& text) {
  if (!q.enabled) return q.lastAnswerYes;
  set_check_caption(env, kShowAgainText);
  set_check_state(env, 1);
  const int answer = env.ui.ShowMessage(text, env.T("MSG_CAPTION_WARNING"), mb::kYesNo | mb::kIconExclamation);
  const bool showAgain = env.ui.MessageCheckState();
  set_check_caption(env, "");
  q.lastAnswerYes = answer == kIdYes;
  if (!showAgain) q.enabled = false;
  return q.lastAnswerYes;
}

std::string FileTitle(const fs::path& source) {
  std::string name = source.stem().string();
  if (IsValidUtf8(name)) name = Utf8ToLatin1(name);
  return Keep(name);
}

void FillHeaderTexts(ConvertContext& ctx) {
  const CapturedFields& f = ctx.fields;
  PackageHeader& h = ctx.header;
  h.SetTitle(f.title);
  h.SetAuthor(f.author);
  h.SetPerformer(f.performer);
  h.SetGenre(f.genre);
  h.SetEditor(f.editor);
  h.SetRightsNotice(f.rights);
  h.SetTempo(static_cast<uint16_t>(std::clamp(f.tempo, 0, 0xFFFF)));
  h.SetMarkersFlag(f.markers ? 1 : 0);
}

}  // namespace

int import_midi_file(Env& env, ConvertContext& ctx, const fs::path& source, const fs::path& destination,
                     bool preprocess) {
  ctx.counters = {};
  ctx.catalogue = false;
  ctx.outputWritten = false;

  {
    SongEventList list(env);
    if (list.load(source) && list.size() > 0 && list.catalogue_mark_percent() != 0) ctx.catalogue = true;
  }
  // The lyric detection reads the source alone, and its pass over every
  // event also finds a V-SONO rights notice: it goes first.
  const bool tune1000 = detect_tune1000(env, ctx, source) == 1;
  if (ctx.lyricScan.vSonoRights) ctx.catalogue = true;

  ctx.lyrics.Clear();
  ctx.fields = {};

  fs::path chosen = source;
  if (ctx.catalogue && preprocess) {
    const fs::path pre = env.InstallPath(workfile::kPreprocessed);
    if (preprocess_catalogue_song(env, source, pre)) chosen = pre;
  }
  if (tune1000) chosen = env.InstallPath(workfile::kTune1000);

  if (auto reader = MidiStreamReader::open(env, chosen)) {
    convert_midi(env, ctx, *reader, destination);
  } else {
    ShowErrorWarning(env, env.TF("MSG_CANTOPEN", chosen.string()));
  }

  CapturedFields& f = ctx.fields;
  f.sourceRights = f.rights;
  if (ctx.catalogue) f.rights = Keep(env.T("MSG_COPYRIGHT"));
  if (f.title.empty()) f.title = FileTitle(source);
  f.title = PlayerTitle(f.title);
  FillHeaderTexts(ctx);

  const std::string shownTitle = from_player_codes(f.title);
  const LyricScanResult& lyrics = ctx.lyricScan;
  if ((lyrics.tune1000 || lyrics.kind8Count < 6) && lyrics.textMeasure < 20 &&
      !Ask(env, ctx.noLyricsQuestion,
           Fmt("La song %s non contiene alcun testo\n\nProcedere con l'importazione ?\n\n", shownTitle))) {
    return kImportDeclined;
  }
  if (ctx.catalogue && ctx.counters.controller31 < 10 &&
      !Ask(env, ctx.notColouredQuestion,
           Fmt("Attenzione! Il testo di %s non \xE8 stato colorato a sillabe.\n\nDurante l\x92"
               "esecuzione la canzone verr\xE0 colorata riga per riga e non parola per parola.\n\n"
               "Procedere con l'importazione ?\n\n",
               shownTitle))) {
    return kImportDeclined;
  }
  return kImportGoOn;
}

}  // namespace kestro

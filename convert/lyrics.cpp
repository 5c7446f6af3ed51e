#include "convert/lyrics.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "convert/karaoke.h"
#include "convert/midi_reader.h"
#include "convert/midi_writer.h"
#include "convert/work_files.h"
#include "platform/fileutil.h"
#include "platform/format.h"

namespace kestro {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Text timelines

bool TextCollection::Push(TextEntry e) {
  if (entries_.size() >= kMaxEntries) {
    ++dropped_;
    return false;
  }
  entries_.push_back(e);
  return true;
}

void TextCollection::EndLine(uint32_t time) {
  Push({time, TextEntry::kLineEnd, TextEntry::kPlain});
  pos_ = 0;
  line_ = (line_ + 1) % 4;
}

void TextCollection::AppendChar(uint32_t time, uint8_t ch) {
  if (ch == TextEntry::kLineEnd) {
    EndLine(time);
    return;
  }
  if (!Push({time, ch, TextEntry::kPlain})) return;
  if (++pos_ >= kPageLineWidth[line_]) Break(time);
}

// The line is full: end it at a punctuation mark half a width back, else at
// the last space before that, else right here.
void TextCollection::Break(uint32_t time) {
  const int width = kPageLineWidth[line_];
  const size_t n = entries_.size();
  size_t lineStart = n;
  while (lineStart > 0 && !entries_[lineStart - 1].IsLineEnd() && !entries_[lineStart - 1].IsPageEnd()) --lineStart;
  auto breakAt = [&](size_t j) {
    entries_[j].ch = TextEntry::kLineEnd;
    int after = 0;
    for (size_t i = j + 1; i < n; ++i) {
      if (entries_[i].mark == TextEntry::kPlain) ++after;
    }
    pos_ = after;
    line_ = (line_ + 1) % 4;
  };
  const long k = static_cast<long>(n) - width / 2;
  if (k >= static_cast<long>(lineStart) && k < static_cast<long>(n)) {
    const TextEntry& e = entries_[static_cast<size_t>(k)];
    if (e.mark == TextEntry::kPlain && e.ch != 0 && std::string_view(",.;:?/!").find(static_cast<char>(e.ch)) !=
                                                        std::string_view::npos) {
      breakAt(static_cast<size_t>(k));
      return;
    }
    for (long j = k; j >= static_cast<long>(lineStart); --j) {
      const TextEntry& s = entries_[static_cast<size_t>(j)];
      if (s.mark == TextEntry::kPlain && s.ch == ' ') {
        breakAt(static_cast<size_t>(j));
        return;
      }
    }
  }
  EndLine(time);
}

void TextCollection::AddText(uint32_t time, uint8_t type, std::string_view text) {
  // A text ends at its first zero byte.
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  if (!text.empty() && text[0] == '@') text = text.substr(0, 1);

  if (type == 0x03) {
    std::string name(text);
    if (name.size() > 28) {
      size_t slash = name.rfind('/');
      if (slash != std::string::npos) name[slash] = ' ';
      else name.resize(28);
    }
    Push({time, '%', TextEntry::kHeading});
    for (char c : name) {
      if (c != '\n') AppendChar(time, static_cast<uint8_t>(c));
    }
    EndLine(time);
    return;
  }
  if (text.empty()) return;

  if (text[0] == '%' || (type == 0x01 && IsChordName(text))) {
    // A chord line: "~" takes the place of the "%", or stands in front of a
    // chord name (which gives up one of its two closing spaces for it).
    std::string chord = text[0] == '%' ? std::string(text.substr(1)) : std::string(text.substr(0, text.size() - 1));
    Push({time, '~', TextEntry::kChordRun});
    for (char c : chord) {
      if (c != '\n' && c != '\r') Push({time, static_cast<uint8_t>(c), TextEntry::kChordRun});
    }
    Push({time, TextEntry::kLineEnd, TextEntry::kChordRun});
    ++chordLines_;
    return;
  }

  const bool angle = text[0] == '<';
  if (angle) angle_ = true;
  for (char c : text) {
    if (c == '\n') continue;
    if (c == '/' || c == '\\') EndLine(time);
    else AppendChar(time, static_cast<uint8_t>(c));
  }
  if (angle) EndLine(time);
}

int ChooseTextSlot(const std::vector<TextCollection>& slots, bool french) {
  int bestPlain = -1, bestAngle = -1;
  for (size_t s = 0; s < slots.size(); ++s) {
    const TextCollection& c = slots[s];
    if (c.size() < 101 || c.IsChordCollection()) continue;
    int& best = c.angleMarked() ? bestAngle : bestPlain;
    if (best < 0) {
      best = static_cast<int>(s);
      continue;
    }
    const size_t have = slots[static_cast<size_t>(best)].size();
    bool wins = french && s >= 64 ? c.size() * 2 > have * 3 : c.size() > have;
    if (wins) best = static_cast<int>(s);
  }
  return bestPlain >= 0 ? bestPlain : bestAngle;
}

int ChordSlot(const std::vector<TextCollection>& slots) {
  for (size_t s = 0; s < slots.size(); ++s) {
    if (slots[s].IsChordCollection()) return static_cast<int>(s);
  }
  return -1;
}

std::vector<TextEntry> MergeChordRuns(const std::vector<TextEntry>& text, const std::vector<TextEntry>& chords) {
  // The runs: "~" up to its line end, all at the time of the "~".
  std::vector<std::vector<TextEntry>> runs;
  for (const TextEntry& e : chords) {
    if (e.mark != TextEntry::kChordRun) continue;
    if (e.ch == '~' || runs.empty()) runs.emplace_back();
    TextEntry r = e;
    r.time = runs.back().empty() ? e.time : runs.back().front().time;
    runs.back().push_back(r);
  }
  std::vector<TextEntry> out;
  out.reserve(text.size() + chords.size());
  size_t i = 0;
  for (const auto& run : runs) {
    const uint32_t t = run.front().time;
    while (i < text.size() && text[i].time <= t) out.push_back(text[i++]);
    out.insert(out.end(), run.begin(), run.end());
  }
  while (i < text.size()) out.push_back(text[i++]);
  return out;
}

void SplitLongPages(std::vector<TextEntry>& text) {
  int lineEnds = 0;
  size_t third = 0;  // the third line end of the page
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i].IsPageEnd()) {
      lineEnds = 0;
      continue;
    }
    if (!text[i].IsLineEnd()) continue;
    const bool endsPage = i + 1 < text.size() && text[i + 1].IsPageEnd();
    if (endsPage) continue;
    if (++lineEnds == 3) third = i;
    if (lineEnds == 4) {
      text.insert(text.begin() + static_cast<long>(third) + 1,
                  TextEntry{text[third].time, TextEntry::kPageEnd, TextEntry::kPlain});
      // The loop meets the new page end next and counts the fourth line
      // again, on the new page.
      i = third;
    }
  }
}

void AppendClosingLines(std::vector<TextEntry>& text, uint32_t division) {
  const uint64_t last = text.empty() ? 0 : text.back().time;
  for (uint64_t add : {0u, 10u, 20u, 30u}) {
    uint64_t t = std::min<uint64_t>(last + division + add, 0xFFFFFFFFu);
    text.push_back({static_cast<uint32_t>(t), TextEntry::kLineEnd, TextEntry::kPlain});
  }
}

std::vector<LaidOutLine> NormalisePages(const std::vector<TextEntry>& text) {
  std::vector<LaidOutLine> lines;
  LaidOutLine cur;
  int sincePageEnd = 0;
  auto lineEnd = [](uint32_t t) { return TextEntry{t, TextEntry::kLineEnd, TextEntry::kPlain}; };
  for (const TextEntry& e : text) {
    if (e.IsPageEnd()) {
      if (!cur.entries.empty()) {
        cur.entries.push_back(lineEnd(e.time));
        lines.push_back(std::move(cur));
        cur = {};
        ++sincePageEnd;
      }
      const int inPage = sincePageEnd % 4;
      if (inPage != 0) {
        for (int k = inPage; k < 4; ++k) lines.push_back({{lineEnd(e.time)}});
      }
      sincePageEnd = 0;
      continue;
    }
    cur.entries.push_back(e);
    if (e.IsLineEnd()) {
      lines.push_back(std::move(cur));
      cur = {};
      ++sincePageEnd;
    }
  }
  if (!cur.entries.empty()) {
    cur.entries.push_back(lineEnd(cur.entries.back().time));
    lines.push_back(std::move(cur));
  }
  while (lines.size() % 4 != 0) lines.push_back({{lineEnd(lines.back().entries.back().time)}});
  return lines;
}

namespace {

// The characters of a line that the player shows: no marks, no chord runs,
// no line end.
std::string ShownText(const LaidOutLine& line) {
  std::string s;
  for (const TextEntry& e : line.entries) {
    if (e.mark != TextEntry::kPlain || e.IsLineEnd() || e.IsPageEnd()) continue;
    s += static_cast<char>(e.ch);
  }
  return s;
}

std::string Repeat(uint8_t c, int n) { return std::string(static_cast<size_t>(n), static_cast<char>(c)); }

}  // namespace

std::string PreviewText(const std::vector<LaidOutLine>& lines) {
  constexpr uint8_t kH = 0xC4, kV = 0xB3;
  std::string out;
  out += static_cast<char>(0xDA) + Repeat(kH, 39) + static_cast<char>(0xBF) + "\n";
  const size_t pages = lines.size() / 4;
  for (size_t p = 0; p < pages; ++p) {
    for (int l = 0; l < 4; ++l) {
      const int width = kPageLineWidth[l];
      std::string t = from_player_codes(ShownText(lines[p * 4 + static_cast<size_t>(l)]));
      t.resize(static_cast<size_t>(width), ' ');
      out += static_cast<char>(kV) + t;
      if (l < 3) out += static_cast<char>(kV);
      else out += static_cast<char>(0xDA) + Repeat(kH, 6) + static_cast<char>(0xB4);
      out += "\n";
    }
    if (p + 1 < pages) out += static_cast<char>(0xC3) + Repeat(kH, 32) + static_cast<char>(0xC1) + Repeat(kH, 6) + static_cast<char>(0xB4) + "\n";
    else out += static_cast<char>(0xC0) + Repeat(kH, 32) + static_cast<char>(0xC1) + Repeat(kH, 6) + static_cast<char>(0xD9) + "\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// Tune1000/Lyrics detection

namespace {

struct ScanResult {
  std::vector<TextCollection> slots = std::vector<TextCollection>(128);
  int kind8 = 0;
  bool roland = false;
  bool vSono = false;
  int division = 0;
};

bool IsMeta(const std::vector<uint8_t>& ev, uint8_t type) { return ev.size() >= 3 && ev[0] == 0xFF && ev[1] == type; }

// The data of a meta event after its type and length bytes.
std::string_view MetaData(const std::vector<uint8_t>& ev) {
  if (ev.size() < 3) return {};
  size_t header = (ev[2] & 0x80) ? 4 : 3;
  if (ev.size() < header) return {};
  return std::string_view(reinterpret_cast<const char*>(ev.data()) + header, ev.size() - header);
}

// A rights notice naming V-SONO in its first 97 characters: the maker's
// catalogue songs carry one.
bool IsVSonoRights(const std::vector<uint8_t>& ev) {
  const std::string_view data = MetaData(ev);
  const std::string text(data.substr(0, std::min(data.find('\0'), size_t{97})));
  return UpperAscii(text).find("V-SONO") != std::string::npos;
}

void Scan(MidiStreamReader& reader, ScanResult& s) {
  s.division = reader.division();
  int ended = 0;
  std::vector<uint8_t> ev;
  while (true) {
    reader.next_event(ev);
    if (reader.end_of_song() || ev.empty()) break;
    const uint32_t t = reader.absolute_time();
    if (ev[0] == 0xF0) {
      if (KaraokeKind(ev) == karaoke::kColourStep) ++s.kind8;
      static constexpr uint8_t kRoland[] = {0x41, 0x10, 0x42, 0x12, 0x7F, 0x00, 0x00};
      if (ev.size() >= 9 && std::equal(std::begin(kRoland), std::end(kRoland), ev.begin() + 2)) s.roland = true;
    } else if (IsMeta(ev, 0x02)) {
      // An event the reader broke off in is not looked at.
      if (!s.vSono && !reader.error() && IsVSonoRights(ev)) s.vSono = true;
    } else if (IsMeta(ev, 0x2F)) {
      if (++ended >= reader.tracks_read()) break;
    } else if (IsMeta(ev, 0x01) || IsMeta(ev, 0x03) || IsMeta(ev, 0x05)) {
      const uint8_t type = ev[1];
      const int slot = reader.current_track() + (type == 0x01 ? 64 : 0);
      if (slot > 127) break;
      if (type != 0x03 && t == 0) continue;
      std::string text(MetaData(ev));
      if (type != 0x03) text = to_player_codes(text);
      s.slots[static_cast<size_t>(slot)].AddText(t, type, text);
    }
    if (reader.error()) break;
  }
}

struct PendingChord {
  uint32_t time;
  std::string text;
};

// Writes the karaoke messages of the laid-out text. Every message goes out at
// its own time, but never earlier than the one before plus a gap.
class KaraokeWriter {
 public:
  KaraokeWriter(MidiFileWriter& w, bool angleSong) : w_(w), angleSong_(angleSong) {}

  void Start() {
    Put(MakeKaraokeMessage(karaoke::kSongStartLong, ""), 5, kLineGap);
    Put(MakeKaraokeMessage(karaoke::kSongStart, ""), 10, kLineGap);
  }

  void Page(const LaidOutLine* lines) {
    Put({0xB0, 0x1F, 0x7F}, prev_ + 1, 0);

    struct Line {
      std::string text;
      std::vector<TextEntry> chars;
      uint32_t start = 0;
      bool heading = false;
    } page[4];
    for (int l = 0; l < 4; ++l) {
      Line& line = page[l];
      line.start = lines[l].StartTime();
      std::string run;
      uint32_t runTime = 0;
      for (const TextEntry& e : lines[l].entries) {
        if (e.mark == TextEntry::kHeading) {
          line.heading = true;
        } else if (e.mark == TextEntry::kChordRun) {
          if (e.ch == '~') {
            run.clear();
          } else if (run.size() < 9) {
            run += static_cast<char>(e.ch);
          }
          runTime = e.time;
          if (e.ch == TextEntry::kLineEnd && chords_.size() < kMaxChords) chords_.push_back({runTime, run});
        } else if (!e.IsLineEnd() && !e.IsPageEnd()) {
          line.chars.push_back(e);
        }
      }
      if (angleSong_ && line.heading && line.chars.size() > 10) line.chars.erase(line.chars.begin(), line.chars.begin() + 8);
      if (line.chars.size() > kMaxLine) {
        line.chars.resize(kMaxLine);
        if (!tooLongShown_) {
          std::fputs("Line(s) too long. Will be truncated.\n", stdout);
          std::fflush(stdout);
          tooLongShown_ = true;
        }
      }
      for (const TextEntry& e : line.chars) line.text += static_cast<char>(e.ch);
    }

    const int64_t pageStart = page[0].start;
    for (int l = 0; l < 4; ++l) {
      std::string text = page[l].text;
      if (text.size() < 38) text += '\n';
      Put(MakeKaraokeMessage(static_cast<uint8_t>(karaoke::kLine1 + l), text), pageStart + 5 * l - 60, kLineGap);
    }

    int coloured = 4;
    while (coloured > 0 && page[coloured - 1].text.size() < 2) --coloured;
    for (int l = 0; l < coloured; ++l) {
      const Line& line = page[l];
      WriteChordsBefore(static_cast<int64_t>(line.start) - 3);
      if (!line.heading) Put({0xB0, 0x1F, 0x00}, line.start, kControlGap);
      Put(MakeKaraokeMessage(karaoke::kColourStep, ""), line.start, kLineGap);
      if (line.heading || line.chars.size() <= 1) continue;
      int count = 0, sent = 0;
      for (size_t i = 0; i < line.chars.size(); ++i) {
        const TextEntry& c = line.chars[i];
        WriteChordsBefore(static_cast<int64_t>(c.time) + 1);
        if (c.ch != ' ') ++count;
        const bool syllableEnds = i + 1 == line.chars.size() || line.chars[i + 1].time != c.time;
        if (syllableEnds && count != sent) {
          Put({0xB0, 0x1F, static_cast<uint8_t>(count)}, c.time, kControlGap);
          sent = count;
        }
      }
    }
  }

  // Chords still waiting when the text has ended.
  void Finish() { WriteChordsBefore(INT64_MAX); }

  bool stopped() const { return w_.stopped(); }

 private:
  static constexpr int64_t kLineGap = 5;
  static constexpr int64_t kControlGap = 2;
  static constexpr size_t kMaxChords = 200;
  static constexpr size_t kMaxLine = 40;

  void Put(std::vector<uint8_t> bytes, int64_t own, int64_t gap) {
    int64_t t = std::max(own, prev_ + gap);
    t = std::clamp<int64_t>(t, 0, 0xFFFFFFFF);
    w_.write_event(bytes, static_cast<uint32_t>(t));
    prev_ = t;
  }

  // Chords due before `limit`, in time order.
  void WriteChordsBefore(int64_t limit) {
    size_t i = 0;
    while (i < chords_.size() && static_cast<int64_t>(chords_[i].time) < limit) {
      Put(MakeKaraokeMessage(karaoke::kChord, chords_[i].text), chords_[i].time, kControlGap);
      ++i;
    }
    chords_.erase(chords_.begin(), chords_.begin() + static_cast<long>(i));
  }

  MidiFileWriter& w_;
  bool angleSong_;
  int64_t prev_ = 0;
  std::vector<PendingChord> chords_;
  bool tooLongShown_ = false;
};

bool WriteKaraokeFile(Env& env, const fs::path& path, int division, const std::vector<LaidOutLine>& lines,
                      bool angleSong) {
  auto w = MidiFileWriter::create(env, path, division);
  if (!w) return false;
  KaraokeWriter k(*w, angleSong);
  k.Start();
  for (size_t p = 0; p + 4 <= lines.size() && !k.stopped(); p += 4) k.Page(&lines[p]);
  if (!k.stopped()) k.Finish();
  const bool stopped = w->stopped();
  return w->close() && !stopped;
}

// n in decimal, right-aligned in `width` columns (printf's "%*lu"), at `out`;
// returns the end.
char* PutNumber(char* out, unsigned long n, int width) {
  char digits[20];
  int k = 0;
  do {
    digits[k++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  for (int i = k; i < width; ++i) *out++ = ' ';
  while (k > 0) *out++ = digits[--k];
  return out;
}

// b as two lower-case hex digits (printf's "%02x").
char* PutHex(char* out, uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  *out++ = kDigits[b >> 4];
  *out++ = kDigits[b & 0x0F];
  return out;
}

// One line of LOGILE.TXT: "%6ld %3ld %d %02x %02x %02x\n" of the event's
// time, delta, length and first three bytes, formatted here as printf would
// (a line per event is too many for printf to be cheap).
void AppendLogLine(std::string& lines, uint32_t time, uint32_t delta, const std::vector<uint8_t>& ev) {
  char line[3 * 21 + 3 * 3 + 2];
  char* p = PutNumber(line, time, 6);
  *p++ = ' ';
  p = PutNumber(p, delta, 3);
  *p++ = ' ';
  p = PutNumber(p, ev.size(), 0);
  for (size_t i = 0; i < 3; ++i) {
    *p++ = ' ';
    p = PutHex(p, i < ev.size() ? ev[i] : uint8_t{0});
  }
  *p++ = '\n';
  lines.append(line, static_cast<size_t>(p - line));
}

// The karaoke messages of WB.MID taken in order, for the merge.
class KaraokeFeed {
 public:
  explicit KaraokeFeed(std::unique_ptr<MidiStreamReader> r) : r_(std::move(r)) {}

  // Every message due before `time` (at equal times the song's own event
  // goes first) into `out`; false once WB.MID could not be read or the
  // output not written.
  bool WriteBefore(uint64_t time, MidiFileWriter& out) {
    while (true) {
      if (r_->end_of_song()) return true;
      const uint32_t d = r_->peek_delta();
      if (r_->error()) return false;
      if (r_->end_of_song() || uint64_t{r_->absolute_time()} + d >= time) return true;
      r_->next_event(ev_);
      if (r_->error()) return false;
      if (r_->end_of_song() || ev_.empty()) continue;
      if (!IsMeta(ev_, 0x2F)) out.write_event(ev_, r_->absolute_time());
      if (out.stopped()) return false;
    }
  }
  bool WriteRest(MidiFileWriter& out) { return WriteBefore(~uint64_t{0}, out); }

 private:
  std::unique_ptr<MidiStreamReader> r_;
  std::vector<uint8_t> ev_;
};

// Every event of the source into TEMP.MID at its time (the writer ends the
// track itself), with a line per event in LOGILE.TXT. The same pass merges
// those events with WB.MID into Tune1000.MID, at equal times the song's own
// event first: the events of TEMP.MID as written, without reading them back.
// False when TEMP.MID or Tune1000.MID could not be made whole; Tune1000.MID
// is then removed.
bool CopyAndMerge(Env& env, const fs::path& source, const fs::path& temp, const fs::path& log,
                  const fs::path& karaoke, const fs::path& tune) {
  auto r = MidiStreamReader::open(env, source);
  if (!r) return false;
  auto w = MidiFileWriter::create(env, temp, r->division());
  if (!w) return false;
  std::unique_ptr<MidiFileWriter> merged;
  std::unique_ptr<KaraokeFeed> feed;
  if (auto k = MidiStreamReader::open(env, karaoke)) {
    if (k->division() != r->division()) std::fputs("Warning: DIfferent tpqn, result not defined\n", stdout);
    merged = MidiFileWriter::create(env, tune, k->division());
    feed = std::make_unique<KaraokeFeed>(std::move(k));
  }
  bool merging = merged && feed;

  std::FILE* lf = std::fopen(log.c_str(), "w");
  std::string lines;
  auto flushLines = [&] {
    if (lf && !lines.empty()) std::fwrite(lines.data(), 1, lines.size(), lf);
    lines.clear();
  };
  std::vector<uint8_t> ev;
  bool ok = true;
  while (true) {
    const uint32_t delta = r->next_event(ev);
    if (r->error()) {
      ok = false;
      break;
    }
    if (r->end_of_song() || ev.empty()) break;
    const uint32_t t = r->absolute_time();
    if (lf) {
      AppendLogLine(lines, t, delta, ev);
      if (lines.size() >= (size_t{1} << 16)) flushLines();
    }
    if (!IsMeta(ev, 0x2F)) {
      w->write_event(ev, t);
      if (w->stopped()) {
        ok = false;
        break;
      }
      if (merging) {
        merging = feed->WriteBefore(t, *merged);
        if (merging) merged->write_event(ev, t);
        merging = merging && !merged->stopped();
      }
    }
  }
  flushLines();
  if (lf) std::fclose(lf);
  const bool copied = w->close() && ok;
  if (copied && merging) merging = feed->WriteRest(*merged);
  const bool whole = merged && merged->close() && merging;
  if (!copied || !whole) {
    RemoveFile(tune);
    return false;
  }
  return true;
}

}  // namespace

int detect_tune1000(Env& env, ConvertContext& ctx, const fs::path& source) {
  const fs::path tune = env.InstallPath(workfile::kTune1000);
  RemoveFile(tune);
  ctx.lyricScan = {};

  auto reader = MidiStreamReader::open(env, source);
  if (!reader) {
    std::fputs(Fmt("File %s not found\n", source.string()).c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }
  ScanResult s;
  Scan(*reader, s);
  reader.reset();
  ctx.lyricScan.kind8Count = s.kind8;
  ctx.lyricScan.roland = s.roland;
  ctx.lyricScan.vSonoRights = s.vSono;
  if (s.roland) env.ui.SystemMessage(Fmt("La song %s contiene SXS tipo ROLAND", source.string()), "Attenzione", mb::kOk);

  const bool french = env.dict.Language().find("FRENCH") != std::string::npos;
  const int chosen = ChooseTextSlot(s.slots, french);
  ctx.lyricScan.textMeasure = chosen >= 0 ? static_cast<int>(s.slots[static_cast<size_t>(chosen)].size()) : 0;
  if (s.kind8 > 6 || ctx.lyricScan.textMeasure < 101) return 0;

  const TextCollection& song = s.slots[static_cast<size_t>(chosen)];
  std::vector<TextEntry> text = song.entries();
  const int chordSlot = ChordSlot(s.slots);
  if (chordSlot >= 0 && chordSlot != chosen) text = MergeChordRuns(text, s.slots[static_cast<size_t>(chordSlot)].entries());
  SplitLongPages(text);
  AppendClosingLines(text, static_cast<uint32_t>(s.division));
  const std::vector<LaidOutLine> lines = NormalisePages(text);
  WriteTextFile(env.InstallPath(workfile::kPreview), PreviewText(lines));

  const fs::path wb = env.InstallPath(workfile::kKaraoke);
  const fs::path temp = env.InstallPath(workfile::kTemp);
  if (!WriteKaraokeFile(env, wb, s.division, lines, song.angleMarked())) return 0;
  if (!CopyAndMerge(env, source, temp, env.InstallPath(workfile::kLog), wb, tune)) return 0;
  ctx.lyricScan.tune1000 = true;
  return 1;
}

// ---------------------------------------------------------------------------
// Lyric re-timing of the maker's songs

namespace {

// Beats and bars on the song's time signature.
struct BeatClock {
  uint64_t beatLen = 0;
  uint64_t beatsPerBar = 4;
  uint64_t beatStart = 0;
  uint64_t beatCount = 0;
  uint64_t barCount = 0;
  uint64_t beatInBar = 0;
  uint64_t barStart = 0;

  explicit BeatClock(int division) : beatLen(static_cast<uint64_t>(division > 0 ? division : 0)) {}

  void Advance(uint64_t t) {
    if (beatLen == 0 || t < beatStart + beatLen) return;
    const uint64_t beats = (t - beatStart) / beatLen;
    beatStart += beats * beatLen;
    beatCount += beats;
    beatInBar += beats;
    barCount += beatInBar / beatsPerBar;
    beatInBar %= beatsPerBar;
    barStart = beatStart - beatInBar * beatLen;
  }
  // An FF 58 counts only at a bar start.
  void Signature(uint64_t t, uint8_t numerator, uint8_t denominatorPower, int division) {
    Advance(t);
    if (t != barStart || beatInBar != 0 || division <= 0) return;
    const uint64_t quarterTimesFour = 4ull * static_cast<uint64_t>(division);
    const uint64_t denominator = denominatorPower < 32 ? (1ull << denominatorPower) : 0;
    const uint64_t len = denominator ? quarterTimesFour / denominator : 0;
    beatLen = len ? len : 1;
    beatsPerBar = numerator ? numerator : 1;
    beatStart = t;
  }
};

class Retimer {
 public:
  Retimer(MidiStreamReader& r, MidiFileWriter& w) : r_(r), w_(w), s_{BeatClock(r.division())} {}

  bool Run() {
    std::vector<uint8_t> ev;
    while (true) {
      r_.next_event(ev);
      if (r_.error()) return false;
      if (r_.end_of_song() || ev.empty()) {
        if (!measuring_) return true;
        // The song ended inside an instrumental passage: it is copied as it is.
        if (!Replay(false)) return false;
        continue;
      }
      const uint32_t t = r_.absolute_time();
      bool restart = Handle(ev, t);
      prevTime_ = t;
      ++index_;
      if (w_.stopped()) return false;
      if (restart && !Replay(true)) return false;
    }
  }

 private:
  struct State {
    BeatClock clock;
    int depth = 0;
    bool firstPageDone = false;
  };

  void Write(const std::vector<uint8_t>& ev, uint32_t t) { w_.write_event(ev, t); }

  // Returns true when an instrumental passage has been measured.
  bool Handle(std::vector<uint8_t>& ev, uint32_t t) {
    s_.clock.Advance(t);
    if (IsMeta(ev, 0x58) && ev.size() >= 5) s_.clock.Signature(t, ev[3], ev[4], r_.division());
    if (IsMeta(ev, 0x2F)) return false;
    const int kind = KaraokeKind(ev);

    if (measuring_) {
      if (kind == karaoke::kColourStep && ++measureKind8_ == 2) return true;
      return false;
    }

    if (plan_.active && Dots(ev, kind, t)) return false;

    // Pages that name channels instead of words.
    if (kind >= karaoke::kLine1 && kind <= karaoke::kLine4) {
      const bool label = is_channel_label(KaraokeText(ev));
      if (s_.depth > 0) {
        if (label) ++s_.depth;
        if (kind == karaoke::kLine4 && ev[1] == 7 && ev.size() > 7 && ev[7] == 10) s_.depth = 0;
        return false;
      }
      if (label) {
        if (kind == karaoke::kLine1) {
          s_.depth = 1;
          return false;
        }
        ev = {0xF0, 0x08, 0x00, 0x20, 0x24, 0x00, static_cast<uint8_t>(kind), 0x29, 0x0A, 0xF7};
      }
    } else if (s_.depth > 0 && kind == karaoke::kColourStep) {
      --s_.depth;
      return false;
    } else if (s_.depth > 0 && kind == karaoke::kControl) {
      return false;
    }

    if (!s_.firstPageDone && kind >= karaoke::kLine1 && kind <= karaoke::kLine4) {
      for (size_t i = 7; i < ev.size() && ev[i] != 0xF7; ++i) {
        if (ev[i] == '(' || ev[i] == ')') ev[i] = '-';
      }
      if (kind == karaoke::kLine4) s_.firstPageDone = true;
    }

    if (kind >= karaoke::kLine1 && kind <= karaoke::kLine4 && ev[1] > 18 && index_ != ignoreKeywordAt_ &&
        find_instrumental_keyword(ev) >= 0) {
      saved_ = s_;
      keyword_ = ev;
      keywordIndex_ = index_;
      keywordTime_ = t;
      keywordBeat_ = s_.clock.beatCount;
      keywordBar_ = s_.clock.barCount;
      measuring_ = true;
      measureKind8_ = 0;
      plan_ = {};
      return false;
    }
    Write(ev, t);
    return false;
  }

  // The count-in dots after an instrumental keyword; true when the event is
  // not to be copied.
  bool Dots(const std::vector<uint8_t>& ev, int kind, uint32_t t) {
    if (!plan_.on) {
      if (kind == karaoke::kColourStep && ++plan_.kind8 == plan_.switchOnAt) {
        plan_.on = true;
        plan_.lastUnit = Unit();
        plan_.number = 0;
      }
      return false;
    }
    if (kind == karaoke::kColourStep) {
      Write({0xB0, 0x1F, static_cast<uint8_t>(std::min(plan_.dots + 2, 127))}, t);
      plan_ = {};
      return false;
    }
    if (plan_.eventsToPass > 0) {
      --plan_.eventsToPass;
      plan_.lastUnit = Unit();
    } else if (Unit() > plan_.lastUnit) {
      plan_.lastUnit = Unit();
      if (++plan_.number > plan_.dots) {
        plan_ = {};
        return false;
      }
      Write({0xB0, 0x1F, static_cast<uint8_t>(plan_.number)}, prevTime_);
    }
    return ev.size() == 3 && ev[0] == 0xB0 && ev[1] == 0x1F && ev[2] == 0x7F;
  }

  uint64_t Unit() const { return plan_.perBar ? s_.clock.barCount : s_.clock.beatCount; }

  // Reads the song again up to the keyword message, writes it (with its
  // count-in when `counted`) and goes on after it.
  bool Replay(bool counted) {
    measuring_ = false;
    plan_ = {};
    if (counted) {
      const uint64_t beats = s_.clock.beatCount - keywordBeat_;
      if (beats <= 20) {
        plan_.dots = static_cast<int>(beats);
      } else {
        const uint64_t bars = s_.clock.barCount - keywordBar_;
        plan_.perBar = true;
        if (bars < 20) {
          plan_.dots = bars > 0 ? static_cast<int>(bars - 1) : 0;
        } else {
          plan_.dots = 20;
          plan_.eventsToPass = static_cast<int64_t>(bars - 20);
        }
      }
      plan_.active = true;
      plan_.switchOnAt = keyword_[6] - karaoke::kLine1 + 1;
    } else {
      ignoreKeywordAt_ = keywordIndex_;
    }
    if (!r_.rewind()) return false;
    std::vector<uint8_t> ev;
    for (uint64_t i = 0; i < keywordIndex_; ++i) {
      r_.next_event(ev);
      if (r_.error() || r_.end_of_song()) return false;
    }
    r_.next_event(ev);
    if (r_.error() || r_.end_of_song()) return false;
    s_ = saved_;
    if (counted) {
      std::vector<uint8_t> m = {0xF0, static_cast<uint8_t>(plan_.dots + 9), 0x00, 0x20, 0x24, 0x00, keyword_[6],
                                keyword_.size() > 7 ? keyword_[7] : static_cast<uint8_t>(' ')};
      m.insert(m.end(), static_cast<size_t>(plan_.dots), '~');
      m.insert(m.end(), {')', '\n', 0xF7});
      Write(m, keywordTime_);
    } else {
      Write(keyword_, keywordTime_);
    }
    prevTime_ = keywordTime_;
    index_ = keywordIndex_ + 1;
    return !w_.stopped();
  }

  MidiStreamReader& r_;
  MidiFileWriter& w_;
  State s_;
  State saved_{BeatClock(0)};
  uint64_t index_ = 0;
  uint32_t prevTime_ = 0;

  bool measuring_ = false;
  int measureKind8_ = 0;
  std::vector<uint8_t> keyword_;
  uint64_t keywordIndex_ = 0;
  uint32_t keywordTime_ = 0;
  uint64_t keywordBeat_ = 0;
  uint64_t keywordBar_ = 0;
  uint64_t ignoreKeywordAt_ = UINT64_MAX;

  struct Plan {
    bool active = false;
    bool on = false;
    bool perBar = false;
    int dots = 0;
    int number = 0;
    int switchOnAt = 1;
    int kind8 = 0;
    int64_t eventsToPass = 0;
    uint64_t lastUnit = 0;
  } plan_;
};

}  // namespace

bool retime_catalogue_lyrics(Env& env, const fs::path& input, const fs::path& output) {
  auto r = MidiStreamReader::open(env, input);
  if (!r) return false;
  auto w = MidiFileWriter::create(env, output, r->division());
  if (!w) return false;
  Retimer retimer(*r, *w);
  const bool ok = retimer.Run();
  return w->close() && ok;
}

}  // namespace kestro

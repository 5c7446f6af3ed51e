// Commands on Standard MIDI files: the merged event stream and the catalogue
// mark.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "convert/midi_reader.h"
#include "convert/song_event_list.h"

namespace kestro::cli {

namespace {

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

int MidiDump(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1 || UnknownOption(a)) return Usage("midi dump FILE");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  auto reader = MidiStreamReader::open(*env, a[0]);
  if (!reader) return ctx.Fail("cannot read " + a[0] + " as a MIDI file");
  std::printf("# format %d, tracks %d, division %d\n", reader->format(), reader->track_count(), reader->division());
  std::vector<uint8_t> event;
  std::string line;
  while (true) {
    reader->next_event(event);
    if (reader->end_of_song() || event.empty()) break;
    line = std::to_string(reader->absolute_time()) + " " + std::to_string(reader->current_track());
    char hex[4];
    for (uint8_t b : event) {
      std::snprintf(hex, sizeof hex, " %02x", b);
      line += hex;
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
    if (reader->error()) break;
  }
  // The reader has shown what went wrong.
  return reader->error() ? kFailed : kOk;
}

int MidiMark(Context& ctx, std::vector<std::string>& a) {
  if (a.size() != 1 || UnknownOption(a)) return Usage("midi mark FILE");
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  SongEventList list(*env);
  if (!list.load(a[0])) return kFailed;  // the loader has shown why
  int percent = list.catalogue_mark_percent();
  std::printf("%d\n", percent);
  return kOk;
}

}  // namespace

void RegisterMidiCommands(CommandTable& t) {
  t.push_back({{"midi", "dump"}, "FILE", "print the events of a MIDI file, all tracks merged in time order",
               "One line per event: absolute time in ticks, track (0-based), the event's\n"
               "bytes in hex (status first; meta and system-exclusive events with their\n"
               "length bytes). A first line starting with # gives format, tracks and\n"
               "division. Exit status 1 when the file is damaged (the reason is shown).",
               MidiDump});
  t.push_back({{"midi", "mark"}, "FILE", "print the catalogue mark of a MIDI file in percent (0: no mark)",
               "The share of the song's events that carry the mark of the maker's\n"
               "catalogue songs, as the import measures it.",
               MidiMark});
}

}  // namespace kestro::cli

// A MIDI or karaoke file from anywhere through the whole import: catalogue
// detection and pre-processing, the lyric detection, the conversion, the
// questions (answered Yes), then the packing. What the converter writes must
// be a MIDI file its own reader reads to the end without an error, at 480
// ticks per quarter note, one track.
#include <cstdlib>
#include <vector>

#include "context/fuzz/fuzz_support.h"
#include "convert/convert_context.h"
#include "convert/midi_reader.h"
#include "convert/mf4_converter.h"
#include "convert/package.h"
#include "convert/work_files.h"

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::FuzzEnv fe;
  const auto dir = fuzz::ScratchDir();
  auto source = fuzz::PutFile("song.kar", data, size);
  ConvertContext ctx;
  const auto content = dir / workfile::kContent;
  int r = import_midi_file(fe.env, ctx, source, content, true);
  if (r != kImportGoOn && r != kImportDeclined) std::abort();
  if (!ctx.outputWritten) return 0;

  auto reader = MidiStreamReader::open(fe.env, content);
  if (!reader || reader->format() != 0 || reader->division() != kMf4Division || reader->tracks_read() != 1)
    std::abort();
  std::vector<uint8_t> ev;
  size_t events = 0;
  while (!reader->end_of_song()) {
    reader->next_event(ev);
    if (++events > 4 * 1024 * 1024) std::abort();
  }
  if (reader->error() != 0) std::abort();

  if (pack(fe.env, ctx.header, content, dir / "song.MF4") != kPackDone) std::abort();
  return 0;
}

// The lyric tools over any file: the karaoke-message pre-scan, the detection
// of ordinary lyrics (which builds the karaoke messages and their pages) and
// the lyric re-timing of the maker's songs.
#include <cstdlib>

#include "context/fuzz/fuzz_support.h"
#include "convert/convert_context.h"
#include "convert/lyrics.h"
#include "convert/midi_reader.h"
#include "convert/mf4_converter.h"

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::FuzzEnv fe;
  const auto dir = fuzz::ScratchDir();
  auto source = fuzz::PutFile("song.mid", data, size);
  ConvertContext ctx;
  if (auto reader = MidiStreamReader::open(fe.env, source)) {
    prescan_lyrics(*reader, ctx.lyrics);
    if (ctx.lyrics.chords.size() > LyricTables::kChordCapacity || ctx.lyrics.items.size() > LyricTables::kItemCapacity)
      std::abort();
  }
  int found = detect_tune1000(fe.env, ctx, source);
  if (found != 0 && found != 1) std::abort();
  (void)retime_catalogue_lyrics(fe.env, source, dir / "retimed.mid");
  return 0;
}

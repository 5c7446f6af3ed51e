// The merged stream reader over any file: every event read whole, then again
// after a rewind into a buffer too small for the long ones. The reader must
// end (an event costs at least one byte of the file) and agree with itself.
#include <cstdlib>
#include <vector>

#include "context/fuzz/fuzz_support.h"
#include "convert/midi_reader.h"

using namespace kestro;

namespace {

// More events than this from a file of `size` bytes means the reader is
// going round in circles.
size_t EventBound(size_t size) { return 2 * size + 2 * kMidiMaxTracks + 16; }

struct Pass {
  std::vector<uint32_t> deltas;
  std::vector<size_t> lengths;
  int error = 0;
};

Pass ReadWhole(MidiStreamReader& r, size_t bound) {
  Pass p;
  std::vector<uint8_t> ev;
  while (!r.end_of_song()) {
    uint32_t peek = r.peek_delta();
    uint32_t d = r.next_event(ev);
    if (r.error() == 0 && !r.end_of_song() && d != peek) std::abort();  // peek must not differ from the read
    if (r.end_of_song()) break;
    p.deltas.push_back(d);
    p.lengths.push_back(ev.size());
    if (p.deltas.size() > bound) std::abort();
  }
  p.error = r.error();
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzEnv fe;
  auto path = fuzz::PutFile("input.mid", data, size);
  auto reader = MidiStreamReader::open(fe.env, path);
  if (!reader) return 0;
  const size_t bound = EventBound(size);
  Pass whole = ReadWhole(*reader, bound);

  // The same stream into a small fixed buffer: long events are cut, the
  // stream stays in step.
  if (!reader->rewind()) return 0;
  uint8_t small[8];
  size_t n = 0;
  for (;;) {
    size_t len = 0;
    uint32_t d = reader->next_event(small, len);
    if (reader->end_of_song()) break;
    if (reader->error() == 0 && n < whole.deltas.size() && (d != whole.deltas[n] || len != whole.lengths[n]))
      std::abort();
    if (reader->error() == 0 && reader->last_event_cut() != (len > sizeof small)) std::abort();
    (void)reader->bar_clock();
    (void)reader->absolute_time();
    if (++n > bound) std::abort();
  }
  if (reader->error() == 0 && whole.error == 0 && n != whole.deltas.size()) std::abort();
  if (reader->error() != whole.error) std::abort();
  return 0;
}

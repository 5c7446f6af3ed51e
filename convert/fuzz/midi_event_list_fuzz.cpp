// The whole-file event list over any file: load, walk every event, measure
// the catalogue mark. The list must stay sorted by time.
#include <cstdlib>

#include "context/fuzz/fuzz_support.h"
#include "convert/song_event_list.h"

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzEnv fe;
  auto path = fuzz::PutFile("input.mid", data, size);
  SongEventList list(fe.env);
  if (!list.load(path)) {
    if (list.size() != 0) std::abort();  // a failed load leaves the list empty
    return 0;
  }
  uint32_t last = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const SongEvent& e = list.at(i);
    if (e.time < last) std::abort();
    last = e.time;
    auto bytes = list.event_bytes(i);
    if (!list.is_long(i) && bytes.size() > 3) std::abort();
    (void)list.track_of(i);
  }
  int percent = list.catalogue_mark_percent();
  if (percent < 0 || percent > 100) std::abort();
  return 0;
}

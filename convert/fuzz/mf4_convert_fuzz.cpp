// A MIDI or karaoke file from anywhere through the whole import: catalogue
// detection and pre-processing, the lyric detection, the conversion, the
// questions (answered Yes), then the packing. What the converter writes must
// be MF4 content: a one-track file at 480 ticks per quarter note whose track
// starts with the uncounted marker FF 00 FF and whose counted length ends
// the file, every event of the track whole (note-offs in the compact
// two-byte form), the last one the end of the track.
#include <cstdlib>
#include <cstring>

#include "context/fuzz/fuzz_support.h"
#include "convert/convert_context.h"
#include "convert/mf4_converter.h"
#include "convert/package.h"
#include "convert/work_files.h"
#include "platform/fileutil.h"

using namespace kestro;

namespace {

// A delta or length as the writer puts it: up to five bytes (a delta past
// 28 bits takes the fifth, which the reader takes back too).
bool Vlq(const Bytes& b, size_t& at, uint32_t* value) {
  *value = 0;
  for (int i = 0; i < 5; ++i) {
    if (at >= b.size()) return false;
    uint8_t c = b[at++];
    *value = *value << 7 | (c & 0x7Fu);
    if (!(c & 0x80)) return true;
  }
  return false;
}

// Walks the events of MF4 track data [at, end); true when each is whole and
// the last is FF 2F 00 at the very end.
bool WholeMf4Track(const Bytes& b, size_t at) {
  bool ended = false;
  while (at < b.size()) {
    if (ended) return false;
    uint32_t delta = 0, length = 0;
    if (!Vlq(b, at, &delta) || at >= b.size()) return false;
    const uint8_t status = b[at++];
    size_t data = 0;
    if (status == 0xFF) {
      if (at >= b.size()) return false;
      const uint8_t type = b[at++];
      if (!Vlq(b, at, &length)) return false;
      ended = type == 0x2F;
      data = length;
    } else if (status == 0xF0 || status == 0xF7) {
      if (!Vlq(b, at, &length)) return false;
      data = length;
    } else if (status >= 0x80 && status < 0xF0) {
      const uint8_t kind = status & 0xF0;
      data = kind == 0x80 || kind == 0xC0 || kind == 0xD0 ? 1 : 2;
      for (size_t i = 0; i < data; ++i)
        if (at + i >= b.size() || (b[at + i] & 0x80)) return false;
    } else {
      return false;
    }
    if (data > b.size() - at) return false;
    at += data;
  }
  return ended;
}

}  // namespace

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

  auto bytes = ReadBinaryFile(content);
  if (!bytes || bytes->size() < 25) std::abort();
  const Bytes& b = *bytes;
  const uint8_t head[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kMf4Division >> 8, kMf4Division & 0xFF};
  if (std::memcmp(b.data(), head, sizeof head) != 0 || std::memcmp(b.data() + 14, "MTrk", 4) != 0) std::abort();
  const size_t counted = static_cast<size_t>(b[18]) << 24 | b[19] << 16 | b[20] << 8 | b[21];
  if (b[22] != 0xFF || b[23] != 0x00 || b[24] != 0xFF || b.size() != 25 + counted) std::abort();
  if (!WholeMf4Track(b, 25)) std::abort();

  if (pack(fe.env, ctx.header, content, dir / "song.MF4") != kPackDone) std::abort();
  return 0;
}

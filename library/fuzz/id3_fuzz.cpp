// Song texts from anywhere: the tag scan of an MP3 file and the header of an
// MF4 file, and the texts written back. Writing a tag never costs a byte of
// the audio behind it. The input is a title's length (one byte), the title,
// then the file.
#include <cstdlib>
#include <cstring>

#include "context/fuzz/fuzz_support.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"

using namespace kestro;
using namespace kestro::library;

namespace {

bool EndsWith(const Bytes& whole, const uint8_t* tail, size_t n) {
  return whole.size() >= n && (n == 0 || std::memcmp(whole.data() + whole.size() - n, tail, n) == 0);
}

// Where the audio of a file starts: after its tag (and a v2.4 footer), or at 0.
size_t AudioStart(const uint8_t* f, size_t size, bool* known) {
  *known = true;
  if (size < 10 || std::memcmp(f, "ID3", 3) != 0) return 0;
  size_t tag = (f[6] & 0x7Fu) << 21 | (f[7] & 0x7Fu) << 14 | (f[8] & 0x7Fu) << 7 | (f[9] & 0x7Fu);
  if (f[3] == 4 && (f[5] & 0x10)) *known = false;  // a footer: the rule is the writer's own
  return std::min(size, 10 + tag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::InputCursor in(data, size);
  SongTexts texts;
  texts.title = std::string(in.Take(in.Byte() & 0x3F));
  texts.performer = "PERFORMER";
  texts.genre = "POP";
  auto rest = in.Rest();
  const uint8_t* file = reinterpret_cast<const uint8_t*>(rest.data());
  const size_t n = rest.size();

  SongRecord mp3;
  mp3.fileName = "/songs/song.mp3";
  ReadSongTexts(mp3, file, n);
  SongRecord mf4;
  mf4.fileName = "/songs/song.MF4";
  ReadSongTexts(mf4, file, n);
  for (const SongRecord* r : {&mp3, &mf4}) {
    if (r->title.size() > kRecordTextMax || r->author.size() > kRecordTextMax || r->genre.size() > 32) std::abort();
  }
  for (const char* name : {"a.MP3", "a.MF4"}) {
    SongTexts t = ReadStoredTexts(name, file, n);
    for (const std::string* s : {&t.title, &t.performer, &t.genre, &t.editor, &t.author, &t.rights})
      if (s->size() > 31) std::abort();
  }

  const auto dir = fuzz::ScratchDir();
  auto path = fuzz::PutFile("song.mp3", file, n);
  if (!WriteSongTexts(path, texts, dir)) std::abort();
  auto written = ReadBinaryFile(path);
  if (!written) std::abort();
  bool known = false;
  size_t audio = AudioStart(file, n, &known);
  if (known && !EndsWith(*written, file + audio, n - audio)) std::abort();
  (void)ReadStoredTexts("song.mp3", written->data(), std::min(written->size(), kSongHeadBytes));

  auto mf4Path = fuzz::PutFile("song.MF4", file, n);
  bool ok = WriteSongTexts(mf4Path, texts, dir);
  if (ok != (n >= 512)) std::abort();
  if (ok) {
    auto back = ReadBinaryFile(mf4Path);
    if (!back || back->size() != n || std::memcmp(back->data() + 512, file + 512, n - 512) != 0) std::abort();
  }
  return 0;
}

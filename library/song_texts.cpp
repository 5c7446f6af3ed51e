#include "library/song_texts.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

constexpr size_t kStoredTextMax = 31;

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Cut(std::string s, size_t max) {
  size_t z = s.find('\0');
  if (z != std::string::npos) s.resize(z);
  if (s.size() > max) s.resize(max);
  return s;
}

// Text of a tag frame body (encoding byte first) as Latin-1.
std::string FrameText(const uint8_t* body, size_t n) {
  if (n == 0) return {};
  uint8_t enc = body[0];
  const uint8_t* p = body + 1;
  size_t len = n - 1;
  std::string out;
  if (enc == 1 || enc == 2) {
    bool big = enc == 2;
    size_t i = 0;
    if (len >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
      big = p[0] == 0xFE;
      i = 2;
    }
    for (; i + 1 < len; i += 2) {
      unsigned cu = big ? (p[i] << 8 | p[i + 1]) : (p[i] | p[i + 1] << 8);
      if (cu == 0) break;
      out += cu <= 0xFF ? static_cast<char>(cu) : '?';
    }
    return out;
  }
  out.assign(reinterpret_cast<const char*>(p), len);
  size_t z = out.find('\0');
  if (z != std::string::npos) out.resize(z);
  if (enc == 3) out = Utf8ToLatin1(out);
  return out;
}

const char* kFrameIds[] = {"TIT2", "TPE1", "TPUB", "TCOM", "TCOP", "TCON"};

// The six frame texts by the byte scan over the first bytes of the file: a
// frame id anywhere, its size from the lowest size byte, a later frame of
// the same id winning. Nothing is read past `size`.
void ScanFrames(const uint8_t* data, size_t size, std::string out[6], bool found[6]) {
  for (int k = 0; k < 6; ++k) found[k] = false;
  if (size < 4 || std::memcmp(data, "ID3", 3) != 0 || !(data[3] == 2 || data[3] == 3 || data[3] == 4)) return;
  size_t limit = std::min(size, kSongHeadBytes);
  for (size_t i = 0; i + 4 <= limit; ++i) {
    for (int k = 0; k < 6; ++k) {
      if (std::memcmp(data + i, kFrameIds[k], 4) != 0) continue;
      if (i + 7 >= size) continue;
      size_t n = data[i + 7];
      if (n == 0) continue;
      size_t start = i + 10;  // the encoding byte
      if (start >= size) continue;
      size_t avail = std::min(n, size - start);
      out[k] = FrameText(data + start, avail);
      found[k] = true;
    }
  }
}

}  // namespace

std::string ExtensionOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return UpperAscii(std::string(name.substr(dot + 1, 3)));
}

std::string BaseNameOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

void ReadSongTexts(SongRecord& r, const uint8_t* data, size_t size) {
  std::string ext = ExtensionOf(r.fileName);
  if (ext == "MF4") {
    auto field = [&](size_t at) { return at < size ? FieldText(data + at, std::min<size_t>(32, size - at)) : ""; };
    r.title = field(kMf4Title);
    r.author = field(kMf4Performer);
    r.genre = field(kMf4Genre);
    return;
  }
  if (ext != "MP3") return;
  std::string texts[6];
  bool found[6];
  texts[0] = BaseNameOf(r.fileName);
  texts[1] = "-";
  texts[5] = "-";
  std::string scanned[6];
  ScanFrames(data, size, scanned, found);
  for (int k = 0; k < 6; ++k) {
    if (found[k]) texts[k] = scanned[k];
  }
  r.title = RecordText(UpperAscii(texts[0]));
  r.author = RecordText(UpperAscii(texts[1]));
  r.publisher = RecordText(UpperAscii(texts[2]));
  r.composer = RecordText(UpperAscii(texts[3]));
  r.rightsText = RecordText(UpperAscii(texts[4]));
  r.genre = RecordText(UpperAscii(texts[5]));
}

SongTexts ReadStoredTexts(std::string_view path, const uint8_t* data, size_t size) {
  SongTexts t;
  if (ExtensionOf(path) == "MP3") {
    std::string scanned[6];
    bool found[6];
    ScanFrames(data, size, scanned, found);
    t.title = Cut(scanned[0], kStoredTextMax);
    t.performer = Cut(scanned[1], kStoredTextMax);
    t.editor = Cut(scanned[2], kStoredTextMax);
    t.author = Cut(scanned[3], kStoredTextMax);
    t.rights = Cut(scanned[4], kStoredTextMax);
    t.genre = Cut(scanned[5], kStoredTextMax);
    return t;
  }
  auto field = [&](size_t at) {
    return at < size ? FieldText(data + at, std::min<size_t>(32, size - at), kStoredTextMax) : "";
  };
  t.title = field(kMf4Title);
  t.performer = field(kMf4Performer);
  t.genre = field(kMf4Genre);
  t.editor = FieldText(data + std::min(kMf4Editor, size), size > kMf4Editor ? std::min<size_t>(30, size - kMf4Editor) : 0, 30);
  t.author = field(kMf4Author);
  t.rights = field(kMf4Rights);
  return t;
}

namespace {

// One text frame as the dialog writes it: id, size (text + encoding byte) in
// the last size byte, no flags, ISO-8859-1.
void AppendFrame(Bytes& out, const char* id, const std::string& text) {
  std::string t = Cut(text, kStoredTextMax);
  out.insert(out.end(), id, id + 4);
  out.push_back(0);
  out.push_back(0);
  out.push_back(0);
  out.push_back(static_cast<uint8_t>((t.size() + 1) & 0x7F));
  out.push_back(0);
  out.push_back(0);
  out.push_back(0);
  out.insert(out.end(), t.begin(), t.end());
}

Bytes OwnFrames(const SongTexts& t) {
  Bytes f;
  AppendFrame(f, "TIT2", t.title);
  AppendFrame(f, "TPE1", t.performer);
  AppendFrame(f, "TPUB", t.editor);
  AppendFrame(f, "TCOM", t.author);
  AppendFrame(f, "TCON", t.genre);
  AppendFrame(f, "TCOP", t.rights);
  return f;
}

uint32_t SyncSafe(const uint8_t* p) { return (p[0] & 0x7Fu) << 21 | (p[1] & 0x7Fu) << 14 | (p[2] & 0x7Fu) << 7 | (p[3] & 0x7Fu); }
void PutSyncSafe(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>((v >> 21) & 0x7F);
  p[1] = static_cast<uint8_t>((v >> 14) & 0x7F);
  p[2] = static_cast<uint8_t>((v >> 7) & 0x7F);
  p[3] = static_cast<uint8_t>(v & 0x7F);
}

// The frames of an existing v2.3/v2.4 tag that the dialog does not write,
// kept as they stand (cover pictures, albums, ...).
Bytes OtherFrames(const Bytes& tag, int version) {
  Bytes keep;
  size_t pos = 0;
  while (pos + 10 <= tag.size()) {
    const uint8_t* h = tag.data() + pos;
    if (h[0] == 0) break;  // padding
    bool idOk = true;
    for (int i = 0; i < 4; ++i) idOk = idOk && ((h[i] >= 'A' && h[i] <= 'Z') || (h[i] >= '0' && h[i] <= '9'));
    if (!idOk) break;
    uint32_t n = version == 4 ? SyncSafe(h + 4) : (uint32_t(h[4]) << 24 | uint32_t(h[5]) << 16 | uint32_t(h[6]) << 8 | h[7]);
    if (n > tag.size() - pos - 10) break;
    bool ours = false;
    for (const char* id : kFrameIds) ours = ours || std::memcmp(h, id, 4) == 0;
    if (!ours) keep.insert(keep.end(), h, h + 10 + n);
    pos += 10 + n;
  }
  return keep;
}

bool WriteMp3Texts(const fs::path& path, const SongTexts& texts, const fs::path& scratchDir) {
  auto file = ReadBinaryFile(path);
  if (!file) return false;
  const Bytes& f = *file;
  Bytes frames = OwnFrames(texts);
  bool hasTag = f.size() >= 10 && std::memcmp(f.data(), "ID3", 3) == 0;
  if (!hasTag) {
    // A new tag of 1,024 bytes in front of the audio.
    Bytes out = {0x49, 0x44, 0x33, 0x03, 0x00, 0x00, 0x00, 0x00, 0x07, 0x76};
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(1024, 0);
    out.insert(out.end(), f.begin(), f.end());
    fs::path tmp = scratchDir / "temp.mp3";
    if (!WriteBinaryFile(tmp, out)) return false;
    bool ok = CopyFileOver(tmp, path);
    RemoveFile(tmp);
    return ok;
  }
  int version = f[3];
  uint8_t flags = f[5];
  uint32_t tagSize = SyncSafe(f.data() + 6);
  size_t tagEnd = std::min<size_t>(10 + static_cast<size_t>(tagSize), f.size());
  Bytes body(f.begin() + 10, f.begin() + static_cast<long>(tagEnd));
  bool simple = (version == 3 || version == 4) && (flags & 0xC0) == 0;
  if (simple) {
    Bytes others = OtherFrames(body, version);
    frames.insert(frames.end(), others.begin(), others.end());
  }
  if (simple && frames.size() <= body.size()) {
    // Fits: written in place, the rest of the tag becomes padding.
    Bytes out = f;
    std::copy(frames.begin(), frames.end(), out.begin() + 10);
    std::fill(out.begin() + 10 + static_cast<long>(frames.size()), out.begin() + static_cast<long>(tagEnd), 0);
    return WriteFileAtomic(path, std::string(out.begin(), out.end()));
  }
  // Does not fit (or a tag we do not rewrite frame by frame): a new tag,
  // grown to whole kilobytes, in front of the same audio.
  size_t newSize = ((frames.size() + 10 + 1023) / 1024) * 1024 - 10;
  Bytes out = {0x49, 0x44, 0x33, static_cast<uint8_t>(simple ? version : 3), 0x00, 0x00, 0, 0, 0, 0};
  PutSyncSafe(out.data() + 6, static_cast<uint32_t>(newSize));
  out.insert(out.end(), frames.begin(), frames.end());
  out.resize(10 + newSize, 0);
  size_t audio = tagEnd;
  if (version == 4 && (flags & 0x10) && audio + 10 <= f.size()) audio += 10;  // footer
  out.insert(out.end(), f.begin() + static_cast<long>(audio), f.end());
  return WriteFileAtomic(path, std::string(out.begin(), out.end()));
}

void PutField(Bytes& header, size_t at, size_t size, const std::string& text) {
  std::string t = Cut(text, size - 1);
  std::fill(header.begin() + static_cast<long>(at), header.begin() + static_cast<long>(at + size), 0);
  std::copy(t.begin(), t.end(), header.begin() + static_cast<long>(at));
}

bool WriteMf4Texts(const fs::path& path, const SongTexts& t) {
  auto file = ReadBinaryFile(path);
  if (!file || file->size() < 512) return false;
  Bytes f = *file;
  PutField(f, kMf4Title, 32, t.title);
  PutField(f, kMf4Performer, 32, t.performer);
  PutField(f, kMf4Genre, 32, t.genre);
  PutField(f, kMf4Editor, 31, t.editor);  // the byte at 184 stays 0
  PutField(f, kMf4Author, 32, t.author);
  PutField(f, kMf4Rights, 32, t.rights);
  return WriteFileAtomic(path, std::string(f.begin(), f.end()));
}

}  // namespace

bool WriteSongTexts(const fs::path& path, const SongTexts& texts, const fs::path& scratchDir) {
  // A file its owner made read-only stays as it is, also for a user (root)
  // whom the system would let write it.
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (ec || !fs::is_regular_file(st)) return false;
  if ((st.permissions() & fs::perms::owner_write) == fs::perms::none) return false;
  if (ExtensionOf(path.string()) == "MP3") return WriteMp3Texts(path, texts, scratchDir);
  return WriteMf4Texts(path, texts);
}

}  // namespace kestro::library

#include "convert/package.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "convert/lzhuf.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Header record

void PackageHeader::ResetToInitial() {
  bytes.fill(0);
  SetMagic(kMagicMf4);
  SetU32(Offset::kWord8, kHeaderInitialWord);
  bytes[Offset::kByte27] = 99;
  bytes[Offset::kByte35] = 3;
  SetU16(Offset::kWord36, 100);
  SetU16(Offset::kTempo, 120);
  SetFileName("Untitled");
}

void PackageHeader::ClearForConversion() {
  bytes.fill(0);
  SetMagic(kMagicMf4);
  SetChannelTablesNone();
}

void PackageHeader::SetChannelTablesNone() {
  for (int c = 0; c < kChannels; ++c) {
    SetProgram(c, kNoValue);
    SetBank(c, kNoValue);
    SetVolume(c, kNoValue);
    SetPan(c, kNoValue);
    SetReverb(c, kNoValue);
    SetChorus(c, kNoValue);
  }
}

std::string PackageHeader::Magic() const { return Text(Offset::kMagic, 4); }

void PackageHeader::SetMagic(std::string_view magic) {
  for (size_t i = 0; i < 4; ++i) bytes[Offset::kMagic + i] = i < magic.size() ? static_cast<uint8_t>(magic[i]) : 0;
}

uint16_t PackageHeader::U16(size_t off) const {
  return static_cast<uint16_t>(bytes[off] | bytes[off + 1] << 8);
}

uint32_t PackageHeader::U32(size_t off) const {
  return static_cast<uint32_t>(bytes[off]) | static_cast<uint32_t>(bytes[off + 1]) << 8 |
         static_cast<uint32_t>(bytes[off + 2]) << 16 | static_cast<uint32_t>(bytes[off + 3]) << 24;
}

void PackageHeader::SetU16(size_t off, uint16_t v) {
  bytes[off] = static_cast<uint8_t>(v);
  bytes[off + 1] = static_cast<uint8_t>(v >> 8);
}

void PackageHeader::SetU32(size_t off, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) bytes[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string PackageHeader::Text(size_t off, size_t width) const {
  std::string s;
  for (size_t i = 0; i < width && bytes[off + i] != 0; ++i) s += static_cast<char>(bytes[off + i]);
  return s;
}

void PackageHeader::SetText(size_t off, size_t width, std::string_view s) {
  size_t n = 0;
  while (n + 1 < width && n < s.size() && s[n] != '\0') ++n;
  for (size_t i = 0; i < width; ++i) bytes[off + i] = i < n ? static_cast<uint8_t>(s[i]) : 0;
}

size_t PackageHeader::ProgramAt(int channel) {
  return Offset::kProgramTable + 9 * static_cast<size_t>(channel & (kChannels - 1));
}

size_t PackageHeader::MixerAt(int channel) {
  return Offset::kMixerTable + 4 * static_cast<size_t>(channel & (kChannels - 1));
}

// ---------------------------------------------------------------------------
// Pack and unpack

namespace {

// A path as a text of the suite (Latin-1), for messages and header fields.
std::string PathText(const fs::path& p) {
  std::string s = p.string();
  return IsValidUtf8(s) ? Utf8ToLatin1(s) : s;
}

// The whole file; false when it cannot be opened or read.
bool ReadWholeFile(const fs::path& path, Bytes& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  size_t have = 0;
  bool ok = true;
  // One read of the expected size (and one more to see the end); a file
  // that grows meanwhile or has no size is read on in growing chunks.
  struct stat st {};
  size_t first = ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 0;
  for (size_t chunk = std::max(first, size_t{1} << 16);;) {
    out.resize(have + chunk);
    size_t n = std::fread(out.data() + have, 1, chunk, f);
    have += n;
    if (n < chunk) {
      ok = !std::ferror(f);
      break;
    }
    if (chunk < (size_t{1} << 24)) chunk *= 2;
  }
  std::fclose(f);
  out.resize(have);
  return ok;
}

// Only a plain file is ours to remove; a device or pipe stays.
void RemovePartialFile(const fs::path& path) {
  std::error_code ec;
  if (fs::is_regular_file(fs::symlink_status(path, ec))) fs::remove(path, ec);
}

enum class WriteResult { Done, CantCreate, WriteFailed };

// Creates (or truncates) the file and writes data; a file that could not be
// written completely is removed again.
WriteResult WriteWholeFile(const fs::path& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return WriteResult::CantCreate;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    RemovePartialFile(path);
    return WriteResult::WriteFailed;
  }
  return WriteResult::Done;
}

}  // namespace

bool ReadPackageSource(Env& env, const fs::path& source, Bytes& content) {
  // The size word holds 32 bits; a larger source is refused before reading.
  std::error_code ec;
  uint64_t size = fs::is_regular_file(source, ec) ? fs::file_size(source, ec) : 0;
  if (ec || size > lzhuf::kMaxDataSize || !ReadWholeFile(source, content) || content.size() > lzhuf::kMaxDataSize) {
    ReportReadError(env, PathText(source));
    return false;
  }
  return true;
}

namespace {

// The header (sizes not yet filled in) and the body of a package, handed to
// `sink` as they are made; the header with its sizes, or nothing when the
// sink refused a piece or the package would be too large to describe.
std::optional<PackageHeader> EncodePackage(const PackageHeader& header, const Bytes& data,
                                           const lzhuf::Encoder::Sink& sink) {
  if (data.size() > lzhuf::kMaxDataSize) return std::nullopt;
  PackageHeader written = header;
  uint64_t packageSize = PackageHeader::kSize;
  if (!sink(written.bytes.data(), PackageHeader::kSize)) return std::nullopt;
  auto encoder = std::make_unique<lzhuf::Encoder>();
  const bool encoded = encoder->Encode(data.data(), data.size(), [&](const uint8_t* bytes, size_t count) {
    packageSize += count;
    return sink(bytes, count);
  });
  if (!encoded || packageSize > 0xFFFFFFFFu) return std::nullopt;
  written.SetUnpackedSize(static_cast<uint32_t>(data.size()));
  written.SetPackageSize(static_cast<uint32_t>(packageSize));
  return written;
}

}  // namespace

bool WritePackage(PackageHeader& header, const Bytes& data, const fs::path& package) {
  if (data.size() > lzhuf::kMaxDataSize) return false;
  // The body goes to the package as it is made, after room for the header;
  // the header follows with the sizes filled in, and the caller's record
  // takes them only once the package is on disk.
  std::FILE* f = std::fopen(package.c_str(), "wb");
  if (!f) return false;
  const auto written = EncodePackage(header, data, [f](const uint8_t* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, f) == count;
  });
  bool ok = written && std::fseek(f, 0, SEEK_SET) == 0 &&
            std::fwrite(written->bytes.data(), 1, PackageHeader::kSize, f) == PackageHeader::kSize;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    RemovePartialFile(package);
    return false;
  }
  header = *written;
  return true;
}

bool ReplacePackage(PackageHeader& header, const Bytes& data, const fs::path& package) {
  std::string whole;
  const auto written = EncodePackage(header, data, [&whole](const uint8_t* bytes, size_t count) {
    whole.append(reinterpret_cast<const char*>(bytes), count);
    return true;
  });
  if (!written) return false;
  whole.replace(0, PackageHeader::kSize, reinterpret_cast<const char*>(written->bytes.data()), PackageHeader::kSize);
  if (!WriteFileAtomic(package, whole)) return false;
  header = *written;
  return true;
}

void ReportPackageWriteError(Env& env, const fs::path& package) { ReportWriteError(env, PathText(package)); }

int pack(Env& env, PackageHeader& header, const fs::path& source, const fs::path& package) {
  Bytes data;
  if (!ReadPackageSource(env, source, data)) return kPackFailed;
  if (!WritePackage(header, data, package)) {
    ReportPackageWriteError(env, package);
    return kPackFailed;
  }
  return kPackDone;
}

int pack_with_names(Env& env, PackageHeader& header, const fs::path& source, const fs::path& package,
                    std::string_view name) {
  header.SetFileName(PathText(source));
  header.SetTitle(name);
  header.SetEditor("-");
  header.SetAuthor("-");
  header.SetPerformer("-");
  header.SetGenre("-");
  header.SetTempo(0);
  header.SetMarkersFlag(0);
  return pack(env, header, source, package);
}

int unpack(Env& env, PackageHeader& header, const fs::path& package, const fs::path& content) {
  Bytes file;
  Bytes out;
  bool ok = ReadWholeFile(package, file) && file.size() >= PackageHeader::kSize + lzhuf::kSizeWordBytes;
  if (ok) {
    // Decode fully before creating the content file, so that a damaged
    // package leaves nothing half written behind.
    auto decoder = std::make_unique<lzhuf::Decoder>();
    ok = decoder->Decode(file.data() + PackageHeader::kSize, file.size() - PackageHeader::kSize, out) ==
         lzhuf::DecodeStatus::Ok;
  }
  if (!ok) {
    ReportReadError(env, PathText(package));
    return kPackFailed;
  }
  if (WriteWholeFile(content, out) != WriteResult::Done) {
    ReportWriteError(env, PathText(content));
    return kPackFailed;
  }
  std::memcpy(header.bytes.data(), file.data(), PackageHeader::kSize);
  return kPackDone;
}

void set_check_caption(Env& env, std::string_view text) { env.ui.SetMessageCheckText(text); }

void set_check_state(Env& env, int state) { env.ui.SetMessageCheckState(state != 0); }

}  // namespace kestro

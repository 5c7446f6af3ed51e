#include "playback/wav_file.h"

#include <vector>

namespace kestro {

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerFrame = 2 * kChannels;
constexpr size_t kHeaderBytes = 44;
// The RIFF sizes are 32-bit.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void Le16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Le32(std::vector<uint8_t>& v, uint32_t x) {
  Le16(v, x & 0xFFFF);
  Le16(v, x >> 16);
}
void Tag(std::vector<uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }

std::vector<uint8_t> Header(int rate, uint32_t dataBytes) {
  std::vector<uint8_t> h;
  Tag(h, "RIFF");
  Le32(h, dataBytes + kHeaderBytes - 8);
  Tag(h, "WAVE");
  Tag(h, "fmt ");
  Le32(h, 16);
  Le16(h, 1);  // PCM
  Le16(h, kChannels);
  Le32(h, static_cast<uint32_t>(rate));
  Le32(h, static_cast<uint32_t>(rate) * kBytesPerFrame);
  Le16(h, kBytesPerFrame);
  Le16(h, 16);
  Tag(h, "data");
  Le32(h, dataBytes);
  return h;
}

}  // namespace

std::unique_ptr<WavWriter> WavWriter::Create(const std::filesystem::path& path, int sampleRate) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return nullptr;
  std::unique_ptr<WavWriter> w(new WavWriter(f, sampleRate));
  const auto h = Header(sampleRate, 0);
  if (std::fwrite(h.data(), 1, h.size(), f) != h.size()) w->failed_ = true;
  return w;
}

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Write(const int16_t* frames, size_t count) {
  if (!file_ || failed_) return false;
  if ((frames_ + count) * kBytesPerFrame > kMaxDataBytes) {
    failed_ = true;
    return false;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(count * kBytesPerFrame);
  for (size_t i = 0; i < count * kChannels; ++i) Le16(bytes, static_cast<uint16_t>(frames[i]));
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    failed_ = true;
    return false;
  }
  frames_ += count;
  return true;
}

bool WavWriter::Close() {
  if (!file_) return false;
  const auto h = Header(rate_, static_cast<uint32_t>(frames_ * kBytesPerFrame));
  if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h.data(), 1, h.size(), file_) != h.size()) failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace kestro

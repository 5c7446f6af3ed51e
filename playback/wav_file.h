// A 16-bit stereo PCM WAV file, written as the sound comes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace kestro {

class WavWriter {
 public:
  // Nothing when the file cannot be created.
  static std::unique_ptr<WavWriter> Create(const std::filesystem::path& path, int sampleRate);
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool Write(const int16_t* frames, size_t count);
  // Fills in the sizes and closes the file; false when anything could not
  // be written.
  bool Close();
  uint64_t Frames() const { return frames_; }

 private:
  WavWriter(std::FILE* f, int rate) : file_(f), rate_(rate) {}
  std::FILE* file_;
  int rate_;
  uint64_t frames_ = 0;
  bool failed_ = false;
};

}  // namespace kestro

#include "playback/mp3_source.h"

#include <mpg123.h>

#include <mutex>

namespace kestro {

namespace {

class Mp3Source final : public SoundSource {
 public:
  Mp3Source(mpg123_handle* h, int rate) : h_(h), rate_(rate) {}
  ~Mp3Source() override {
    mpg123_close(h_);
    mpg123_delete(h_);
  }
  Mp3Source(const Mp3Source&) = delete;
  Mp3Source& operator=(const Mp3Source&) = delete;

  int SampleRate() const override { return rate_; }

  size_t Render(int16_t* out, size_t frames) override {
    unsigned char* dst = reinterpret_cast<unsigned char*>(out);
    const size_t want = frames * kFrameBytes;
    size_t got = 0;
    while (!ended_ && got < want) {
      size_t done = 0;
      const int r = mpg123_read(h_, dst + got, want - got, &done);
      got += done;
      // A damaged frame further on ends the song there.
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT) ended_ = true;
      if (r == MPG123_OK && done == 0) ended_ = true;
    }
    return got / kFrameBytes;
  }

 private:
  static constexpr size_t kFrameBytes = 4;
  mpg123_handle* h_;
  int rate_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<SoundSource> OpenMp3(const std::filesystem::path& path) {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) return nullptr;
  auto fail = [&] {
    mpg123_close(h);
    mpg123_delete(h);
    return nullptr;
  };
  // Quiet (the user hears of a failure as a message), mono made stereo, and
  // only 16-bit output at whatever rate the file has.
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO, 0);
  mpg123_format_none(h);
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i) mpg123_format(h, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(h, path.c_str()) != MPG123_OK) return fail();
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels != 2 ||
      encoding != MPG123_ENC_SIGNED_16) {
    return fail();
  }
  return std::make_unique<Mp3Source>(h, static_cast<int>(rate));
}

}  // namespace kestro

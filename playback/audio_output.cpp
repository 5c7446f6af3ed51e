#include "playback/audio_output.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>

namespace kestro {

namespace {

constexpr int kChannels = 2;
constexpr size_t kFrameBytes = 2 * kChannels;
constexpr uint16_t kBufferFrames = 2048;

}  // namespace

AudioOutput::~AudioOutput() {
  Close();
  if (systemUp_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioOutput::Pull(void* self, uint8_t* stream, int len) {
  auto* out = static_cast<AudioOutput*>(self);
  const size_t frames = static_cast<size_t>(len) / kFrameBytes;
  size_t got = 0;
  if (!out->ended_.load()) {
    got = out->source_->Render(reinterpret_cast<int16_t*>(stream), frames);
    out->frames_.fetch_add(got);
    if (got < frames) out->ended_.store(true);
  }
  std::memset(stream + got * kFrameBytes, 0, (frames - got) * kFrameBytes);
}

int AudioOutput::Open(SoundSource& source) {
  Close();
  if (!systemUp_) {
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Kestro");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Song");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return kPlayNoAudioSystem;
    systemUp_ = true;
  }
  source_ = &source;
  rate_ = source.SampleRate();
  frames_.store(0);
  ended_.store(false);
  SDL_AudioSpec want{};
  want.freq = rate_;
  want.format = AUDIO_S16SYS;
  want.channels = kChannels;
  want.samples = kBufferFrames;
  want.callback = &AudioOutput::Pull;
  want.userdata = this;
  SDL_AudioSpec have{};
  // SDL converts to whatever the device takes.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    source_ = nullptr;
    return kPlayNoDevice;
  }
  bufferFrames_ = have.samples;
  return kPlayOk;
}

int AudioOutput::Start() {
  if (device_ == 0) return kPlayNoDevice;
  SDL_PauseAudioDevice(device_, 0);
  return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING ? kPlayOk : kPlayNoDevice;
}

void AudioOutput::Close() {
  if (device_ != 0) SDL_CloseAudioDevice(device_);
  device_ = 0;
  source_ = nullptr;
}

double AudioOutput::Seconds() const {
  if (rate_ <= 0) return 0;
  const uint64_t f = frames_.load();
  const uint64_t heard = ended_.load() ? f : (f > bufferFrames_ ? f - bufferFrames_ : 0);
  return static_cast<double>(heard) / rate_;
}

}  // namespace kestro

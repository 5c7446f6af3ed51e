#include "playback/midi_synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <mutex>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

namespace {

// FluidSynth's own diagnostics would land on the terminal of a windowed
// program; what matters reaches the user as a message.
void QuietFluidSynth() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      fluid_set_log_function(level, nullptr, nullptr);
    }
  });
}

// After the song's last event the sound fades out over this many frames
// (the synthesizer alone would wait for the last voice to die away).
constexpr size_t kTailFrames = GmSynth::kSampleRate / 4;

class MidiSource final : public SoundSource {
 public:
  MidiSource(fluid_synth_t* synth, fluid_player_t* player) : synth_(synth), player_(player) {}
  ~MidiSource() override {
    fluid_player_stop(player_);
    delete_fluid_player(player_);
    fluid_synth_all_sounds_off(synth_, -1);
    fluid_synth_system_reset(synth_);
  }
  MidiSource(const MidiSource&) = delete;
  MidiSource& operator=(const MidiSource&) = delete;

  int SampleRate() const override { return GmSynth::kSampleRate; }

  size_t Render(int16_t* out, size_t frames) override {
    const bool fading = tailLeft_ < kTailFrames || SongOver();
    const size_t n = fading ? std::min(frames, tailLeft_) : frames;
    if (n == 0) return 0;
    fluid_synth_write_s16(synth_, static_cast<int>(n), out, 0, 2, out, 1, 2);
    if (fading) {
      for (size_t i = 0; i < n; ++i) {
        const double gain = static_cast<double>(tailLeft_ - i) / kTailFrames;
        out[2 * i] = static_cast<int16_t>(out[2 * i] * gain);
        out[2 * i + 1] = static_cast<int16_t>(out[2 * i + 1] * gain);
      }
      tailLeft_ -= n;
    }
    return n;
  }

 private:
  bool SongOver() const {
    if (fluid_player_get_status(player_) != FLUID_PLAYER_PLAYING) return true;
    const int total = fluid_player_get_total_ticks(player_);
    return total > 0 && fluid_player_get_current_tick(player_) >= total;
  }

  fluid_synth_t* synth_;
  fluid_player_t* player_;
  size_t tailLeft_ = kTailFrames;
};

}  // namespace

struct GmSynth::Fluid {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  ~Fluid() {
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }
};

GmSynth::GmSynth(std::unique_ptr<Fluid> fluid) : fluid_(std::move(fluid)) {}
GmSynth::~GmSynth() = default;

std::optional<fs::path> FindSoundFont(const Env& env) {
  const std::string chosen = env.GetText(settings::kSoundFont);
  if (!chosen.empty()) return fs::path(chosen);
  std::error_code ec;
  for (const char* place : kSoundFontPlaces) {
    if (fs::is_regular_file(place, ec)) return fs::path(place);
  }
  return std::nullopt;
}

std::unique_ptr<GmSynth> GmSynth::Load(const fs::path& soundFont) {
  QuietFluidSynth();
  std::error_code ec;
  if (!fs::is_regular_file(soundFont, ec)) return nullptr;
  auto f = std::make_unique<Fluid>();
  f->settings = new_fluid_settings();
  if (!f->settings) return nullptr;
  fluid_settings_setnum(f->settings, "synth.sample-rate", kSampleRate);
  fluid_settings_setnum(f->settings, "synth.gain", 0.4);
  fluid_settings_setint(f->settings, "synth.lock-memory", 0);
  // The player moves on with the sound rendered, not with the wall clock:
  // the same song gives the same sound on a sound card and in a file.
  fluid_settings_setstr(f->settings, "player.timing-source", "sample");
  f->synth = new_fluid_synth(f->settings);
  if (!f->synth) return nullptr;
  if (fluid_synth_sfload(f->synth, soundFont.c_str(), 1) == FLUID_FAILED) return nullptr;
  std::unique_ptr<GmSynth> s(new GmSynth(std::move(f)));
  s->soundFont_ = soundFont;
  return s;
}

std::unique_ptr<SoundSource> GmSynth::Play(std::span<const uint8_t> midi) {
  fluid_synth_system_reset(fluid_->synth);
  fluid_player_t* player = new_fluid_player(fluid_->synth);
  if (!player) return nullptr;
  // The player keeps its own copy of the bytes.
  if (fluid_player_add_mem(player, midi.data(), midi.size()) != FLUID_OK || fluid_player_play(player) != FLUID_OK) {
    delete_fluid_player(player);
    return nullptr;
  }
  return std::make_unique<MidiSource>(fluid_->synth, player);
}

}  // namespace kestro

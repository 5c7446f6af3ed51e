#include "playback/playback.h"

#include <vector>

#include "convert/event_stream.h"
#include "convert/package.h"
#include "playback/mp3_source.h"
#include "playback/wav_file.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

// Decided by the extension: a folder named "MP3" holds MF4 songs too.
bool IsMp3(const fs::path& song) {
  std::string ext = song.extension().string();
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext == ".MP3";
}

// The intermediate files go however the preparation ends.
class PlayFiles {
 public:
  explicit PlayFiles(const Env& env) : stream(env.InstallPath(kPlayStream)), midi(env.InstallPath(kPlayMidi)) {}
  ~PlayFiles() {
    RemoveFile(stream);
    RemoveFile(midi);
  }
  PlayFiles(const PlayFiles&) = delete;
  PlayFiles& operator=(const PlayFiles&) = delete;
  const fs::path stream;
  const fs::path midi;
};

constexpr size_t kRenderFrames = 4096;

}  // namespace

Playback::Playback(Env& env, PlaybackView* view) : env_(env), view_(view) {}

Playback::~Playback() {
  output_.Close();
  source_.reset();
}

std::optional<PreparedSong> Playback::Prepare(const fs::path& song) {
  PreparedSong p;
  p.path = song;
  if (IsMp3(song)) {
    p.mp3 = true;
    return p;
  }
  PlayFiles files(env_);
  PackageHeader header;
  if (unpack(env_, header, song, files.stream) != kPackDone) return std::nullopt;
  auto stream = ReadBinaryFile(files.stream);
  if (!stream) return std::nullopt;
  // MF4 content carries the FF 00 FF marker after its headers; content
  // without it starts its events right there.
  const size_t offset = StreamEventsOffset(*stream);
  if (ConvertStreamToMidi(env_, files.midi, files.stream, offset == kStreamHeaderWithMarker, false) != 1) {
    return std::nullopt;
  }
  auto midi = ReadBinaryFile(files.midi);
  if (!midi) return std::nullopt;
  p.midi = std::move(*midi);
  p.karaoke = std::make_shared<const KaraokeTimeline>(
      KaraokeTimeline::FromStream(*stream, offset, header.Title(), header.Performer()));
  return p;
}

std::unique_ptr<SoundSource> Playback::OpenSource(const PreparedSong& song, int& error) {
  error = kPlayOk;
  if (song.mp3) {
    auto s = OpenMp3(song.path);
    if (!s) error = kPlayUndecodable;
    return s;
  }
  auto font = FindSoundFont(env_);
  if (!font) {
    error = kPlayNoSoundFont;
    return nullptr;
  }
  // A loaded SoundFont stays for the next song.
  if (!synth_ || synth_->SoundFont() != *font) {
    synth_.reset();
    synth_ = GmSynth::Load(*font);
    if (!synth_) {
      error = kPlayNoSoundFont;
      return nullptr;
    }
  }
  auto s = synth_->Play(song.midi);
  if (!s) error = kPlayUndecodable;
  return s;
}

void Playback::ShowPlayError(int code) {
  env_.ui.ShowMessage(env_.TF("MSG_PLAY_ERROR", code), env_.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
}

bool Playback::PlaySong(const fs::path& song) {
  StopPlayback();
  env_.clock.SleepMs(50);
  auto prepared = Prepare(song);
  if (!prepared) return false;
  if (view_) view_->ShowPlayControls(true);

  int error = kPlayOk;
  source_ = OpenSource(*prepared, error);
  if (source_) error = output_.Open(*source_);
  if (error == kPlayOk) error = output_.Start();
  if (error != kPlayOk) {
    ShowPlayError(error);
    StopPlayback();
    return false;
  }
  karaoke_ = prepared->karaoke;
  started_ = true;
  return true;
}

void Playback::StopPlayback() {
  output_.Close();
  source_.reset();
  karaoke_.reset();
  started_ = false;
  if (view_) view_->ShowPlayControls(false);
}

bool Playback::Playing() const { return started_ && output_.IsOpen() && !output_.Ended(); }

bool Playback::Ended() const { return started_ && output_.Ended(); }

double Playback::PositionSeconds() const { return started_ ? output_.Seconds() : 0.0; }

bool Playback::RenderToWav(const fs::path& song, const fs::path& wav) {
  StopPlayback();
  auto prepared = Prepare(song);
  if (!prepared) return false;
  int error = kPlayOk;
  auto source = OpenSource(*prepared, error);
  if (!source) {
    ShowPlayError(error);
    return false;
  }
  auto writer = WavWriter::Create(wav, source->SampleRate());
  if (!writer) {
    ReportWriteError(env_, wav.string());
    return false;
  }
  std::vector<int16_t> buffer(kRenderFrames * 2);
  bool ok = true;
  for (;;) {
    const size_t n = source->Render(buffer.data(), kRenderFrames);
    if (n > 0 && !writer->Write(buffer.data(), n)) {
      ok = false;
      break;
    }
    if (n < kRenderFrames) break;
  }
  if (!writer->Close()) ok = false;
  if (!ok) {
    RemoveFile(wav);
    ReportWriteError(env_, wav.string());
  }
  return ok;
}

}  // namespace kestro

// The window with its songs for the playback tests: event streams of
// MF4 songs made by hand, a window with an install folder, a PC song folder
// and a floppy folder and no player, whose message boxes the test answers,
// and the sound output chosen for a test.
#pragma once

#include <QAction>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <memory>

#include "convert/karaoke.h"
#include "convert/package.h"
#include "gui/commands.h"
#include "gui/main_window.h"
#include "gui/picture_button.h"
#include "gui/qt_ui.h"
#include "gui/song_list_view.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro::gui::playtest {

namespace fs = std::filesystem;

using Bytes8 = std::vector<uint8_t>;

// An event stream as the package decoder gives it: the MF4 headers and
// marker, then events at absolute ticks (480 a quarter note, 120 a minute:
// 960 ticks a second).
struct Stream {
  Bytes8 bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0, 0xFF, 0x00, 0xFF};
  uint32_t last = 0;
  Stream() { At(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}).At(0, {0xC0, 0x00}); }
  Stream& At(uint32_t t, const Bytes8& ev) {
    uint32_t d = t - last;
    Bytes8 vlq = {static_cast<uint8_t>(d & 0x7F)};
    while (d >>= 7) vlq.insert(vlq.begin(), static_cast<uint8_t>(0x80 | (d & 0x7F)));
    bytes.insert(bytes.end(), vlq.begin(), vlq.end());
    bytes.insert(bytes.end(), ev.begin(), ev.end());
    last = t;
    return *this;
  }
  Stream& Line(uint32_t t, int line, const std::string& text) {
    return At(t, MakeKaraokeMessage(static_cast<uint8_t>(karaoke::kLine1 + line), text));
  }
  Stream& Step(uint32_t t) { return At(t, MakeKaraokeMessage(karaoke::kColourStep, "")); }
  Stream& Count(uint32_t t, uint8_t n) { return At(t, {0xB0, 0x1F, n}); }
  Stream& Chord(uint32_t t, const std::string& c) { return At(t, MakeKaraokeMessage(karaoke::kChord, c)); }
  // Events go in time order. MF4 note-offs carry the note only.
  Stream& On(uint32_t t) { return At(t, {0x90, 0x3C, 0x60}); }
  Stream& Off(uint32_t t) { return At(t, {0x80, 0x3C}); }
  Bytes8 End(uint32_t t) {
    At(t, {0xFF, 0x2F, 0x00});
    return bytes;
  }
};

// A window with an install folder, a PC song folder, a floppy folder and no
// player; message boxes are answered by the test.
struct Rig {
  // `language`: the dictionary's section (none: the first run's choice).
  explicit Rig(const char* language = nullptr) {
    testing::FillInstallDir(install);
    if (language) profile.WriteString("SETTINGS", "CURRLANGUAGE", language);
    fs::create_directories(songs);
    fs::create_directories(floppy);
    profile.WriteString("PATH", "Installpath", install.string());
    profile.WriteString("PATH", "OLD_MF4", songs.string());
    profile.WriteString("PATH", "Floppy", floppy.string());
    profile.WriteString("Link", "Simulator", (home.path() / "nobody.sock").string());
    for (const char* font : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
      if (fs::exists(font)) {
        profile.WriteString("Settings", "SoundFont", font);
        break;
      }
    }
    dict.Load(install, profile, ui);
    ui.SetDictionary(&dict);
    ui.answerMessages = [this](const MessageRequest& r) {
      shown.push_back(r);
      if (!IsQuestion(r.style)) return kIdOk;
      if (!answers.empty()) {
        const int a = answers.front();
        answers.pop_front();
        return a;
      }
      return ButtonsForStyle(r.style) == Buttons::YesNo ? kIdNo : kIdCancel;
    };
    env = std::make_unique<Env>(Env{ui, clock, profile, dict, install});
    FtdiLibrary none;
    window = std::make_unique<MainWindow>(*env, ProgramChannels(*env, none));
    window->Prepare();
    window->show();
  }
  ~Rig() {
    window.reset();
    fs::current_path(fs::temp_directory_path());
  }

  App& app() { return window->app(); }
  std::string T(const char* key) const { return dict.GetText(key); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : shown) t.push_back(m.text);
    return t;
  }
  // An MF4 song around `stream` in the PC song folder.
  fs::path Song(const std::string& base, const Bytes8& stream, const std::string& title, const std::string& performer) {
    const fs::path content = home.path() / (base + ".content");
    WriteBinaryFile(content, stream);
    PackageHeader h;
    h.SetTitle(title);
    h.SetPerformer(performer);
    h.SetGenre("Pop");
    const fs::path song = songs / (base + ".MF4");
    if (pack(*env, h, content, song) != kPackDone) return {};
    return song;
  }
  // The PC list read again and shown.
  void Reload() {
    app().lib.ReloadPcList();
    window->RefreshListViews();
  }
  // Selects the PC songs of these titles in the list view.
  void Select(const QStringList& titles) {
    SongListView* v = window->PcView();
    v->clearSelection();
    for (int row = 0; row < window->PcModel()->rowCount(); ++row) {
      if (titles.contains(QString::fromStdString(window->PcModel()->RecordOfRow(row)->title))) {
        v->selectionModel()->select(window->PcModel()->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
  }
  // PLAY pressed; the play time counts from here on the virtual clock.
  void PressPlay() {
    QTest::mouseClick(window->PlayButton(), Qt::LeftButton);
    start = clock.NowMs();
  }
  void PlayTimeFromClock() {
    window->SetPlayTime([this] { return static_cast<double>(clock.NowMs() - start) / 1000.0; });
  }
  void At(double seconds) {
    const uint64_t to = start + static_cast<uint64_t>(seconds * 1000);
    if (to > clock.NowMs()) clock.Advance(to - clock.NowMs());
    window->FollowPlayback();
  }
  bool StopUsable() const {
    return window->StopButton()->isEnabled() && window->ActionFor(kStopPlaybackMenu)->isEnabled();
  }

  testing::TempDir home;
  fs::path install = home.path() / "inst";
  fs::path songs = home.path() / "songs";
  fs::path floppy = home.path() / "floppy";
  QtUi ui;
  VirtualClock clock;
  ProfileFile profile{home.path() / "Zumbla.INI"};
  Dictionary dict;
  std::unique_ptr<Env> env;
  std::unique_ptr<MainWindow> window;
  std::vector<MessageRequest> shown;
  std::deque<int> answers;
  uint64_t start = 0;
};

// The sound output for one test.
class AudioDriver {
 public:
  explicit AudioDriver(const char* name) { qputenv("SDL_AUDIODRIVER", name); }
  ~AudioDriver() { qunsetenv("SDL_AUDIODRIVER"); }
};

}  // namespace kestro::gui::playtest

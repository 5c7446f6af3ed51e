// A whole application for the tests of the floppy and playback commands: a
// simulated player in memory mode (these commands do not talk to it), the
// shipped dictionary, a PC song folder and a user whose message pump can be
// given something to do.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "shell/app.h"
#include "sim/sim_channel.h"
#include "sim/sim_rig.h"

namespace kestro::shelltest {

// `afterPump` runs each time the window is given its messages.
class PumpingUi : public ScriptedUi {
 public:
  std::function<void()> afterPump;
  void PumpMessages() override {
    ScriptedUi::PumpMessages();
    if (afterPump) afterPump();
  }
};

inline LinkChannels Channels(sim::SimPlayer& sim) {
  LinkChannels c;
  c.ftdi = std::make_unique<sim::SimChannel>(sim, Transport::Ftdi);
  c.bulk = std::make_unique<sim::SimChannel>(sim, Transport::Bulk);
  return c;
}

inline sim::SimConfig RamPlayer() {
  sim::SimConfig c;
  c.mode = sim::Mode::Ram;
  return c;
}

class ShellBench : public ::testing::Test {
 protected:
  ShellBench() : rig(RamPlayer()), env{ui, rig.clock, rig.profile, rig.dict, rig.dir}, app(Prepared(), Channels(rig.sim)) {
    app.cycle.mountSources = {rig.dir / "no-mounts", {}};
    songs = rig.dir / "songs";
    std::filesystem::create_directories(songs);
    rig.profile.WriteString("PATH", "OLD_MF4", songs.string());
    app.lib.pcFolder = songs;
  }
  Env& Prepared() {
    testing::FillInstallDir(rig.dir);
    EXPECT_TRUE(rig.dict.Load(rig.dir, rig.profile, ui));
    return env;
  }
  std::string T(const char* key) { return env.T(key); }
  void Put(const std::filesystem::path& p, const Bytes& b) { ASSERT_TRUE(WriteBinaryFile(p, b)); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui.messages) t.push_back(m.text);
    return t;
  }
  // The PC list read again with these files selected.
  void SelectPc(std::initializer_list<std::string> files) {
    app.lib.ReloadPcList();
    for (auto& r : app.lib.pc) {
      r.selected = false;
      for (const auto& f : files) r.selected |= std::filesystem::path(r.fileName).filename() == f;
    }
  }
  // Every file under a folder with its bytes.
  static std::map<std::string, std::string> Files(const std::filesystem::path& dir) {
    std::map<std::string, std::string> m;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec)) {
      if (e.is_regular_file()) m[std::filesystem::relative(e.path(), dir).string()] = testing::ReadFileOrEmpty(e.path());
    }
    return m;
  }

  sim::SimRig rig;
  PumpingUi ui;
  Env env;
  App app;
  std::filesystem::path songs;
};

// A MIDI file of one note, without words.
inline Bytes OneNote() {
  return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 13,
          0x00, 0x90, 0x3C, 0x40, 0x83, 0x60, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00};
}

}  // namespace kestro::shelltest

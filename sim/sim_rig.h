// A ready-made bench for tests: a simulated player plugged into a Link and a
// Player on a virtual clock, with a scripted user interface, an empty
// dictionary (every text reads "KEY: String Error" unless the test loads
// one), a settings file and a private temporary folder.
//
//   kestro::sim::SimConfig cfg;
//   cfg.cardBytes = 8 << 20;             // an 8 MB card image in rig.dir
//   cfg.mode = kestro::sim::Mode::Card;
//   kestro::sim::SimRig rig(cfg);
//   rig.link.LinkOpen();
//   rig.player.CardAccessBegin();
//   ...
//   rig.sim.WireSummary();               // what crossed the wire
//
// A card image made elsewhere (mkfs.fat) is used through cfg.cardImage. The
// link starts on the transport the simulator plays.
#pragma once

#include <filesystem>
#include <memory>

#include "link/link.h"
#include "link/player.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "context/dictionary.h"
#include "context/env.h"
#include "sim/sim_player.h"

namespace kestro::sim {

// A fresh temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class SimRig {
 public:
  // A config with cardBytes and no cardImage gets its image in `dir`.
  explicit SimRig(SimConfig config = {});

  ScratchDir scratch;
  const std::filesystem::path dir;
  VirtualClock clock;
  ScriptedUi ui;
  ProfileFile profile;
  Dictionary dict;
  Env env;
  SimPlayer sim;
  BasicCycleSide cycle;
  Link link;
  Player player;

 private:
  SimConfig Prepare(SimConfig config);
};

}  // namespace kestro::sim

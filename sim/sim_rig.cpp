#include "sim/sim_rig.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "sim/sim_channel.h"

namespace kestro::sim {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "kestro-sim-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

LinkChannels SimChannels(SimPlayer& sim) {
  LinkChannels c;
  c.ftdi = std::make_unique<SimChannel>(sim, Transport::Ftdi);
  c.bulk = std::make_unique<SimChannel>(sim, Transport::Bulk);
  return c;
}

}  // namespace

SimConfig SimRig::Prepare(SimConfig config) {
  if (config.cardImage.empty() && config.cardBytes > 0) config.cardImage = dir / "card.img";
  return config;
}

SimRig::SimRig(SimConfig config)
    : dir(scratch.path()),
      profile(dir / "Zumbla.INI"),
      env{ui, clock, profile, dict, dir},
      sim(Prepare(std::move(config))),
      link(env, SimChannels(sim), cycle),
      player(link) {
  dict.LoadFromText("", "ITALIANO", ui);
  link.transport = sim.config().as;
}

}  // namespace kestro::sim

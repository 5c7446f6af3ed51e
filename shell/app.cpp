#include "shell/app.h"

#include "library/pc_folder.h"
#include "link/channels.h"
#include "platform/version.h"

namespace kestro {

App::App(Env& e, LinkChannels channels, ConnectionView* v)
    : env(e),
      view(v ? *v : ownView),
      lib(e),
      cycle(e, link, player, lib, view),
      link(e, std::move(channels), cycle),
      player(link),
      sectors(link),
      card(sectors, player),
      firmware(link, cycle, starter),
      playback(e) {
  lib.card = &card;
  // A formatted card gets the player's structure at once.
  card.createStructure = [this](CardFs&) { return lib.CreateStructureOnFormattedCard(); };
  cycle.SyncLibrary();
}

void App::Start() {
  library::MergeNewSongs(env);
  lib.ReloadPcList();
}

int App::SettleMedium(int maxCycles, uint32_t pauseMs) {
  for (int i = 0; i < maxCycles; ++i) {
    cycle.ConnectMedia();
    if (cycle.PlayerReady()) break;
    env.clock.SleepMs(pauseMs);
  }
  return cycle.currentMedium;
}

bool App::RequirePlayerReady() {
  if (cycle.PlayerReady()) return true;
  env.ui.ShowMessage(env.T("MSG_ZUMNET_BUSY"), env.T("MSG_ERROR"), mb::kIconStop);
  return false;
}

bool ShutdownRequested(const Env& env) { return env.GetInt(settings::kKestroShutdown) != 0; }

void WriteExitKeys(Env& env) {
  env.WriteInt(settings::kKestroActive, 0);
  env.WriteInt(settings::kKestroShutdown, 0);
}

void ShowVersion(Env& env) {
  env.ui.ShowMessage(env.TF("MSG_ZUMSOFT_VERSION", kKestroVersion), env.T("MSG_CAPTION_INFO"),
                     mb::kIconInformation);
}

LinkChannels ProgramChannels(Env& env, FtdiLibrary& ftdi) {
  // The FTDI library matters only for a real device.
  if (env.GetText(settings::kSimulator).empty()) ftdi = LoadFtdiLibrary(env.ui);
  return MakeLinkChannels(env, ftdi);
}

}  // namespace kestro

#include "shell/connection.h"

#include "cardfs/card_fs.h"
#include "library/lists.h"

namespace kestro {

ConnectionCycle::ConnectionCycle(Env& env, Link& link, Player& player, library::Library& lib, ConnectionView& view)
    : env_(env), link_(link), player_(player), lib_(lib), view_(view) {}

void ConnectionCycle::LinkLost() {
  lastReading = -1;
  linkStreak = 0;
  playerInfoValid = 0;
  skipTicks = 3;
}

void ConnectionCycle::ForgetPlayer() {
  currentMedium = -1;
  newReading = -1;
  linkStreak = 0;
  playerInfoValid = 0;
  SyncLibrary();
}

void ConnectionCycle::RefreshLists() {
  lib_.RefreshLists(PlayerReady());
  view_.RefreshListViews();
}

bool ConnectionCycle::PlayerReady() const {
  return currentMedium == lastReading && currentMedium >= 0 && currentMedium <= 2;
}

void ConnectionCycle::SyncLibrary() {
  lib_.medium = currentMedium;
  lib_.link = &link_;
  lib_.playerLink = &player_;
  if (currentMedium == library::kMediumCardReader) lib_.flashDrive = env_.GetText(settings::kFlashDrive);
}

void ConnectionCycle::LoadPlayerSongList() {
  SyncLibrary();
  if (!lib_.LoadPlayerSongList() && lib_.indexUnreadable) {
    // The card's index cannot be read: the medium is not usable.
    currentMedium = -1;
    SyncLibrary();
  }
}

int ConnectionCycle::CheckCard() { return lib_.card ? lib_.card->CheckCard() : 1; }

std::string ConnectionCycle::MediumText() const {
  if (currentMedium == -1) return env_.T("MSG_MESSAGE_CF6");
  return {};
}

void ConnectionCycle::ShowMediumInfo() {
  if (busy) return;
  switch (currentMedium) {
    case library::kMediumCard:
      if (link_.linkErrorState == 0 && lib_.card) lib_.card->ShowCardSpace();
      break;
    case library::kMediumRam:
      env_.ui.SetStatusLine(3, std::nullopt);
      break;
    case -1:
      env_.ui.SetStatusLine(2, env_.T("MSG_MESSAGE_CF6"));
      break;
    default:
      break;
  }
}

int ConnectionCycle::ConnectMedia() {
  if (busy) return lastReading;
  if (skipTicks) {
    --skipTicks;
    return lastReading;
  }
  link_.ChooseTransport();
  link_.ResetTimeoutCounter();

  int agent = env_.GetInt(settings::kUsbAgent);
  if (agent != 0) {
    // Another program holds the player: leave it alone. A value that never
    // changes belongs to a program that went away without clearing it.
    if (agent == agentValue) {
      if (++agentRepeatCount > 20) {
        agentRepeatCount = 0;
        WriteProfileInt(env_.profile, "SETTINGS", "USB_AGENT", 0);
      }
    } else {
      agentRepeatCount = 0;
    }
    agentValue = agent;
    busy = false;
    return lastReading;
  }

  busy = true;
  if (link_.LinkOpen()) {
    ++linkStreak;
    if (currentMedium == -1 && !rearmFlag && linkStreak == 1) {
      rearmFlag = true;
      if (firstConnectionState == 3) firstConnectionState = 0;
    }
    link_.LinkClose();
    if (linkStreak >= 2) {
      linkStreak = 2;
      quietFlag = 1;
      playerInfoValid = player_.GetZumblaInfo(lastInfo) ? 1 : 0;
      quietFlag = 0;
      if (skipTicks) {
        busy = false;
        return lastReading;
      }
    }
  } else {
    link_.LinkClose();
    linkStreak = 0;
    playerInfoValid = 0;
  }
  env_.clock.SleepMs(50);

  if (playerInfoValid) {
    if (auto r = ReadingForPlayerMode(lastInfo.Mode())) newReading = *r;
    view_.ShowPlayerStatus(newReading);
  } else if (FindCardReaderDrive(env_, mountSources)) {
    newReading = 0;
    view_.ShowPlayerStatus(0);
  } else {
    newReading = -1;
    view_.ShowPlayerStatus(-1);
    if (currentMedium != -1) view_.RefreshListViews();
  }

  if (newReading == 3 || newReading == 4) {
    busy = false;
    if (lastReading == -1) currentMedium = -1;
    SyncLibrary();
    return currentMedium;
  }
  if (newReading != lastReading) {
    linkStreak = 0;
  } else if (newReading != currentMedium) {
    Commit(newReading);
    if (!PlayerReady() || (currentMedium == 1 && link_.linkErrorState == 1)) {
      lib_.ForgetPlayerList();
      view_.ClearPlayerListView();
    }
    busy = false;
    ShowMediumInfo();
    view_.SetCentralArrows(currentMedium, link_.transport);
  }

  if (currentMedium != -1) rearmFlag = false;
  lastReading = newReading;
  busy = false;
  SyncLibrary();
  return currentMedium;
}

void ConnectionCycle::Commit(int reading) {
  if (linkStreak < 2) {
    // Only the card reader and "nothing" can come without a player link.
    if (reading == 0) {
      currentMedium = 0;
      env_.clock.SleepMs(100);
      LoadPlayerSongList();
      view_.RefreshListViews();
    } else if (reading == -1) {
      currentMedium = -1;
      SyncLibrary();
      lib_.ForgetPlayerList();
      view_.RefreshListViews();
    }
    return;
  }
  currentMedium = reading;
  SyncLibrary();
  // The list of the medium before is no list of this one.
  lib_.ForgetPlayerList();
  if (reading == 2) {
    env_.ui.SetStatusLine(3, env_.TF("MSG_MESSAGE_CF5", static_cast<int>(player_.RamFreePercent(currentMedium))));
  }
  if (reading == 1 || reading == 0) env_.ui.SetProgressTitle(env_.T("MSG_READING_FLASH"));
  if (reading == 1) {
    env_.ui.SetStatusLine(2, "");
    link_.LinkOpen();
    player_.CardAccessBegin();
    player_.CardAccessOpen();
    // A card that keeps failing without losing the link must not hold the
    // cycle for ever.
    for (int i = 0; i < kCardCheckTries; ++i) {
      if (CheckCard() || link_.linkErrorState == 1) break;
    }
    player_.CardAccessEnd();
    link_.LinkClose();
  }
  env_.clock.SleepMs(200);
  player_.GetZumblaInfo(lastInfo);
  for (int i = 0; i < kBusyRetries && lastInfo.Mode() == 2; ++i) {
    env_.clock.SleepMs(200);
    player_.GetZumblaInfo(lastInfo);
  }
  if (link_.linkErrorState == 0) LoadPlayerSongList();
  if (link_.transport != lastTransport) {
    lib_.ReloadPcList();
    lastTransport = link_.transport;
  }
  view_.RefreshListViews();
}

}  // namespace kestro

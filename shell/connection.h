// The connection cycle: every tick it finds out whether a player is attached
// (and in which mode) or whether the player's card sits in a card reader,
// and switches the program between the media. A new medium is taken over
// only when the same reading is seen on two consecutive cycles, and a
// player medium only after the link has been open on two consecutive
// cycles; a busy or booting player never changes the medium.
#pragma once

#include <functional>
#include <string>

#include "library/library.h"
#include "link/firmware.h"
#include "link/link.h"
#include "link/player.h"
#include "shell/card_reader.h"
#include "context/env.h"

namespace kestro {

// What the cycle asks of the windows; the command-line tool leaves them.
class ConnectionView {
 public:
  virtual ~ConnectionView() = default;
  // The status picture for a reading (-1, 0, 1, 2, 3, 4).
  virtual void ShowPlayerStatus(int /*reading*/) {}
  // Redraw both lists from the library's records.
  virtual void RefreshListViews() {}
  // The arrows between the lists.
  virtual void SetCentralArrows(int /*medium*/, Transport /*transport*/) {}
  // Empty the player list view.
  virtual void ClearPlayerListView() {}
};

class ConnectionCycle final : public ConnectionCycleSide, public FirmwareCycleSide {
 public:
  // Tries of the card check after a commit before the cycle gives up.
  static constexpr int kCardCheckTries = 3;
  // Times the player is asked again while it says it is busy.
  static constexpr int kBusyRetries = 30;

  ConnectionCycle(Env& env, Link& link, Player& player, library::Library& lib, ConnectionView& view);

  // --- The cycle's state ---
  int currentMedium = -1;
  int lastReading = -1;
  int newReading = -1;
  int linkStreak = 0;
  int playerInfoValid = 0;
  bool busy = false;
  int skipTicks = 0;
  int quietFlag = 0;
  int agentValue = 0;
  int agentRepeatCount = 0;
  int firstConnectionState = 0;
  bool rearmFlag = false;
  bool reprogramRequest = false;
  Transport lastTransport = Transport::Ftdi;
  ZumblaInfo lastInfo;

  MountSources mountSources;

  // ConnectMedia: one cycle. Returns the current medium (or the last
  // reading when it returns early).
  int ConnectMedia();
  // PlayerReady: the medium is settled and usable.
  bool PlayerReady() const;
  // ShowMediumInfo: the status line of the current medium.
  void ShowMediumInfo();
  // The texts of the medium for a reading ("MSG_MESSAGE_CF6" when nothing is
  // connected, the free memory for the player's memory).
  std::string MediumText() const;

  // ConnectionCycleSide
  void LinkLost() override;
  bool QuietFlag() const override { return quietFlag != 0; }
  // FirmwareCycleSide: after an update the cycle starts from scratch.
  void ForgetPlayer() override;
  void RefreshLists() override;

  // Keeps the library's view of the player side in step with the medium.
  void SyncLibrary();
  // The player-side list anew for the medium; a card whose index cannot be
  // read gives up the medium.
  void LoadPlayerSongList();

 private:
  void Commit(int reading);
  int CheckCard();

  Env& env_;
  Link& link_;
  Player& player_;
  library::Library& lib_;
  ConnectionView& view_;
};

// The busy flag for the length of a command.
class BusyScope {
 public:
  explicit BusyScope(ConnectionCycle& cycle) : cycle_(cycle) { cycle_.busy = true; }
  ~BusyScope() { cycle_.busy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  ConnectionCycle& cycle_;
};

}  // namespace kestro

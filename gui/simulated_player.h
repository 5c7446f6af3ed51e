// A simulated player for a user without the hardware: zumbla-sim, started
// beside the program, keeps its state and a 64 MB card image in a folder of
// the settings folder. Zumbla.INI names its socket ([Link] Simulator) only
// while it runs: the previous value comes back when it stops, and a value
// that a program which died left pointing at the simulator's socket is
// cleared at the next start.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "context/env.h"

namespace kestro::gui {

class SimulatedPlayer {
 public:
  static constexpr int kCardMb = 64;

  SimulatedPlayer(ProfileFile& profile, const std::filesystem::path& settingsDir);
  ~SimulatedPlayer();
  SimulatedPlayer(const SimulatedPlayer&) = delete;
  SimulatedPlayer& operator=(const SimulatedPlayer&) = delete;

  // Starts zumbla-sim (beside this program) and points the settings at it.
  // False with the reason in `problem`.
  bool Start(std::string* problem);
  // Stops it and puts the setting back.
  void Stop();
  bool Running() const { return pid_ > 0; }
  // The card image did not exist before this start: the card is new.
  bool NewCard() const { return newCard_; }
  const std::filesystem::path& Folder() const { return folder_; }
  const std::string& Socket() const { return socket_; }

  // Gives a new card the player's format and structure, as a user answering
  // Yes to the questions of the first connection would.
  static bool FormatNewCard(Env& env);

  // Where a program of this settings folder puts the simulator's socket.
  static std::string SocketFor(const std::filesystem::path& settingsDir);
  // The settings name the simulator's socket, but nothing answers there.
  static void ForgetDeadSocket(ProfileFile& profile, const std::filesystem::path& settingsDir);

 private:
  ProfileFile& profile_;
  std::filesystem::path folder_;
  std::string socket_;
  std::string previous_;
  pid_t pid_ = -1;
  bool newCard_ = false;
  bool settingChanged_ = false;
};

}  // namespace kestro::gui

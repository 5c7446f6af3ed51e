// The simulated player on a Unix socket: one connection at a time (a
// second one is closed at once, as a device already open refuses), each
// greeted with the transport the player plays (SimGreeting), then the
// player's byte stream both ways.
#pragma once

#include <csignal>
#include <string>

#include "sim/sim_player.h"

namespace kestro::sim {

// Serves until *stop becomes non-zero. Returns false with a reason when the
// socket cannot be set up. A stale socket file is replaced; the file is
// removed at the end.
bool ServeSocket(SimPlayer& player, const std::string& socketPath, const volatile std::sig_atomic_t* stop,
                 std::string* error);

}  // namespace kestro::sim

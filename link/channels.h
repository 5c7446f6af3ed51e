// The channels a program's link uses: the real FTDI and bulk devices, or
// the simulated player's socket when Zumbla.INI names one ("Link"/
// "Simulator"); the socket then stands for whichever transport the
// simulator says it plays.
#pragma once

#include "link/ftdi.h"
#include "link/link.h"
#include "context/env.h"

namespace kestro {

LinkChannels MakeLinkChannels(const Env& env, const FtdiLibrary& ftdi);

// The ids of the player's FTDI bridge: [Link] FtdiVid / FtdiPid.
FtdiIds FtdiIdsOf(const Env& env);

}  // namespace kestro

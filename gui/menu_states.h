// Which of the medium-dependent menu items can be used, after every main tick:
// the card format (40003), the index rebuild (40031), the player options
// (40022), the firmware update (40028) and the player information (40061).
#pragma once

#include <map>

namespace kestro::gui {

// `medium` is the committed medium; while nothing is committed a player that
// waits for new firmware (reading 4) counts as reading 4. `webUpdate` is
// Settings/"WebUpdate" (the firmware comes from the maker's server).
std::map<int, bool> MenuStates(int medium, int newReading, bool webUpdate);

}  // namespace kestro::gui

#include "gui/menu_states.h"

#include "gui/commands.h"

namespace kestro::gui {

std::map<int, bool> MenuStates(int medium, int newReading, bool webUpdate) {
  int row = medium == -1 && newReading == 4 ? 4 : medium;
  bool format = false, regen = false, options = false, firmware = false, info = false;
  switch (row) {
    case 1:
      format = regen = options = firmware = info = true;
      break;
    case 2:
      options = firmware = info = true;
      break;
    case 0:
      format = regen = options = true;
      break;
    case 3:
      info = true;
      firmware = !webUpdate;
      break;
    case 4:
      firmware = info = true;
      break;
    default:
      firmware = !webUpdate;
      break;
  }
  return {{kFormatCard, format},
          {kRegenerateIndexes, regen},
          {kPlayerOptions, options},
          {kUpdateFirmware, firmware},
          {kPlayerInformation, info}};
}

}  // namespace kestro::gui

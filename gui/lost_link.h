// After songs went to or came from the player: when the player was lost on
// the way (unplugged, switched off), the songs that did not get there are not
// passed over in silence. The link itself speaks up only after several
// time-outs in a row, and a bridge that just stops answering says nothing.
#pragma once

#include "shell/app.h"

namespace kestro::gui {

// Shows "MSG_USB_TIMEOUT" when the last transfer left songs behind because
// the link to the player was lost. True when it did.
bool ReportLostLink(App& app);

}  // namespace kestro::gui

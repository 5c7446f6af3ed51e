// Kestro without a desktop (a server, a remote shell): one line says that the
// window needs a desktop and what serves without one, then the two lists the
// window would show first, side by side, as text.
#pragma once

#include <cstdio>

#include "context/env.h"

namespace kestro::gui {

// True when Qt can show windows here: a display to talk to, or a platform
// that needs none (offscreen, vnc, ...).
bool HasDisplay();

// The notice and the two lists (the medium settled first) on `out`.
void PrintWhatTheWindowShows(Env& env, std::FILE* out);

}  // namespace kestro::gui

// The whole program behind a command: the application context with the link
// to whatever player (or card reader) is there.
#pragma once

#include <memory>

#include "cli/cli.h"
#include "link/ftdi.h"
#include "shell/app.h"

namespace kestro::cli {

struct AppSession {
  explicit AppSession(Env& env) : app(env, ProgramChannels(env, ftdi)) {}
  FtdiLibrary ftdi;  // before the app: the FTDI channel refers to it
  App app;
};

// The session, or null (the reason shown) without an installation.
std::unique_ptr<AppSession> OpenApp(Context& ctx);

// The medium as a line of text.
std::string MediumName(int medium);

// Why the player or its card could not be used, from what the card check,
// the library and the link tell: for a command that stopped without saying.
std::string PlayerProblem(App& app);

// Selects the PC songs named (by path, or by name in the PC song folder);
// false, with the names shown, when one is no song of the folder.
bool SelectPcSongs(Context& ctx, library::Library& lib, const std::vector<std::string>& files);

}  // namespace kestro::cli

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

// Texts of the player or of song files shown on the terminal.
std::string ShownText(const std::string& text);

// Selects the PC songs named (by path, or by name in the PC song folder);
// false, with the names shown, when one is no song of the folder.
bool SelectPcSongs(Context& ctx, library::Library& lib, const std::vector<std::string>& files);

}  // namespace kestro::cli

// kestro-cli: the command-line front end of the suite.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/terminal_ui.h"
#include "context/dictionary.h"
#include "context/env.h"

namespace kestro::cli {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

class Context {
 public:
  Context(AnswerMode mode);

  TerminalUi ui;
  RealClock clock;
  ProfileFile profile;

  // Reads the install folder (the first run lays it out from the shipped
  // data) and loads the dictionary; on failure shows why ("Invalid
  // Installation!" or the loader's message) and returns null.
  Env* RequireInstall();
  // The Env when RequireInstall succeeded earlier.
  Env* env() { return env_.get(); }

  // Prints "message" on standard error and gives kFailed.
  int Fail(const std::string& message);

 private:
  Dictionary dict_;
  std::unique_ptr<Env> env_;
};

struct Command {
  std::vector<std::string> words;  // e.g. {"dict", "decode"}
  std::string args;                // argument synopsis, e.g. "FILE"
  std::string summary;             // one line
  std::string help;                // longer help, may be empty
  std::function<int(Context&, std::vector<std::string>&)> run;
};

using CommandTable = std::vector<Command>;

// One registration function per group of commands.
void RegisterBasicCommands(CommandTable& table);
void RegisterMidiCommands(CommandTable& table);
// Song packages: pack, unpack, header (cmd_package.cpp).
void RegisterPackageCommands(CommandTable& table);
void RegisterPlayerCommands(CommandTable& table);
// Song lists: PC folder, song texts, medium, songs, compare, search, export.
void RegisterLibraryCommands(CommandTable& table);
// The player's firmware: check a file, update (cmd_firmware.cpp).
void RegisterFirmwareCommands(CommandTable& table);
// Song import and conversion: convert (cmd_convert.cpp).
void RegisterConvertCommands(CommandTable& table);
// The player's card: info, report, check, format, ls, get, put, rm, mkdir
// (cmd_card.cpp).
void RegisterCardCommands(CommandTable& table);
// Songs moved and deleted: send, fetch, delete, recover, clear-card
// (cmd_transfer.cpp).
void RegisterTransferCommands(CommandTable& table);
// Songs played, and the decoded event stream as a MIDI file (cmd_play.cpp).
void RegisterPlayCommands(CommandTable& table);
// The floppy disk: export and import (cmd_floppy.cpp).
void RegisterFloppyCommands(CommandTable& table);

// A text of the player or of a song file (Latin-1 with the player's letter
// codes) as the terminal shows it: UTF-8, control characters escaped.
std::string ShownText(const std::string& text);
// A file name or path, control characters escaped.
std::string ShownName(const std::string& name);
// "1 song", "2 songs": a count of songs for the terminal.
std::string SongCount(size_t n);

// Argument helpers for commands.
// Removes "--name VALUE" from args; returns VALUE.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name);
// Removes "--name" from args; returns whether it was there.
bool TakeFlag(std::vector<std::string>& args, const std::string& name);
// Any argument left that starts with "--" is unknown.
std::optional<std::string> UnknownOption(const std::vector<std::string>& args);

}  // namespace kestro::cli

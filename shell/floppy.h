// The main window's floppy commands, shared with the command-line tool: the
// selected PC songs copied to the floppy disk, and every song file of the
// floppy imported into the PC song folder.
//
// On this platform the floppy disk is a folder: [PATH] "Floppy" of
// Zumbla.INI when set, else the first mounted removable medium that is not
// the player's card (which holds MINDEX0.DAT, or is the card reader's
// folder that the settings remember).
//
// Copies are whole or not there: each goes under a temporary name and is
// renamed into place, so a disk taken out midway leaves no half file behind
// and a song being replaced stays until its replacement is whole. The files
// of a batch are listed once; a file that has gone by its turn is told of
// and the batch goes on.
#pragma once

#include <filesystem>
#include <optional>

#include "shell/app.h"
#include "shell/commands.h"

namespace kestro {

// The floppy folder, or nothing when there is none.
std::optional<std::filesystem::path> FindFloppyFolder(Env& env, const MountSources& sources);

// SaveSongsToFloppy: the selected PC songs, each under its own name. Asks
// "MSG_DIALOG_INSERT_FLOPPY" first; without a floppy folder
// "MSG_NO_FLOPPY_FOLDER". A song that cannot be copied is told of and the
// others go on. The outcome of each song is in app.lib.outcomes.
CommandStatus SaveSongsToFloppy(App& app);

// LoadSongsFromFloppy: every .MF4, .MF3, .MID and .KAR file of the floppy
// into the PC song folder, through the import of one file. An MF4 song of
// the same title and performer as a PC song replaces it only on Yes to
// "MSG_ALREADY_EXIST". Ends with the number of songs imported; the outcome
// of each file is in app.lib.outcomes.
CommandStatus LoadSongsFromFloppy(App& app);

}  // namespace kestro

// The player's setup record as the options dialog reads and writes it: the
// first 16 bytes of the 30 the player keeps. Media 1 and 2 exchange it with
// the player through "MSETUP.DAT" in the install folder; a card in a card
// reader (medium 0) keeps it as "MSETUP.DAT" in the card's folder.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "shell/app.h"

namespace kestro {

inline constexpr size_t kSetupBytes = 16;
using SetupRecord = std::array<uint8_t, kSetupBytes>;

// The file the record goes through for the current medium; nothing while
// no medium is committed.
std::optional<std::filesystem::path> SetupRecordFile(const App& app);

// LoadSetupRecord: for media 1 and 2 the player's record is read first into
// the file. Nothing when the player does not give it, or the file is missing
// or shorter than 16 bytes: a record that cannot be shown whole is not
// shown, so nothing half known is written back.
std::optional<SetupRecord> LoadSetupRecord(App& app);

// SaveSetupRecord: the 16 bytes replace the file; for media 1 and 2 the
// file then goes to the player, which receives 30 bytes of which 16 to 29
// are 0. False when the file cannot be written (then nothing is sent); the
// player's answer is not reported.
bool SaveSetupRecord(App& app, const SetupRecord& record);

}  // namespace kestro

// Finding the player's card in a card reader of the PC: a mounted folder
// whose root holds the card's title index.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "context/env.h"

namespace kestro {

// Where removable media are mounted on this machine.
struct MountSources {
  std::filesystem::path mountTable = "/proc/self/mounts";
  // Mount points below these folders count as removable media.
  std::vector<std::filesystem::path> removableRoots = {"/media", "/run/media"};
};

// True when `folder` holds "MINDEX0.DAT" (in any case, as a FAT card may
// show it).
bool HoldsCardIndex(const std::filesystem::path& folder);

// FindCardReaderDrive: the remembered PATH/"Flashdrive" folder when it holds
// the index, else the first mounted removable medium that does (which is
// then remembered). Nothing when no card is found.
std::optional<std::filesystem::path> FindCardReaderDrive(Env& env, const MountSources& sources = {});

// The mount points of the table that lie below one of the roots.
std::vector<std::filesystem::path> RemovableMounts(const MountSources& sources);

}  // namespace kestro

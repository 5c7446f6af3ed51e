// Removal that stays inside a folder. The sweeper deletes what a script file
// names, and a script is only a file that anyone could have written: a path
// must lie inside one of the folders the uninstaller works on, and the walk
// from that folder down to the path follows no symbolic link, so neither a
// ".." nor a link planted inside the folder leads it anywhere else. A link
// that is itself named goes as a link; what it points to stays.
#pragma once

#include <filesystem>

namespace kestro::uninstall {

enum class Removal { File, EmptyFolder };

// Removes `target` when it is an absolute path without "." or ".."
// components inside `root` (for an empty folder, also `root` itself).
// Returns true when something was removed.
bool RemoveInside(const std::filesystem::path& root, const std::filesystem::path& target, Removal kind);

}  // namespace kestro::uninstall

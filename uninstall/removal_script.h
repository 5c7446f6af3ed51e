// The removal script that the uninstaller writes and the sweeper carries
// out: "_uninst_.dat" in the settings folder, one command a line, at most
// 255 characters: the command letter in the first column, one separator,
// the argument from the third column to the end of the line.
//
//   a TEXT   message box with the text
//   d PATH   delete the file
//   r PATH   remove the folder when it is empty
//   s MS     beep, wait that many milliseconds, beep
//   g "ROOT" KEY   delete a registry key (checked for its syntax only here)
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::uninstall {

inline constexpr const char* kScriptName = "_uninst_.dat";
inline constexpr size_t kMaxLineChars = 255;

struct ScriptLine {
  char letter = 0;
  std::string argument;
};

// "L ARGUMENT\n"
std::string FormatLine(char letter, std::string_view argument);

// The letter and argument of a line read without its line feed; nothing for
// an empty line.
std::optional<ScriptLine> ParseLine(std::string_view line);

// True when a line can be carried out as it stands: not longer than
// kMaxLineChars and free of control characters (a line of another kind of
// file, or one cut in two by its length, must not be taken for a command).
bool IsCleanLine(std::string_view line);

// The argument of a registry line: the root key's name in double quotes,
// spaces, the key's path below it. Nothing when the quotes are missing.
struct RegistryKey {
  std::string root;
  std::string path;
};
std::optional<RegistryKey> ParseRegistryArgument(std::string_view argument);

}  // namespace kestro::uninstall

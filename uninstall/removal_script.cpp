#include "uninstall/removal_script.h"

namespace kestro::uninstall {

std::string FormatLine(char letter, std::string_view argument) {
  std::string line(1, letter);
  line += ' ';
  line += argument;
  line += '\n';
  return line;
}

std::optional<ScriptLine> ParseLine(std::string_view line) {
  if (line.empty()) return std::nullopt;
  ScriptLine l;
  l.letter = line[0];
  if (line.size() > 2) l.argument = std::string(line.substr(2));
  return l;
}

bool IsCleanLine(std::string_view line) {
  if (line.size() > kMaxLineChars) return false;
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::optional<RegistryKey> ParseRegistryArgument(std::string_view argument) {
  if (argument.empty() || argument[0] != '"') return std::nullopt;
  size_t close = argument.find('"', 1);
  if (close == std::string_view::npos) return std::nullopt;
  RegistryKey k;
  k.root = std::string(argument.substr(1, close - 1));
  size_t rest = close + 1;
  while (rest < argument.size() && argument[rest] == ' ') ++rest;
  k.path = std::string(argument.substr(rest));
  return k;
}

}  // namespace kestro::uninstall

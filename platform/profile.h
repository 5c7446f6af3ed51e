// Private-profile (INI) files: the settings file Zumbla.INI and the decoded
// dictionary share these rules. Section and key names compare without regard
// to case; a missing file, section or key gives the caller's default; writes
// keep every other line of the file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// The parsed text of one INI file. Lines are kept verbatim so that a write
// changes only the line it must.
class ProfileText {
 public:
  ProfileText() = default;
  explicit ProfileText(std::string_view text);

  // The raw value of section/key (surrounding blanks and one pair of matching
  // quotes removed), or nothing when the key is absent.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  // Sets section/key to value, adding the section or the key when missing.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;

 private:
  struct Line {
    std::string text;  // without its line end
  };
  // Index of the header line of the first section called `section`, or -1.
  long FindSection(std::string_view section) const;
  // End (exclusive) of the section whose header is at `header`.
  size_t SectionEnd(long header) const;

  std::vector<Line> lines_;
  std::string eol_ = "\n";
  bool finalEol_ = true;
};

// One settings file on disk. Every read opens the file afresh, so a value that
// another program wrote is seen at once; every write replaces the file through
// a temporary file and a rename, so a reader never sees half a file.
class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path);

  const std::filesystem::path& Path() const { return path_; }

  // At most maxChars characters of the value, or of def when the key is absent.
  std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                        size_t maxChars = 255) const;
  // The decimal (or 0x hexadecimal) number at the start of the value; a value
  // that holds no number reads as 0, an absent key as def.
  int GetInt(std::string_view section, std::string_view key, int def) const;
  // The struct encoding: two hex digits a byte and a trailing checksum byte
  // (sum of the bytes modulo 256). False when absent, of another length or
  // with a wrong checksum; out is then untouched.
  bool GetStruct(std::string_view section, std::string_view key, void* out, size_t size) const;

  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteStruct(std::string_view section, std::string_view key, const void* data, size_t size);

  // Whole-file access for tools.
  ProfileText Load() const;

 private:
  std::filesystem::path path_;
};

// Parses the leading number of a profile value as GetInt does.
int ParseProfileInt(std::string_view value);

std::string EncodeProfileStruct(const void* data, size_t size);
bool DecodeProfileStruct(std::string_view text, void* out, size_t size);

}  // namespace kestro

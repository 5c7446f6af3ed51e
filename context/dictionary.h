// The language dictionary: every text the user sees is looked up here by its
// message key. DICT.DIC is a scrambled INI text holding the key list
// ("ENUMKEYS") and one section per language.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace kestro {

inline constexpr const char* kDictionaryName = "DICT.DIC";
inline constexpr const char* kDecodedDictionaryName = "TEMP.DIC";
inline constexpr const char* kDictionaryKey = "brisomulfeta";

// The scrambling of the body (its own inverse).
void ScrambleDictionaryBody(uint8_t* data, size_t size);
// A whole DICT.DIC from a plain INI text.
Bytes EncodeDictionary(std::string_view plain);
// The plain text of a DICT.DIC image; nothing when its length field or its
// checksum is wrong.
std::optional<std::string> DecodeDictionary(const Bytes& file);

class Dictionary {
 public:
  static constexpr int kSlots = 350;
  static constexpr size_t kKeySize = 64;    // 63 characters and the terminator
  static constexpr size_t kTextSize = 512;  // 511 characters and the terminator

  Dictionary();

  // LoadDictionary: decodes DICT.DIC of the install folder through TEMP.DIC,
  // reads the language named by SETTINGS/"CURRLANGUAGE" (writing it back) and
  // fills the string table. Shows its own message box and returns false on
  // failure.
  bool Load(const std::filesystem::path& installDir, ProfileFile& settings, Ui& ui);
  // The same from an already decoded INI text (no files involved).
  void LoadFromText(std::string_view plain, std::string_view language, Ui& ui);

  // The text of `key`; an unknown key gives the upper-cased key followed by
  // ": String Error", a listed key without a text "String Error!".
  std::string GetText(std::string_view key) const;
  // GetText of "KEY_n".
  std::string GetNumberedText(std::string_view key, int n) const;

  int Count() const { return count_; }
  const std::string& Language() const { return language_; }
  std::string KeyAt(int i) const;
  bool Has(std::string_view key) const;

 private:
  struct Slot {
    char key[kKeySize];
    char text[kTextSize];
  };
  std::vector<Slot> slots_;
  int count_ = 0;
  std::string language_;
};

}  // namespace kestro

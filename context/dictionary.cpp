#include "context/dictionary.h"

#include <cstring>

#include "platform/format.h"

namespace kestro {

namespace {

void UpperAscii(char* s) {
  for (; *s; ++s) {
    if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 'a' + 'A');
  }
}

// Copies at most size-1 bytes and terminates.
void CopyCut(char* dst, size_t size, std::string_view src) {
  size_t n = std::min(src.size(), size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

}  // namespace

void ScrambleDictionaryBody(uint8_t* data, size_t size) {
  const size_t keyLen = std::strlen(kDictionaryKey);
  for (size_t i = 0; i < size; ++i) data[i] ^= static_cast<uint8_t>(kDictionaryKey[i % keyLen]);
}

Bytes EncodeDictionary(std::string_view plain) {
  Bytes body(plain.begin(), plain.end());
  ScrambleDictionaryBody(body.data(), body.size());
  uint32_t len = static_cast<uint32_t>(body.size());
  uint32_t sum = 0;
  for (uint8_t b : body) sum += b;
  Bytes out(8);
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(len >> (8 * i));
    out[4 + i] = static_cast<uint8_t>(sum >> (8 * i));
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

namespace {
// Checks the length field and unscrambles; `sumOk` tells whether the
// checksum over the stored bytes matched.
std::optional<std::string> Unscramble(const Bytes& file, bool* sumOk) {
  if (file.size() < 8) return std::nullopt;
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(file[at]) | static_cast<uint32_t>(file[at + 1]) << 8 |
           static_cast<uint32_t>(file[at + 2]) << 16 | static_cast<uint32_t>(file[at + 3]) << 24;
  };
  uint32_t len = le32(0);
  uint32_t want = le32(4);
  if (static_cast<uint64_t>(len) != file.size() - 8) return std::nullopt;
  uint32_t sum = 0;
  Bytes body(file.begin() + 8, file.end());
  for (uint8_t b : body) sum += b;
  ScrambleDictionaryBody(body.data(), body.size());
  *sumOk = sum == want;
  return std::string(body.begin(), body.end());
}
}  // namespace

std::optional<std::string> DecodeDictionary(const Bytes& file) {
  bool sumOk = false;
  auto plain = Unscramble(file, &sumOk);
  if (!plain || !sumOk) return std::nullopt;
  return plain;
}

Dictionary::Dictionary() : slots_(kSlots) { std::memset(slots_.data(), 0, slots_.size() * sizeof(Slot)); }

bool Dictionary::Load(const std::filesystem::path& installDir, ProfileFile& settings, Ui& ui) {
  const auto dictPath = installDir / kDictionaryName;
  const auto tempPath = installDir / kDecodedDictionaryName;
  if (!FileExists(dictPath)) {
    ui.SystemMessage("Cannot open DICT.DIC", "ZumblaPC Error", mb::kIconStop);
    return false;
  }
  auto fail = [&] {
    ui.SystemMessage("Error while opening DICT.DIC\nThe file may be corrupted\nReinstall ZumblaPC\n", "ZumblaPC Error",
                     mb::kIconStop);
    return false;
  };
  auto file = ReadBinaryFile(dictPath);
  if (!file) return fail();
  bool sumOk = false;
  auto plain = Unscramble(*file, &sumOk);
  if (!plain) return fail();
  // The decoded file is written before the checksum decides; it stays behind
  // only when decoding fails.
  if (!WriteTextFile(tempPath, *plain)) return fail();
  if (!sumOk) return fail();

  std::string language = settings.GetString("SETTINGS", "CURRLANGUAGE", "ITALIANO", 63);
  settings.WriteString("SETTINGS", "CURRLANGUAGE", language);

  auto decoded = ReadTextFile(tempPath);
  if (!decoded) return fail();
  LoadFromText(*decoded, language, ui);
  RemoveFile(tempPath);
  return true;
}

void Dictionary::LoadFromText(std::string_view plain, std::string_view language, Ui& ui) {
  std::memset(slots_.data(), 0, slots_.size() * sizeof(Slot));
  count_ = 0;
  language_ = std::string(language);
  ProfileText ini(plain);
  for (int i = 0;; ++i) {
    auto v = ini.Find("ENUMKEYS", "K" + std::to_string(i));
    std::string key = v ? *v : "-";
    CopyCut(slots_[count_].key, kKeySize, key);
    if (slots_[count_].key[0] == '-') {
      slots_[count_].key[0] = '\0';
      break;
    }
    UpperAscii(slots_[count_].key);
    ++count_;
    if (count_ == kSlots) {
      ui.SystemMessage("ERROR! Not enought space to load all the dictionary string", "Dictionary Error",
                       mb::kIconStop);
      break;
    }
  }
  for (int i = 0; i < count_; ++i) {
    auto v = ini.Find(language_, slots_[i].key);
    CopyCut(slots_[i].text, kTextSize, v ? *v : "String Error!");
    char* t = slots_[i].text;
    for (size_t k = 0; t[k] && t[k + 1]; ++k) {
      if (t[k] == '\\' && t[k + 1] == 'n') {
        t[k] = ' ';
        t[k + 1] = '\n';
      } else if (t[k] == '\\' && t[k + 1] == 't') {
        t[k] = ' ';
        t[k + 1] = '\t';
      }
    }
  }
}

std::string Dictionary::GetText(std::string_view key) const {
  char lookup[kKeySize + 16];
  CopyCut(lookup, kKeySize + 1, key.substr(0, kKeySize));
  UpperAscii(lookup);
  for (int i = 0; i < count_; ++i) {
    if (std::strcmp(lookup, slots_[i].key) == 0) return slots_[i].text;
  }
  return std::string(lookup) + ": String Error";
}

std::string Dictionary::GetNumberedText(std::string_view key, int n) const {
  return GetText(Fmt("%s_%i", key, n));
}

std::string Dictionary::KeyAt(int i) const { return i >= 0 && i < count_ ? slots_[i].key : ""; }

bool Dictionary::Has(std::string_view key) const {
  std::string k(key);
  UpperAscii(k.data());
  for (int i = 0; i < count_; ++i) {
    if (k == slots_[i].key) return true;
  }
  return false;
}

}  // namespace kestro

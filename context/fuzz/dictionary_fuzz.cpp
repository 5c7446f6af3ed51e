// DICT.DIC from anywhere: decoded, loaded as the program starts (through the
// install folder and the settings file), and every text looked up and
// formatted with the arguments the code passes.
#include <cstdlib>

#include "context/dictionary.h"
#include "context/fuzz/fuzz_support.h"

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::FuzzEnv fe;
  Bytes file(data, data + size);
  auto plain = DecodeDictionary(file);

  fuzz::PutFile(kDictionaryName, data, size);
  Dictionary dict;
  const bool loaded = dict.Load(fuzz::ScratchDir(), fe.profile, fe.ui);
  if (loaded != plain.has_value()) std::abort();
  if (!loaded) return 0;
  if (dict.Count() < 0 || dict.Count() > Dictionary::kSlots) std::abort();
  for (int i = 0; i < dict.Count(); ++i) {
    std::string key = dict.KeyAt(i);
    if (!dict.Has(key)) std::abort();
    std::string text = dict.GetText(key);
    if (text.size() >= Dictionary::kTextSize) std::abort();
    (void)Fmt(text, "name", 12, 3u, 4.5, "x");
    (void)Fmt(text);
  }
  (void)dict.GetNumberedText("MSG_COLUMN_TITLE", 3);
  // The same text loaded without files, in the other language.
  Dictionary fromText;
  fromText.LoadFromText(*plain, "ENGLISH", fe.ui);
  if (fromText.Count() != dict.Count()) std::abort();
  return 0;
}

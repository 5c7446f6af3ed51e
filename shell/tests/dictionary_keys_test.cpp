// The shipped dictionary against the code: every key that the code looks up
// has a text in every language, and the texts take the arguments the code
// passes.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "platform/fileutil.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/testing/testsupport.h"
#include "shell/dictionary.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

const char* kLanguages[] = {"ITALIANO", "ENGLISH"};

struct Shipped {
  ProfileText ini;
  std::vector<std::string> keys;
};

Shipped LoadShipped() {
  auto file = ReadBinaryFile(testing::BuiltDataDir() / "DICT.DIC");
  EXPECT_TRUE(file.has_value());
  auto plain = file ? DecodeDictionary(*file) : std::nullopt;
  EXPECT_TRUE(plain.has_value());
  Shipped s{ProfileText(plain.value_or("")), {}};
  for (int i = 0;; ++i) {
    auto k = s.ini.Find("ENUMKEYS", "K" + std::to_string(i));
    if (!k || k->empty() || (*k)[0] == '-') break;
    s.keys.push_back(*k);
  }
  return s;
}

// Keys that the code names in string literals, and the bases of numbered
// families (looked up as BASE_n).
void ScanCode(std::set<std::string>* keys, std::set<std::string>* bases) {
  const std::regex keyRe("\"((MSG|ZUMBLA_REPROG|UNINSTALL_ID|IDC)_[A-Z0-9_]*[A-Z0-9])\"");
  const std::regex baseRe("GetNumberedText\\(\\s*\"([A-Z0-9_]+)\"");
  for (const char* top : {"platform", "shell", "link", "cardfs", "library", "convert", "sim", "harvo", "uninstall",
                          "cli", "gui"}) {
    fs::path root = testing::SourceDir() / top;
    if (!fs::exists(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string p = e.path().string();
      if (!e.is_regular_file() || p.find("/tests/") != std::string::npos ||
          p.find("/testing/") != std::string::npos)
        continue;
      if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
      std::ifstream in(e.path());
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      for (std::sregex_iterator it(text.begin(), text.end(), keyRe), end; it != end; ++it) keys->insert((*it)[1]);
      for (std::sregex_iterator it(text.begin(), text.end(), baseRe), end; it != end; ++it) bases->insert((*it)[1]);
    }
  }
}

TEST(ShippedDictionary, EveryListedKeyHasATextInEveryLanguage) {
  Shipped s = LoadShipped();
  ASSERT_FALSE(s.keys.empty());
  EXPECT_LE(s.keys.size(), 349u) << "the table holds 350 slots and warns when full";
  for (const auto& k : s.keys) {
    for (const char* lang : kLanguages) {
      auto t = s.ini.Find(lang, k);
      EXPECT_TRUE(t.has_value() && !t->empty()) << k << " has no text in " << lang;
    }
  }
}

TEST(ShippedDictionary, LanguagesAgreeOnFormatArguments) {
  Shipped s = LoadShipped();
  for (const auto& k : s.keys) {
    auto it = s.ini.Find("ITALIANO", k);
    auto en = s.ini.Find("ENGLISH", k);
    if (!it || !en) continue;
    EXPECT_EQ(FormatSignature(*it), FormatSignature(*en)) << k;
  }
}

TEST(ShippedDictionary, HoldsEveryKeyTheCodeLooksUp) {
  Shipped s = LoadShipped();
  std::set<std::string> listed(s.keys.begin(), s.keys.end());
  std::set<std::string> keys, bases;
  ScanCode(&keys, &bases);
  ASSERT_FALSE(keys.empty());
  for (const auto& k : keys) {
    if (bases.count(k)) continue;
    EXPECT_TRUE(listed.count(k)) << k << " is looked up by the code but missing from the dictionary";
  }
  for (const auto& b : bases) {
    EXPECT_TRUE(listed.count(b + "_0")) << "family " << b << " has no " << b << "_0";
  }
}

}  // namespace
}  // namespace kestro

// Build tool: turns the dictionary source (UTF-8 INI text) into DICT.DIC.
#include <cstdio>

#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/profile.h"
#include "context/dictionary.h"

int main(int argc, char** argv) {
  using namespace kestro;
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestro-dictc SOURCE DICT.DIC\n");
    return 2;
  }
  auto text = ReadTextFile(argv[1]);
  if (!text) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  if (!IsValidUtf8(*text)) {
    std::fprintf(stderr, "%s is not UTF-8\n", argv[1]);
    return 1;
  }
  std::string plain = Utf8ToLatin1(*text);
  auto questionMarks = [](const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '?';
    return n;
  };
  if (questionMarks(plain) != questionMarks(*text)) {
    // A character outside Latin-1 was replaced.
    std::fprintf(stderr, "%s holds characters outside Latin-1\n", argv[1]);
    return 1;
  }
  if (!WriteBinaryFile(argv[2], EncodeDictionary(plain))) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

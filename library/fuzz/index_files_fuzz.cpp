// The card's index files from anywhere (a card another machine wrote): the
// list read from MINDEX0.DAT and MINDEX2.DAT, written anew and read again.
// The input is the first file's length (two bytes), that file, the second.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "context/fuzz/fuzz_support.h"
#include "library/index_files.h"

using namespace kestro;
using namespace kestro::library;

namespace {

std::vector<uint16_t> Codes(const SongList& list) {
  std::vector<uint16_t> codes;
  for (const auto& r : list) codes.push_back(r.code);
  std::sort(codes.begin(), codes.end());
  return codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputCursor in(data, size);
  const size_t first = in.U16();
  auto a = in.Take(first);
  auto b = in.Rest();
  Bytes mindex0(a.begin(), a.end()), mindex2(b.begin(), b.end());
  auto list = ParseIndexFiles(mindex0, mindex2);
  if (!list) return 0;
  if (list->size() > kListCapacity) std::abort();
  for (const auto& r : *list) {
    if (r.title.size() > 26 || r.author.size() > kRecordTextMax || r.fileName.size() != 9) std::abort();
  }
  SongList copy = *list;
  IndexFiles files = BuildIndexFiles(copy);
  auto again = ParseIndexFiles(files.mindex0, files.mindex2);
  if (!again || Codes(*again) != Codes(*list)) std::abort();
  if (files.malpha0.size() != kLetterTableSize || files.malpha2.size() != kLetterTableSize) std::abort();
  return 0;
}

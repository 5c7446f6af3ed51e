#include "library/index_files.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace kestro::library {

namespace {

int CompareText(const uint8_t* a, const uint8_t* b, size_t max) {
  for (size_t i = 0; i < max; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

// Song half: code, title (26 bytes), 0, flags, 2 zero bytes.
void FillSongHalf(IndexEntry& e, SongRecord& r) {
  e.bytes[0] = static_cast<uint8_t>(r.code);
  e.bytes[1] = static_cast<uint8_t>(r.code >> 8);
  size_t n = std::min<size_t>(r.title.size(), 26);
  for (size_t i = 0; i < n && r.title[i]; ++i) e.bytes[2 + i] = static_cast<uint8_t>(r.title[i]);
  e.bytes[28] = 0;
  for (char& c : r.fileName) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  e.bytes[29] = r.fileName.find("MP3") != std::string::npos ? 1 : 0;
}

// Author half: 0x8000 and the author (at most 27 characters and its zero).
void FillAuthorHalf(IndexEntry& e, const SongRecord& r) {
  e.bytes[32] = static_cast<uint8_t>(kAuthorHeaderMark & 0xFF);
  e.bytes[33] = static_cast<uint8_t>(kAuthorHeaderMark >> 8);
  size_t n = std::min(r.author.size(), kRecordTextMax);
  for (size_t i = 0; i < n && r.author[i]; ++i) e.bytes[34 + i] = static_cast<uint8_t>(r.author[i]);
}

const uint8_t* Title(const IndexEntry& e) { return e.bytes.data() + 2; }
const uint8_t* Author(const IndexEntry& e) { return e.bytes.data() + 34; }

void Append(Bytes& out, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
void AppendZeros(Bytes& out, size_t n) { out.insert(out.end(), n, 0); }
void AppendU16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

int LetterIndex(uint8_t c) {
  if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return c - 'A';
  return -1;
}

Bytes LetterTable(const std::array<uint16_t, 26>& t) {
  Bytes out;
  for (uint16_t v : t) AppendU16(out, v);
  return out;
}

}  // namespace

IndexFiles BuildIndexFiles(SongList& list) {
  IndexFiles f;
  // The player always finds at least one entry: an empty list still writes
  // entry 0 (all zero) into the author files.
  std::vector<IndexEntry> entries(std::max<size_t>(list.size(), 1));

  // Title pass.
  for (size_t i = 0; i < list.size(); ++i) FillSongHalf(entries[i], list[i]);
  std::vector<IndexEntry> byTitle(entries.begin(), entries.begin() + static_cast<long>(list.size()));
  std::stable_sort(byTitle.begin(), byTitle.end(), [](const IndexEntry& a, const IndexEntry& b) {
    int c = CompareText(Title(a), Title(b), 26);
    if (c) return c < 0;
    return CompareText(Author(a), Author(b), 30) < 0;
  });
  for (const auto& e : byTitle) Append(f.mindex0, e.bytes.data(), kIndexRecordSize);
  AppendZeros(f.mindex0, kIndexRecordSize);

  std::array<uint16_t, 26> alpha;
  alpha.fill(0xFFFF);
  for (size_t i = 0; i < byTitle.size(); ++i) {
    int k = LetterIndex(Title(byTitle[i])[0]);
    if (k >= 0 && alpha[static_cast<size_t>(k)] == 0xFFFF) alpha[static_cast<size_t>(k)] = static_cast<uint16_t>(i);
  }
  f.malpha0 = LetterTable(alpha);

  // Author pass.
  for (auto& e : entries) e.bytes.fill(0);
  for (size_t i = 0; i < list.size(); ++i) {
    FillSongHalf(entries[i], list[i]);
    FillAuthorHalf(entries[i], list[i]);
  }
  if (!list.empty()) {
    std::stable_sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
      int c = CompareText(Author(a), Author(b), 30);
      if (c) return c < 0;
      return CompareText(Title(a), Title(b), 26) < 0;
    });
  }
  auto authorDiffers = [&](size_t i) { return CompareText(Author(entries[i]), Author(entries[i - 1]), 30) != 0; };

  Append(f.mindex2, entries[0].bytes.data() + 32, kIndexRecordSize);
  Append(f.mindex2, entries[0].bytes.data(), kIndexRecordSize);
  for (size_t i = 1; i < list.size(); ++i) {
    if (authorDiffers(i)) Append(f.mindex2, entries[i].bytes.data() + 32, kIndexRecordSize);
    Append(f.mindex2, entries[i].bytes.data(), kIndexRecordSize);
  }
  AppendZeros(f.mindex2, kIndexRecordSize);

  uint32_t p = 0;
  auto writeAuthor = [&](size_t i) {
    AppendU16(f.mindex4, 0xFFFF);
    Append(f.mindex4, Author(entries[i]), 28);
    AppendU16(f.mindex4, static_cast<uint16_t>(p));
  };
  writeAuthor(0);
  p = 1;
  for (size_t i = 1; i < list.size(); ++i) {
    p = p + 1;
    if (authorDiffers(i)) {
      writeAuthor(i);
      p = p + 1;
    }
  }
  AppendZeros(f.mindex4, kIndexRecordSize);

  alpha.fill(0xFFFF);
  uint32_t g = 0;
  const uint8_t* previous = nullptr;
  static const uint8_t kEmpty[30] = {};
  for (size_t i = 0; i < list.size(); ++i) {
    const uint8_t* author = Author(entries[i]);
    int k = LetterIndex(author[0]);
    if (k >= 0 && alpha[static_cast<size_t>(k)] == 0xFFFF) alpha[static_cast<size_t>(k)] = static_cast<uint16_t>(g);
    if (CompareText(author, previous ? previous : kEmpty, 30) != 0) ++g;
    previous = author;
  }
  f.malpha2 = LetterTable(alpha);
  return f;
}

std::optional<SongList> ParseIndexFiles(const Bytes& mindex0, const Bytes& mindex2) {
  size_t n = mindex0.size() / kIndexRecordSize;
  if (n == 0) return std::nullopt;
  SongList list;
  list.reserve(std::min(n - 1, kListCapacity));
  std::unordered_multimap<uint16_t, size_t> byCode;
  for (size_t i = 0; i + 1 < n && list.size() < kListCapacity; ++i) {
    const uint8_t* rec = mindex0.data() + i * kIndexRecordSize;
    SongRecord r;
    r.code = static_cast<uint16_t>(rec[0] | rec[1] << 8);
    r.fileName = SongFileName(r.code, (rec[29] & 1) != 0);
    r.listIndex = static_cast<uint16_t>(list.size());
    r.title = FieldText(rec + 2, 26, 26);  // byte 28 is forced to zero
    byCode.emplace(r.code, list.size());
    list.push_back(std::move(r));
  }
  Renumber(list);

  std::string current;
  size_t m = mindex2.size() / kIndexRecordSize;
  for (size_t i = 0; i + 1 < m; ++i) {
    const uint8_t* rec = mindex2.data() + i * kIndexRecordSize;
    uint16_t first = static_cast<uint16_t>(rec[0] | rec[1] << 8);
    if (first == kAuthorHeaderMark) {
      current = FieldText(rec + 2, 30, kRecordTextMax);
      continue;
    }
    auto range = byCode.equal_range(first);
    for (auto it = range.first; it != range.second; ++it) list[it->second].author = current;
  }
  return list;
}

}  // namespace kestro::library

// Build tool: writes the song database MIDI.DBF (a dBASE III table) from its
// semicolon-separated source. The first line names the fields as NAME:LENGTH;
// every text is UTF-8 in the source and Latin-1 in the table.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : line) {
    if (c == ';') {
      out.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestro;
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestro-dbfgen SOURCE.csv MIDI.DBF\n");
    return 2;
  }
  auto text = ReadTextFile(argv[1]);
  if (!text) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  std::istringstream in(*text);
  std::string line;
  std::getline(in, line);
  struct Field {
    std::string name;
    int length;
  };
  std::vector<Field> fields;
  for (const auto& f : Split(line)) {
    size_t colon = f.find(':');
    if (colon == std::string::npos || colon > 10) {
      std::fprintf(stderr, "bad field %s\n", f.c_str());
      return 1;
    }
    fields.push_back({f.substr(0, colon), std::stoi(f.substr(colon + 1))});
  }
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto values = Split(Utf8ToLatin1(line));
    if (values.size() != fields.size()) {
      std::fprintf(stderr, "row with %zu values: %s\n", values.size(), line.c_str());
      return 1;
    }
    rows.push_back(values);
  }
  int recordLength = 1;
  for (const auto& f : fields) recordLength += f.length;
  int headerLength = 32 + 32 * static_cast<int>(fields.size()) + 1;
  Bytes out(32, 0);
  out[0] = 0x03;
  out[1] = 126;  // last update: 2026-12-09
  out[2] = 12;
  out[3] = 9;
  uint32_t n = static_cast<uint32_t>(rows.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(n >> (8 * i));
  out[8] = static_cast<uint8_t>(headerLength);
  out[9] = static_cast<uint8_t>(headerLength >> 8);
  out[10] = static_cast<uint8_t>(recordLength);
  out[11] = static_cast<uint8_t>(recordLength >> 8);
  for (const auto& f : fields) {
    Bytes d(32, 0);
    for (size_t i = 0; i < f.name.size(); ++i) d[i] = static_cast<uint8_t>(f.name[i]);
    d[11] = 'C';
    d[16] = static_cast<uint8_t>(f.length);
    out.insert(out.end(), d.begin(), d.end());
  }
  out.push_back(0x0D);
  for (const auto& r : rows) {
    out.push_back(' ');
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string v = r[i].substr(0, static_cast<size_t>(fields[i].length));
      v.resize(static_cast<size_t>(fields[i].length), ' ');
      out.insert(out.end(), v.begin(), v.end());
    }
  }
  out.push_back(0x1A);
  if (!WriteBinaryFile(argv[2], out)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

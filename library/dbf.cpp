#include "library/dbf.h"

#include <cstring>

#include "platform/fileutil.h"

namespace kestro::library {

namespace {
bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Records longer than this cannot come from a dBASE table.
constexpr size_t kMaxRecordLength = 65535;
}  // namespace

std::unique_ptr<DbfTable> DbfTable::Open(const std::filesystem::path& path) {
  auto bytes = ReadBinaryFile(path);
  if (!bytes || bytes->size() < 33) return nullptr;
  auto t = std::unique_ptr<DbfTable>(new DbfTable());
  t->data_ = std::move(*bytes);
  const auto& d = t->data_;
  size_t pos = 32;
  size_t offset = 0;
  while (true) {
    if (pos >= d.size()) return nullptr;
    if (d[pos] == 0x0D) {
      ++pos;
      break;
    }
    if (pos + 32 > d.size()) return nullptr;
    Field f;
    const char* name = reinterpret_cast<const char*>(d.data() + pos);
    f.name.assign(name, strnlen(name, 11));
    f.length = d[pos + 16];
    f.offset = offset;
    offset += f.length;
    t->fields_.push_back(std::move(f));
    pos += 32;
  }
  t->recordLength_ = 1 + offset;
  if (t->fields_.empty() || t->recordLength_ > kMaxRecordLength) return nullptr;
  // The header states where the records begin; a value that cannot be
  // right falls back to what follows the terminator (one 0x00 padding byte
  // allowed).
  size_t headerLength = d[8] | d[9] << 8;
  if (headerLength >= pos && headerLength <= d.size()) {
    t->firstRecord_ = headerLength;
  } else {
    t->firstRecord_ = pos < d.size() && d[pos] == 0x00 ? pos + 1 : pos;
  }
  t->recordCount_ = (d.size() - t->firstRecord_) / t->recordLength_;
  return t;
}

const DbfTable::Field* DbfTable::FindField(std::string_view name) const {
  for (const auto& f : fields_) {
    if (EqualNoCase(f.name, name)) return &f;
  }
  return nullptr;
}

bool DbfTable::FindRecord(std::string_view text, std::string_view keyField) {
  const Field* key = FindField(keyField);
  if (!key) return false;
  for (size_t i = 0; i < recordCount_; ++i) {
    current_ = static_cast<long>(i);
    std::string value;
    GetField(keyField, key->length, &value);
    if (value == text) return true;
  }
  current_ = -1;
  return false;
}

bool DbfTable::GetField(std::string_view name, size_t maxLength, std::string* out) const {
  const Field* f = FindField(name);
  if (!f || current_ < 0) return false;
  const uint8_t* rec = data_.data() + firstRecord_ + static_cast<size_t>(current_) * recordLength_ + 1;
  size_t n = std::min(f->length, maxLength);
  std::string v(reinterpret_cast<const char*>(rec + f->offset), n);
  size_t end = v.size();
  while (end > 1 && (v[end - 1] == ' ' || v[end - 1] == '\0')) --end;
  v.resize(end);
  *out = v;
  return true;
}

}  // namespace kestro::library

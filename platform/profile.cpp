#include "platform/profile.h"

#include <cctype>
#include <cstring>

#include "platform/fileutil.h"

namespace kestro {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// "[name]" with optional blanks; returns the name, or nothing for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return Trim(t);
}

// "key=value": the key, trimmed; nothing for lines without '='.
std::optional<std::string_view> KeyName(std::string_view line, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = Trim(line.substr(0, eq));
  if (key.empty() || key.front() == ';' || key.front() == '[') return std::nullopt;
  if (value) *value = line.substr(eq + 1);
  return key;
}

std::string Unquote(std::string_view v) {
  v = Trim(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

}  // namespace

ProfileText::ProfileText(std::string_view text) {
  if (text.find("\r\n") != std::string_view::npos) eol_ = "\r\n";
  finalEol_ = text.empty() || text.back() == '\n';
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back({std::string(line)});
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
}

long ProfileText::FindSection(std::string_view section) const {
  std::string_view want = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = SectionName(lines_[i].text);
    if (name && EqualNoCase(*name, want)) return static_cast<long>(i);
  }
  return -1;
}

size_t ProfileText::SectionEnd(long header) const {
  size_t i = static_cast<size_t>(header) + 1;
  while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
  return i;
}

std::optional<std::string> ProfileText::Find(std::string_view section, std::string_view key) const {
  long h = FindSection(section);
  if (h < 0) return std::nullopt;
  std::string_view want = Trim(key);
  size_t end = SectionEnd(h);
  for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i) {
    std::string_view value;
    auto name = KeyName(lines_[i].text, &value);
    if (name && EqualNoCase(*name, want)) return Unquote(value);
  }
  return std::nullopt;
}

void ProfileText::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view sec = Trim(section);
  std::string_view k = Trim(key);
  long h = FindSection(sec);
  if (h < 0) {
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back({""});
    lines_.push_back({"[" + std::string(sec) + "]"});
    lines_.push_back({std::string(k) + "=" + std::string(value)});
    finalEol_ = true;
    return;
  }
  size_t end = SectionEnd(h);
  for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i) {
    auto name = KeyName(lines_[i].text, nullptr);
    if (name && EqualNoCase(*name, k)) {
      lines_[i].text = std::string(*name) + "=" + std::string(value);
      return;
    }
  }
  // New key after the last non-blank line of the section.
  size_t at = end;
  while (at > static_cast<size_t>(h) + 1 && Trim(lines_[at - 1].text).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<long>(at), {std::string(k) + "=" + std::string(value)});
  if (at == lines_.size() - 1) finalEol_ = true;
}

std::string ProfileText::Text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i].text;
    if (i + 1 < lines_.size() || finalEol_) out += eol_;
  }
  return out;
}

int ParseProfileInt(std::string_view value) {
  std::string_view v = Trim(value);
  bool neg = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    neg = v.front() == '-';
    v.remove_prefix(1);
  }
  long long n = 0;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    v.remove_prefix(2);
    for (char c : v) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else break;
      n = (n * 16 + d) & 0xFFFFFFFFLL;
    }
    return static_cast<int>(static_cast<uint32_t>(n));
  }
  for (char c : v) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > 0xFFFFFFFFLL) n &= 0xFFFFFFFFLL;
  }
  uint32_t u = static_cast<uint32_t>(n);
  return neg ? -static_cast<int>(u) : static_cast<int>(u);
}

std::string EncodeProfileStruct(const void* data, size_t size) {
  static const char* hex = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string s;
  s.reserve(size * 2 + 2);
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) {
    s += hex[p[i] >> 4];
    s += hex[p[i] & 15];
    sum += p[i];
  }
  s += hex[(sum >> 4) & 15];
  s += hex[sum & 15];
  return s;
}

bool DecodeProfileStruct(std::string_view text, void* out, size_t size) {
  text = Trim(text);
  if (text.size() != 2 * (size + 1)) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes(size + 1);
  for (size_t i = 0; i <= size; ++i) {
    int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += bytes[i];
  if ((sum & 0xFF) != bytes[size]) return false;
  if (size) std::memcpy(out, bytes.data(), size);
  return true;
}

ProfileFile::ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

ProfileText ProfileFile::Load() const {
  auto text = ReadTextFile(path_);
  return text ? ProfileText(*text) : ProfileText();
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                                   size_t maxChars) const {
  auto v = Load().Find(section, key);
  std::string s = v ? *v : std::string(def);
  if (s.size() > maxChars) s.resize(maxChars);
  return s;
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int def) const {
  auto v = Load().Find(section, key);
  return v ? ParseProfileInt(*v) : def;
}

bool ProfileFile::GetStruct(std::string_view section, std::string_view key, void* out, size_t size) const {
  auto v = Load().Find(section, key);
  return v && DecodeProfileStruct(*v, out, size);
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // Values are single lines: a line break would start a new key.
  std::string clean(value);
  for (char& c : clean) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::filesystem::path lockPath = path_;
  lockPath += ".lock";
  return WithFileLock(lockPath, [&] {
    ProfileText text = Load();
    text.Set(section, key, clean);
    return WriteFileAtomic(path_, text.Text());
  });
}

bool ProfileFile::WriteStruct(std::string_view section, std::string_view key, const void* data, size_t size) {
  return WriteString(section, key, EncodeProfileStruct(data, size));
}

}  // namespace kestro

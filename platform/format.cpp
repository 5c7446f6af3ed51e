#include "platform/format.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kestro {

int64_t FmtArg::AsInt() const {
  switch (kind_) {
    case Kind::Int: return i_;
    case Kind::UInt: return static_cast<int64_t>(u_);
    case Kind::Double: return static_cast<int64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

uint64_t FmtArg::AsUInt() const {
  switch (kind_) {
    case Kind::Int: return static_cast<uint64_t>(i_);
    case Kind::UInt: return u_;
    case Kind::Double: return static_cast<uint64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

double FmtArg::AsDouble() const {
  switch (kind_) {
    case Kind::Int: return static_cast<double>(i_);
    case Kind::UInt: return static_cast<double>(u_);
    case Kind::Double: return d_;
    case Kind::Text: return 0;
  }
  return 0;
}

std::string FmtArg::AsText() const {
  switch (kind_) {
    case Kind::Int: return std::to_string(i_);
    case Kind::UInt: return std::to_string(u_);
    case Kind::Double: return std::to_string(d_);
    case Kind::Text: return std::string(s_);
  }
  return {};
}

namespace {

constexpr int kMaxWidth = 1024;

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  int longs = 0;  // number of 'l' modifiers
  char conv = 0;
};

// Parses one conversion starting after '%'; returns the index after it, or
// npos when the text ends inside the conversion.
size_t ParseSpec(std::string_view f, size_t i, Spec& s, const std::vector<FmtArg>& args, size_t& next) {
  auto takeStar = [&]() -> int {
    int v = next < args.size() ? static_cast<int>(args[next].AsInt()) : 0;
    ++next;
    return v;
  };
  while (i < f.size() && std::string_view("-+ #0'").find(f[i]) != std::string_view::npos) s.flags += f[i++];
  if (i < f.size() && f[i] == '*') {
    s.width = takeStar();
    if (s.width < 0) {
      s.flags += '-';
      s.width = -s.width;
    }
    ++i;
  } else {
    int w = 0;
    bool any = false;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
      w = w * 10 + (f[i++] - '0');
      if (w > kMaxWidth) w = kMaxWidth;
      any = true;
    }
    if (any) s.width = w;
  }
  if (i < f.size() && f[i] == '.') {
    ++i;
    if (i < f.size() && f[i] == '*') {
      s.precision = takeStar();
      ++i;
    } else {
      int p = 0;
      while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
        p = p * 10 + (f[i++] - '0');
        if (p > kMaxWidth) p = kMaxWidth;
      }
      s.precision = p;
    }
  }
  if (s.width > kMaxWidth) s.width = kMaxWidth;
  if (s.precision > kMaxWidth) s.precision = kMaxWidth;
  while (i < f.size() && std::string_view("hlLqjzt").find(f[i]) != std::string_view::npos) {
    if (f[i] == 'l' || f[i] == 'L' || f[i] == 'q' || f[i] == 'j' || f[i] == 'z' || f[i] == 't') ++s.longs;
    ++i;
  }
  if (i >= f.size()) return std::string_view::npos;
  s.conv = f[i];
  return i + 1;
}

std::string Build(const Spec& s, const char* length, char conv) {
  std::string out = "%";
  for (char c : s.flags) {
    if (c != '\'') out += c;
  }
  if (s.width >= 0) out += std::to_string(s.width);
  if (s.precision >= 0) out += "." + std::to_string(s.precision);
  out += length;
  out += conv;
  return out;
}

template <typename T>
std::string Snprintf(const std::string& spec, T value) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, spec.c_str(), value);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), spec.c_str(), value);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

std::string FormatText(std::string_view f, std::initializer_list<FmtArg> list) {
  std::vector<FmtArg> args(list);
  static const FmtArg kNone(static_cast<const char*>(""));
  std::string out;
  size_t next = 0;
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < f.size() && f[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    Spec s;
    size_t end = ParseSpec(f, i + 1, s, args, next);
    if (end == std::string_view::npos) {
      out.append(f.substr(i));
      break;
    }
    const FmtArg& a = next < args.size() ? args[next] : kNone;
    switch (s.conv) {
      case 'd':
      case 'i':
        if (s.longs) out += Snprintf(Build(s, "ll", 'd'), static_cast<long long>(a.AsInt()));
        else out += Snprintf(Build(s, "", 'd'), static_cast<int>(static_cast<int32_t>(a.AsInt())));
        ++next;
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        if (s.longs) out += Snprintf(Build(s, "ll", s.conv), static_cast<unsigned long long>(a.AsUInt()));
        else out += Snprintf(Build(s, "", s.conv), static_cast<unsigned>(static_cast<uint32_t>(a.AsUInt())));
        ++next;
        break;
      case 'c':
        out += Snprintf(Build(s, "", 'c'), static_cast<int>(static_cast<unsigned char>(a.AsInt())));
        ++next;
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        out += Snprintf(Build(s, "", s.conv), a.AsDouble());
        ++next;
        break;
      case 's': {
        std::string text = a.AsText();
        std::string spec = Build(s, "", 's');
        out += Snprintf(spec, text.c_str());
        ++next;
        break;
      }
      case 'p':
        out += Snprintf(std::string("%llx"), static_cast<unsigned long long>(a.AsUInt()));
        ++next;
        break;
      case 'n':
        // Never writes through an argument.
        ++next;
        break;
      default:
        // Unknown conversion: show it as written.
        out.append(f.substr(i, end - i));
        break;
    }
    i = end;
  }
  return out;
}

std::string FormatSignature(std::string_view f) {
  std::string sig;
  std::vector<FmtArg> none;
  size_t i = 0;
  while (i < f.size()) {
    if (f[i] != '%') {
      ++i;
      continue;
    }
    if (i + 1 < f.size() && f[i + 1] == '%') {
      i += 2;
      continue;
    }
    Spec s;
    size_t next = 0;
    size_t end = ParseSpec(f, i + 1, s, none, next);
    if (end == std::string_view::npos) break;
    char c = s.conv;
    if (c == 'i') c = 'd';
    if (c == 'X' || c == 'o') c = 'x';
    sig += c;
    i = end;
  }
  return sig;
}

}  // namespace kestro

// printf-style formatting that cannot crash on a format text it did not
// expect. Message texts come from the dictionary file, which a user can edit,
// so a "%s" where the code passes a number (or a missing argument) must give
// a readable result instead of undefined behaviour.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestro {

class FmtArg {
 public:
  enum class Kind { Int, UInt, Double, Text };

  template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FmtArg(T v) : kind_(Kind::Int), i_(v) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_signed_v<T>, int> = 0>
  FmtArg(T v) : kind_(Kind::UInt), u_(v) {}
  FmtArg(double v) : kind_(Kind::Double), d_(v) {}
  FmtArg(const char* s) : kind_(Kind::Text), s_(s ? s : "") {}
  FmtArg(std::string_view s) : kind_(Kind::Text), s_(s) {}
  FmtArg(const std::string& s) : kind_(Kind::Text), s_(s) {}

  Kind kind() const { return kind_; }
  int64_t AsInt() const;
  uint64_t AsUInt() const;
  double AsDouble() const;
  std::string AsText() const;

 private:
  Kind kind_;
  int64_t i_ = 0;
  uint64_t u_ = 0;
  double d_ = 0;
  std::string_view s_;
};

std::string FormatText(std::string_view fmt, std::initializer_list<FmtArg> args);

template <typename... A>
std::string Fmt(std::string_view fmt, const A&... a) {
  return FormatText(fmt, {FmtArg(a)...});
}

// The conversion letters of a format text in order ("%-5s %d" gives "sd").
// Used to check that a text fits the arguments the code passes.
std::string FormatSignature(std::string_view fmt);

}  // namespace kestro

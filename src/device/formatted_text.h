// A log line or message made from one of the program's printf formats and its values, whole
// whatever its length (a long folder name is never cut short).
#pragma once

#include <cstdio>
#include <string>

namespace zephor::device {

namespace formatted_detail {

inline const char* Printable(const std::string& text) { return text.c_str(); }
template <typename Value>
Value Printable(Value value) {
  return value;
}

}  // namespace formatted_detail

template <typename... Values>
std::string Formatted(const char* format, const Values&... values) {
  using formatted_detail::Printable;
  const int length = std::snprintf(nullptr, 0, format, Printable(values)...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, Printable(values)...);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace zephor::device

#ifndef OLVESK_SERIES_ASCII_H_
#define OLVESK_SERIES_ASCII_H_

#include <algorithm>
#include <string_view>

namespace olvesk {

// Letter case of ASCII alone, the same in every locale: bytes beyond ASCII,
// parts of UTF-8 sequences, are left as they are.
inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
}

}  // namespace olvesk

#endif  // OLVESK_SERIES_ASCII_H_

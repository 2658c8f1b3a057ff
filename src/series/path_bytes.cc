#include "series/path_bytes.h"

#include <cstddef>

namespace olvesk {
namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

constexpr char32_t kByteKeeper = 0xDC00;

void AppendUtf16(char32_t c, std::u16string* units) {
  if (c >= 0x10000) {
    units->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    units->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  } else {
    units->push_back(static_cast<char16_t>(c));
  }
}

void AppendUtf8(char32_t c, std::string* bytes) {
  const auto put = [bytes](char32_t byte) {
    bytes->push_back(static_cast<char>(byte));
  };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

// The code of the unit at |*i| of |units|; a surrogate pair is taken whole,
// leaving |*i| at its second unit, and a lone surrogate is its own code.
char32_t CodeAt(std::u16string_view units, std::size_t* i) {
  const char32_t c = units[*i];
  if (IsHighSurrogate(c) && *i + 1 < units.size() &&
      IsLowSurrogate(units[*i + 1])) {
    ++*i;
    return 0x10000 + ((c - 0xD800) << 10) + (units[*i] - 0xDC00);
  }
  return c;
}

// Reads the code that starts at |*at| of |bytes| into |*c| and moves |*at|
// past it; surrogates count as codes. False for bytes that are no such code:
// a stray or missing continuation byte, an overlong form, or a code beyond
// U+10FFFF.
bool NextCode(std::string_view bytes, std::size_t* at, char32_t* c) {
  const auto lead = static_cast<unsigned char>(bytes[*at]);
  std::size_t extra = 0;
  char32_t least = 0;
  *c = lead;
  if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    *c = lead & 0x07;
    least = 0x10000;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    *c = lead & 0x0F;
    least = 0x800;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    *c = lead & 0x1F;
    least = 0x80;
  } else if (lead >= 0x80) {
    return false;
  }
  if (bytes.size() - *at <= extra) return false;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(bytes[*at + k]);
    if ((next & 0xC0) != 0x80) return false;
    *c = (*c << 6) | (next & 0x3F);
  }
  if (*c < least || *c > 0x10FFFF) return false;
  *at += extra + 1;
  return true;
}

}  // namespace

std::string PathBytes(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    AppendUtf8(CodeAt(units, &i), &bytes);
  }
  return bytes;
}

bool PathUnits(std::string_view bytes, std::u16string* units) {
  units->clear();
  units->reserve(bytes.size());
  bool after_lone_high = false;
  std::size_t at = 0;
  while (at < bytes.size()) {
    char32_t c = 0;
    if (!NextCode(bytes, &at, &c) || c == 0 ||
        (after_lone_high && IsLowSurrogate(c))) {
      units->clear();
      return false;
    }
    after_lone_high = IsHighSurrogate(c);
    AppendUtf16(c, units);
  }
  return true;
}

std::u16string UnitsKeepingBytes(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t start = at;
    char32_t c = 0;
    // A surrogate written as UTF-8 is no well-formed text either: its bytes
    // are kept one by one, or they would come back as another name's.
    if (NextCode(bytes, &at, &c) && !IsHighSurrogate(c) && !IsLowSurrogate(c)) {
      AppendUtf16(c, &units);
    } else {
      at = start + 1;
      units.push_back(static_cast<char16_t>(
          kByteKeeper + static_cast<unsigned char>(bytes[start])));
    }
  }
  return units;
}

std::string BytesKeptInUnits(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t c = CodeAt(units, &i);
    if (c >= kByteKeeper + 0x80 && c <= kByteKeeper + 0xFF) {
      bytes.push_back(static_cast<char>(c - kByteKeeper));
    } else {
      AppendUtf8(IsHighSurrogate(c) || IsLowSurrogate(c) ? 0xFFFD : c, &bytes);
    }
  }
  return bytes;
}

}  // namespace olvesk

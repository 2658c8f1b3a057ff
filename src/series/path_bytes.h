#ifndef OLVESK_SERIES_PATH_BYTES_H_
#define OLVESK_SERIES_PATH_BYTES_H_

#include <string>
#include <string_view>

namespace olvesk {

// Windows names are UTF-16 that need not be well formed: a lone surrogate
// may be part of a name there. The core takes paths as bytes, so Windows
// names travel as UTF-8 in which each lone surrogate is written as the three
// bytes its code would take (ED A0 80 to ED BF BF). A well-formed name's
// bytes are its plain UTF-8.

// |units| as those bytes.
std::string PathBytes(std::u16string_view units);

// The UTF-16 units of |bytes|. False, with |units| cleared, where the bytes
// are not such UTF-8, hold a NUL (which would end the path early), or write
// a surrogate pair as two lone surrogates (so each name has one spelling).
bool PathUnits(std::string_view bytes, std::u16string* units);

// Linux names are bytes that need not be UTF-8 at all. To travel as UTF-16
// text and still reach their files, each byte that is not part of
// well-formed UTF-8 is held as the lone surrogate U+DC00 plus its value
// (U+DC80 to U+DCFF), which no well-formed text holds.

// |bytes| as such text.
std::u16string UnitsKeepingBytes(std::string_view bytes);

// The bytes that UnitsKeepingBytes() made into |units|. Any other lone
// surrogate, which no name holds, becomes U+FFFD.
std::string BytesKeptInUnits(std::u16string_view units);

}  // namespace olvesk

#endif  // OLVESK_SERIES_PATH_BYTES_H_

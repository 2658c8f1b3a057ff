#ifndef OLVESK_SERIES_CAR_FILE_H_
#define OLVESK_SERIES_CAR_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "series/file_system.h"
#include "series/status.h"

namespace olvesk {

// The class entry of a car file: these ten bytes, then the class digit.
inline constexpr std::string_view kClassMarker = "car_class=";

// The separator between a folder and a file name in a car file path.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The path rules below count characters, not bytes: a path is UTF-8, and a
// byte that is not part of a valid UTF-8 sequence counts as one character.

// |folder|, the separator, then |name|. The separator is always inserted,
// also after a folder that already ends in one.
std::string CarFilePath(std::string_view folder, std::string_view name);

// The three characters that begin seven characters from the end of |path|:
// "gns" for ".../mustang.gns.car". A path of fewer than seven characters
// yields its first three.
std::string FileSeriesCode(std::string_view path);

// The three characters that begin eight characters from the end of |folder|:
// "abc" for ".../abc/cars". A path of fewer than eight characters yields its
// first three.
std::string FolderSeriesCode(std::string_view folder);

// |path| without its last eight characters, then ".", |target_code| and
// ".car": ".../mustang.gns.car" becomes ".../mustang.cup.car".
std::string NewCarFilePath(std::string_view path, std::string_view target_code);

// Finds the first class marker in a stream of bytes fed to it in chunks of
// any size, also when the marker is split across chunks. Keeps only the last
// few bytes of what it has seen.
class MarkerScanner {
 public:
  // Scans the next |size| bytes of the stream. Returns found().
  bool Feed(const char* data, std::size_t size);

  bool found() const { return found_; }
  // The stream offset of the first marker, once found.
  std::uint64_t offset() const { return offset_; }

 private:
  std::uint64_t consumed_ = 0;
  // The last bytes seen, fewer than a marker's length.
  char tail_[kClassMarker.size() - 1] = {};
  std::size_t tail_size_ = 0;
  bool found_ = false;
  std::uint64_t offset_ = 0;
};

// The bytes read per call while looking for the marker. Car files are a few
// KiB, and the first read, into a buffer on the stack, takes all of one. The
// rest of a larger file is read in larger chunks into one buffer from the
// heap: few calls for a big file, and the same memory whatever its size.
inline constexpr std::size_t kScanChunkSize = 64 * 1024;
inline constexpr std::size_t kLargeScanChunkSize = 1024 * 1024;

// What became of one car file.
struct ConvertResult {
  enum class Outcome {
    kConverted,  // patched and renamed to |new_path|
    kNoMarker,   // no class entry: unchanged under its old name
    kFailed,     // not converted; |status| says why; unchanged unless
                 // |status| says it could not be restored
  };
  Outcome outcome = Outcome::kFailed;
  std::string new_path;
  Status status;

  bool converted() const { return outcome == Outcome::kConverted; }
};

// Converts the car file at |path| to the target series: writes
// |target_digit| as the byte after the first class marker (appending it when
// the marker ends the file) and renames the file to NewCarFilePath(), which
// replaces a file already there. When any step fails the file is restored
// and keeps its old name. A symbolic link at |path|, a file with other names
// (hard links), or a folder or the file itself at the new path, is never
// converted. The file is closed on return.
ConvertResult ConvertCarFile(FileSystem& fs, const std::string& path,
                             std::string_view target_code, char target_digit);

}  // namespace olvesk

#endif  // OLVESK_SERIES_CAR_FILE_H_

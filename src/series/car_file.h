#ifndef OLVESK_SERIES_CAR_FILE_H_
#define OLVESK_SERIES_CAR_FILE_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

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

  // Passes over |size| bytes known to hold no marker, a hole of a sparse
  // file: a marker never spans them.
  void Skip(std::uint64_t size);

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

// A file itself, whatever name it goes by: its volume and file number.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  static FileId Of(const FileInfo& info) { return {info.device, info.inode}; }
  auto operator<=>(const FileId&) const = default;
};

// The files a run has converted, which no later file of the run may
// replace. A file is known by its file number, and where the system gives
// its modification time, also by its volume, size and that time: some
// drivers (FUSE ones among them) number a file anew for every spelling of
// its name they are asked about, so on a drive that ignores case
// É.pta.car and é.pta.car may show one file under two numbers. A
// different file taken for one of these is only left unconverted.
class MadeFiles {
 public:
  void Add(const FileInfo& info);
  bool Holds(const FileInfo& info) const;
  bool empty() const { return ids_.empty(); }

 private:
  using Stamp = std::tuple<std::uint64_t, std::uint64_t, std::int64_t>;
  static Stamp StampOf(const FileInfo& info) {
    return {info.device, info.size, info.modified};
  }

  std::set<FileId> ids_;
  std::set<Stamp> stamps_;
};

// What became of one car file.
struct ConvertResult {
  enum class Outcome {
    kConverted,  // patched and renamed to |new_path|
    kNoMarker,   // no class entry: unchanged under its old name
    kFailed,     // not converted; |status| says why; unchanged unless
                 // |status| says it could not be restored
    kStopped,    // the caller asked to stop while the file was read:
                 // unchanged under its old name
    kPending,    // BeginCarFile() only: the digit is written, the file open
  };
  Outcome outcome = Outcome::kFailed;
  std::string new_path;
  FileInfo made;  // the converted file, as its new name showed it
  // Why it was not converted; for a converted file, what went wrong after
  // the rename, when the system could not confirm the new name or close the
  // file.
  Status status;
  // kFailed only: the new digit is in the file under its old name, because
  // the old one could not be put back.
  bool unrestored = false;

  bool converted() const { return outcome == Outcome::kConverted; }
};

// What a conversion must keep to besides the file itself.
struct ConvertOptions {
  // Files that must never be replaced at the new path: those the same run
  // has converted already. Checked by identity right before the rename, so
  // a name that differs only in letter case on a file system that ignores
  // case is caught too.
  const MadeFiles* keep = nullptr;
  // Asked after each large read of a big file; true stops the conversion
  // before anything is written.
  std::function<bool()> stop;
};

// Undo of the one-byte patch at |offset|.
struct Patch {
  std::uint64_t offset = 0;
  bool appended = false;  // the digit grew the file by one byte
  char original = 0;      // the byte it overwrote otherwise
};

// A car file whose new digit is written but neither durable nor renamed
// yet. It stays open, so that it is renamed and, where need be, put back as
// the one file that was checked.
struct PendingFile {
  OpenFile file;  // its info is the file as it was opened and checked
  std::string new_path;
  Patch patch;
};

// ConvertCarFile() in two halves, for converting many files with one sync
// between them. BeginCarFile() opens and checks the file, finds the marker
// and writes |target_digit|: it returns kPending with |*pending| filled and
// the file open, or any other outcome with the file closed and as it was.
ConvertResult BeginCarFile(FileSystem& fs, const std::string& path,
                           std::string_view target_code, char target_digit,
                           const ConvertOptions& options, PendingFile* pending);

// Once the digit is on stable storage (|synced| is ok), renames the pending
// file to its new path, unless a file of |keep| has taken that name since;
// otherwise, or when a step fails, puts the old byte back. Closes the file.
ConvertResult FinishCarFile(FileSystem& fs, PendingFile* pending,
                            const Status& synced, const MadeFiles* keep);

// Converts the car file at |path| to the target series: writes
// |target_digit| as the byte after the first class marker (appending it when
// the marker ends the file) and renames the file to NewCarFilePath(), which
// replaces a file already there. When any step fails the file is restored
// and keeps its old name. A symbolic link at |path|, a file with other names
// (hard links), a file another conversion holds, or a folder or a file of
// |options.keep| at the new path, is never converted.
// The file written, restored and renamed is the one file that was checked,
// held open throughout, never another that takes its name meanwhile. It is
// closed on return.
ConvertResult ConvertCarFile(FileSystem& fs, const std::string& path,
                             std::string_view target_code, char target_digit,
                             const ConvertOptions& options = {});

}  // namespace olvesk

#endif  // OLVESK_SERIES_CAR_FILE_H_

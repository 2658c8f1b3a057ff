// olvesk-bench: times what Olvesk does against the plain system calls that
// do the same work, on folders of car files it makes itself, and prints a
// markdown table of the figures, their ratios and the targets.
//
//   build/bin/olvesk-bench [--quick] [--dir FOLDER]
//
// Linux only: it uses memmem, fdatasync, syncfs and /proc/self.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QtGlobal>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "series/car_file.h"
#include "series/controls.h"
#include "series/convert_command.h"
#include "series/real_file_system.h"
#include "series/series_table.h"
#include "window/file_list_box.h"
#include "window/widget_controls.h"

namespace olvesk::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// The series every Modify All run converts to; the folder it runs in is
// named for it, as the user's target folder would be.
const SeriesInfo& kTarget = kSeriesTable[3];  // pta

// The three series the car files come from, mixed.
const SeriesInfo* const kSourceSeries[] = {&kSeriesTable[0], &kSeriesTable[1],
                                           &kSeriesTable[2]};

// Each car file is this long; its marker lies at a different offset in each.
constexpr std::size_t kCarFileSize = 4 * kKiB;

// The filler of the car files. It has no "c", so no class marker can form in
// it or across its edge with the one marker written into a file.
constexpr std::string_view kFiller = "spring_rate=1.0\n";

// How much more the peak resident set of a scan may rise for the big file
// than for the small one (see Main).
constexpr long kPeakSlackKib = 256;

// The folder the benchmark made and removes when it ends, also on failure.
std::string g_root;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "olvesk-bench: %s\n", what.c_str());
  if (!g_root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
  }
  std::exit(2);
}

// Stops with the system's reason unless |ok|. The message is put together
// only on failure, so that checks cost nothing in the timed loops.
void Check(bool ok, const char* op, const std::string& subject = "") {
  if (!ok) {
    const int error = errno;
    Die(std::string(op) + " " + subject + ": " + std::strerror(error));
  }
}

void Note(const std::string& text) {
  std::fprintf(stderr, "olvesk-bench: %s\n", text.c_str());
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The ratios of one comparison, one per run: their median, and the lowest
// and highest, which show how steady the machine was.
struct Ratios {
  double median = 0;
  double low = 0;
  double high = 0;
};

Ratios Summarize(const std::vector<double>& ratios) {
  return {Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
          *std::max_element(ratios.begin(), ratios.end())};
}

std::string Sv(std::string_view text) { return std::string(text); }

// ---------------------------------------------------------------------------
// Making and checking car files.

std::string CarFileName(int index, const SeriesInfo& series, bool upper) {
  char name[64];
  std::snprintf(name, sizeof(name), upper ? "CAR%05d.%s.CAR" : "car%05d.%s.car",
                index, Sv(series.code).c_str());
  if (upper) {
    for (char* c = name; *c; ++c) *c = static_cast<char>(std::toupper(*c));
  }
  return name;
}

void FillWithFiller(char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) data[i] = kFiller[i % kFiller.size()];
}

// Writes "car_class=<digit>\n" at |offset|.
void PutMarker(char* data, std::size_t offset, char digit) {
  std::memcpy(data + offset, kClassMarker.data(), kClassMarker.size());
  data[offset + kClassMarker.size()] = digit;
  data[offset + kClassMarker.size() + 1] = '\n';
}

void WriteAll(int fd, const char* data, std::size_t size,
              const std::string& what) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    Check(put > 0, "write", what);
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

// Makes |folder| afresh with |count| car files of the three source series,
// each with its marker at another offset, and waits until they are on disk,
// so that a timed run starts from a quiet disk with the files in the page
// cache. Every eighth name is in capitals when |mixed_case|.
void MakeCarFolder(const std::string& folder, int count, bool mixed_case) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (error) Die("remove " + folder + ": " + error.message());
  std::filesystem::create_directories(folder, error);
  if (error) Die("make " + folder + ": " + error.message());
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(dir >= 0, "open", folder);
  char data[kCarFileSize];
  FillWithFiller(data, sizeof(data));
  constexpr std::size_t kLastMarkerOffset = kCarFileSize - 12;
  for (int i = 0; i < count; ++i) {
    const SeriesInfo& series = *kSourceSeries[i % 3];
    const std::string name = CarFileName(i, series, mixed_case && i % 8 == 0);
    // Offsets spread over the whole file, the first and the last included.
    const std::size_t offset =
        static_cast<std::size_t>(i * 2654435761ULL) % (kLastMarkerOffset + 1);
    FillWithFiller(data, sizeof(data));
    PutMarker(data, offset, series.digit);
    const int fd = openat(dir, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    Check(fd >= 0, "create", name);
    WriteAll(fd, data, sizeof(data), name.c_str());
    close(fd);
  }
  Check(syncfs(dir) == 0, "sync", folder);
  close(dir);
}

// The names in |folder| other than "." and "..", as readdir gives them.
std::vector<std::string> ReadNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  Check(dir != nullptr, "open", folder);
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
    names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

// Checks that every one of the |count| files of |folder| has been converted:
// it carries the target's code in its name and its digit after the marker.
void CheckAllConverted(const std::string& folder, int count,
                       const std::string& who) {
  const std::vector<std::string> names = ReadNames(folder);
  if (static_cast<int>(names.size()) != count) {
    Die(who + ": " + std::to_string(names.size()) + " files left of " +
        std::to_string(count));
  }
  const std::string suffix = "." + Sv(kTarget.code) + ".car";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (!name.ends_with(suffix)) Die(who + " did not rename " + name);
    if (i % 97 != 0) continue;
    std::ifstream in(folder + "/" + name, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::size_t at = text.find(kClassMarker);
    if (at == std::string::npos || text.size() != kCarFileSize ||
        text[at + kClassMarker.size()] != kTarget.digit) {
      Die(who + " did not patch " + name);
    }
  }
}

// ---------------------------------------------------------------------------
// a. Modify All.

class FixedDirectoryList : public DirectoryList {
 public:
  explicit FixedDirectoryList(std::string path) : path_(std::move(path)) {}
  std::string Path() const override { return path_; }

 private:
  std::string path_;
};

class CheckedBox : public CheckBox {
 public:
  int Value() const override { return 1; }
};

class RecordedMessages : public MessageBox {
 public:
  void Show(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

// Olvesk: the file list opens the folder, then the convert button is
// pressed with "Modify All?" checked, as the window does it, each batch
// made durable the way |batch_sync| says.
double ModifyAllWithOlvesk(FileListBox& file_list, const std::string& folder,
                           int count, RealFileSystem::BatchSync batch_sync) {
  file_list.SetPath("");
  QCoreApplication::processEvents();
  file_list.resumeFollowing();  // drops a re-read the last run left pending
  RealFileSystem fs(batch_sync);
  FixedDirectoryList dir_list(folder);
  CheckedBox modify_all;
  RecordedMessages messages;
  ProgressDialog progress(&file_list);

  const Clock::time_point start = Clock::now();
  file_list.SetPath(folder);
  // As the window's convert button runs it.
  file_list.pauseFollowing();
  ConvertCommand command(fs, dir_list, file_list, modify_all, messages,
                         progress);
  command.Run(std::string(kTarget.code), kTarget.digit);
  file_list.resumeFollowing();
  QCoreApplication::processEvents();
  const double seconds = Seconds(start);

  if (messages.texts != std::vector<std::string>{Sv(kDoneMessage)}) {
    std::string all;
    for (const std::string& text : messages.texts) all += "\n" + text;
    Die("Modify All reported:" + all);
  }
  CheckAllConverted(folder, count, "Olvesk");
  return seconds;
}

// The floor: the same system calls, and nothing else, in the order the
// conversion needs them.
double ModifyAllByHand(const std::string& folder, int count, bool sync) {
  static char buffer[kScanChunkSize];
  const std::string suffix = "." + Sv(kTarget.code) + ".car";

  const Clock::time_point start = Clock::now();
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  Check(listing != nullptr, "open", folder);
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] == '.') continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    names.emplace_back(entry->d_name);
  }
  closedir(listing);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(dir >= 0, "open", folder);
  std::string new_name;
  for (const std::string& name : names) {
    const int fd = openat(dir, name.c_str(), O_RDWR | O_CLOEXEC);
    Check(fd >= 0, "open", name);
    const ssize_t got = read(fd, buffer, sizeof(buffer));
    Check(got >= 0, "read", name);
    const void* hit = memmem(buffer, static_cast<std::size_t>(got),
                             kClassMarker.data(), kClassMarker.size());
    if (hit == nullptr) Die("no marker in " + name);
    const off_t at = static_cast<const char*>(hit) - buffer +
                     static_cast<off_t>(kClassMarker.size());
    Check(pwrite(fd, &kTarget.digit, 1, at) == 1, "write", name);
    if (sync) Check(fdatasync(fd) == 0, "sync", name);
    close(fd);
    new_name.assign(name, 0, name.size() - suffix.size());
    new_name += suffix;
    Check(renameat(dir, name.c_str(), dir, new_name.c_str()) == 0, "rename",
          name);
  }
  Check(fsync(dir) == 0, "sync", folder);
  close(dir);
  const double seconds = Seconds(start);

  CheckAllConverted(folder, count, "the floor loop");
  return seconds;
}

// What one Modify All comparison runs, each on a folder made afresh.
enum Contender {
  kOlvesk,            // Olvesk as it is: the batch sync chosen per batch
  kOlveskParallel,    // Olvesk, batches synced by fdatasync from threads
  kOlveskFileSystem,  // Olvesk, batches synced by one syncfs
  kFloorNoSync,       // the floor loop without fdatasync: the target
  kFloorSync,         // the floor loop with fdatasync per file
  kContenders,
};

const char* ContenderName(int who) {
  switch (who) {
    case kOlvesk:
      return "Olvesk";
    case kOlveskParallel:
      return "Olvesk (parallel fdatasync)";
    case kOlveskFileSystem:
      return "Olvesk (syncfs)";
    case kFloorNoSync:
      return "floor without sync";
    default:
      return "floor with fdatasync per file";
  }
}

double RunContender(int who, FileListBox& file_list, const std::string& folder,
                    int files) {
  switch (who) {
    case kOlvesk:
      return ModifyAllWithOlvesk(file_list, folder, files,
                                 RealFileSystem::kDefaultBatchSync);
    case kOlveskParallel:
      return ModifyAllWithOlvesk(file_list, folder, files,
                                 RealFileSystem::BatchSync::kParallel);
    case kOlveskFileSystem:
      return ModifyAllWithOlvesk(file_list, folder, files,
                                 RealFileSystem::BatchSync::kFileSystem);
    case kFloorNoSync:
      return ModifyAllByHand(folder, files, false);
    default:
      return ModifyAllByHand(folder, files, true);
  }
}

// Another program writing |bytes| to a file in |folder| as fast as the disk
// takes it, in a child process, until it is done or stopped.
class BackgroundWriter {
 public:
  BackgroundWriter(const std::string& folder, std::uint64_t bytes)
      : path_(folder + "/background-write") {
    std::fflush(nullptr);
    child_ = fork();
    Check(child_ >= 0, "fork");
    if (child_ == 0) {
      static char chunk[kMiB];
      std::memset(chunk, 'w', sizeof(chunk));
      const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) _exit(1);
      for (std::uint64_t done = 0; done < bytes; done += sizeof(chunk)) {
        if (write(fd, chunk, sizeof(chunk)) < 0) _exit(1);
      }
      fsync(fd);
      _exit(0);
    }
    // Let its dirty pages pile up, as they would under a copy in progress.
    usleep(500 * 1000);
  }
  ~BackgroundWriter() {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
    unlink(path_.c_str());
    sync();
  }

 private:
  std::string path_;
  pid_t child_ = -1;
};

struct ModifyAllFigures {
  int files = 0;
  int runs = 0;
  double time[kContenders] = {};
  // Each contender against the floor loop without sync, and against the
  // floor loop with fdatasync per file.
  Ratios vs_no_sync[kContenders];
  Ratios vs_sync[kContenders];
};

// Times |contenders| over |runs| runs of |files| files, under a background
// writer of |load| bytes when it is not 0.
ModifyAllFigures TimeModifyAll(FileListBox& file_list,
                               const std::string& folder, int files, int runs,
                               const std::vector<int>& contenders,
                               std::uint64_t load = 0) {
  std::vector<double> times[kContenders];
  std::vector<double> vs_no_sync[kContenders];
  std::vector<double> vs_sync[kContenders];
  const auto n = static_cast<int>(contenders.size());
  for (int run = 0; run < runs; ++run) {
    double time[kContenders] = {};
    // The contenders take turns at going first, so drift hits all alike.
    for (int turn = 0; turn < n; ++turn) {
      const int who = contenders[(run + turn) % n];
      Note("Modify All, " + std::to_string(files) + " files" +
           (load ? ", under load" : "") + ", run " + std::to_string(run + 1) +
           "/" + std::to_string(runs) + ", " + ContenderName(who));
      MakeCarFolder(folder, files, false);
      std::unique_ptr<BackgroundWriter> writer;
      if (load > 0) writer = std::make_unique<BackgroundWriter>(g_root, load);
      time[who] = RunContender(who, file_list, folder, files);
    }
    for (int who : contenders) {
      times[who].push_back(time[who]);
      if (time[kFloorNoSync] > 0) {
        vs_no_sync[who].push_back(time[who] / time[kFloorNoSync]);
      }
      if (time[kFloorSync] > 0) {
        vs_sync[who].push_back(time[who] / time[kFloorSync]);
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  ModifyAllFigures figures;
  figures.files = files;
  figures.runs = runs;
  for (int who : contenders) {
    figures.time[who] = Median(times[who]);
    if (!vs_no_sync[who].empty()) {
      figures.vs_no_sync[who] = Summarize(vs_no_sync[who]);
    }
    if (!vs_sync[who].empty()) figures.vs_sync[who] = Summarize(vs_sync[who]);
  }
  return figures;
}

// ---------------------------------------------------------------------------
// b. The marker scan.

// A field of /proc/self/status, in KiB.
long StatusKib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line[length] == ':') {
      return std::atol(line.c_str() + length + 1);
    }
  }
  Die(std::string("no ") + field + " in /proc/self/status");
}

struct ScanFigures {
  double seconds = 0;
  long peak_growth_kib = 0;  // of the resident set, while scanning
  std::uint64_t offset = 0;
};

// Runs one scan of |path| in a fresh process of this program, started with
// "--scan-child", so that the peak resident set it reports is that of the
// scan alone: nothing another contender or the window touched before.
ScanFigures InChild(const char* contender, const std::string& path) {
  int pipe_ends[2];
  Check(pipe(pipe_ends) == 0, "pipe");
  std::fflush(nullptr);
  const pid_t child = fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    dup2(pipe_ends[1], STDOUT_FILENO);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    const char* args[] = {"olvesk-bench", "--scan-child", contender,
                          path.c_str(), nullptr};
    execv("/proc/self/exe", const_cast<char* const*>(args));
    _exit(127);
  }
  close(pipe_ends[1]);
  std::string output;
  char chunk[256];
  for (ssize_t got; (got = read(pipe_ends[0], chunk, sizeof(chunk))) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    Check(got > 0, "read from the scanning child");
    output.append(chunk, static_cast<std::size_t>(got));
  }
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ScanFigures figures;
  unsigned long long offset = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(output.c_str(), "%lf %ld %llu", &figures.seconds,
                  &figures.peak_growth_kib, &offset) != 3) {
    Die("the scanning child failed: " + output);
  }
  figures.offset = offset;
  return figures;
}

// The series the benchmark converts a big file named |path| to: gns and pta
// take turns, so the same file serves every run.
const SeriesInfo& SwappedSeries(const std::string& path) {
  return FileSeriesCode(path) == "gns" ? kSeriesTable[3] : kSeriesTable[1];
}

// Olvesk: ConvertCarFile itself, which scans the file as every conversion
// does, then writes the digit, syncs it and renames the file. The caller
// checks the result, so this returns no offset.
std::uint64_t ConvertWithOlvesk(const std::string& path) {
  RealFileSystem fs;
  const SeriesInfo& to = SwappedSeries(path);
  const ConvertResult result = ConvertCarFile(fs, path, to.code, to.digit);
  if (!result.converted()) {
    Die("Olvesk did not convert " + path + ": " + result.status.ToString());
  }
  return 0;
}

// The floor: pread in 1 MiB chunks, each searched with memmem; a chunk
// starts a marker's length less one before the end of the one before.
std::uint64_t ScanWithMemmem(const std::string& path) {
  constexpr std::size_t kChunk = 1 * kMiB;
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Check(fd >= 0, "open", path);
  std::uint64_t offset = 0;
  for (;;) {
    const ssize_t got =
        pread(fd, buffer.get(), kChunk, static_cast<off_t>(offset));
    Check(got >= 0, "read", path);
    const void* hit = memmem(buffer.get(), static_cast<std::size_t>(got),
                             kClassMarker.data(), kClassMarker.size());
    if (hit != nullptr) {
      close(fd);
      return offset + static_cast<std::uint64_t>(static_cast<const char*>(hit) -
                                                 buffer.get());
    }
    if (static_cast<std::size_t>(got) < kChunk) break;
    offset += kChunk - (kClassMarker.size() - 1);
  }
  close(fd);
  Die("memmem found no marker in " + path);
}

// The child's side of InChild(): resets its peak resident set, scans, and
// prints the time, how far the peak rose, and where the marker is.
int ScanChild(const std::string& contender, const std::string& path) {
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = StatusKib("VmHWM");
  const Clock::time_point start = Clock::now();
  const std::uint64_t offset =
      contender == "olvesk" ? ConvertWithOlvesk(path) : ScanWithMemmem(path);
  const double seconds = Seconds(start);
  const long growth = StatusKib("VmHWM") - before;
  std::printf("%.9f %ld %llu\n", seconds, growth,
              static_cast<unsigned long long>(offset));
  return 0;
}

// Writes a car file of |size| bytes of filler with one marker 100 bytes
// before its end, and returns the marker's offset.
std::uint64_t MakeBigCarFile(const std::string& path, std::uint64_t size) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0, "create", path);
  std::vector<char> chunk(kMiB);
  FillWithFiller(chunk.data(), chunk.size());
  for (std::uint64_t done = 0; done < size; done += chunk.size()) {
    WriteAll(fd, chunk.data(),
             std::min<std::uint64_t>(chunk.size(), size - done), path.c_str());
  }
  const std::uint64_t marker = size - 100;
  char entry[12];
  PutMarker(entry, 0, '2');
  Check(pwrite(fd, entry, sizeof(entry), static_cast<off_t>(marker)) ==
            sizeof(entry),
        "write", path);
  Check(fsync(fd) == 0, "sync", path);
  close(fd);
  return marker;
}

struct ScanResults {
  std::uint64_t big_size = 0;
  std::uint64_t small_size = 0;
  int runs = 0;
  double olvesk = 0;
  double floor = 0;
  Ratios ratio;
  long olvesk_peak_big = 0;
  long olvesk_peak_small = 0;
  long floor_peak_big = 0;
  long floor_peak_small = 0;
};

// A big car file that Olvesk converts back and forth.
struct BigCarFile {
  std::string path;
  std::uint64_t marker = 0;

  // Scans it with |contender| in a fresh process and checks the outcome;
  // after Olvesk, follows the file to its new name.
  ScanFigures Scan(const char* contender) {
    const ScanFigures figures = InChild(contender, path);
    if (std::strcmp(contender, "memmem") == 0) {
      if (figures.offset != marker) Die("memmem found the marker elsewhere");
      return figures;
    }
    const SeriesInfo& to = SwappedSeries(path);
    path = NewCarFilePath(path, to.code);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    Check(fd >= 0, "open", path);
    char digit = 0;
    Check(pread(fd, &digit, 1,
                static_cast<off_t>(marker + kClassMarker.size())) == 1,
          "read", path);
    close(fd);
    if (digit != to.digit) Die("Olvesk did not patch " + path);
    return figures;
  }
};

ScanResults TimeScan(const std::string& root, std::uint64_t big_size,
                     std::uint64_t small_size, int runs) {
  ScanResults results;
  results.big_size = big_size;
  results.small_size = small_size;
  results.runs = runs;
  Note("making a " + std::to_string(big_size / kMiB) + " MiB car file");
  BigCarFile big{root + "/big.gns.car", 0};
  BigCarFile small{root + "/small.gns.car", 0};
  big.marker = MakeBigCarFile(big.path, big_size);
  small.marker = MakeBigCarFile(small.path, small_size);
  // Both contenders read from a warm page cache.
  ScanWithMemmem(big.path);
  ScanWithMemmem(small.path);

  std::vector<double> olvesk, floor, ratio;
  std::vector<double> olvesk_big, olvesk_small, floor_big, floor_small;
  for (int run = 0; run < runs; ++run) {
    Note("marker scan, run " + std::to_string(run + 1) + "/" +
         std::to_string(runs));
    ScanFigures ours, theirs;
    for (int turn = 0; turn < 2; ++turn) {
      if ((run + turn) % 2 == 0) {
        ours = big.Scan("olvesk");
      } else {
        theirs = big.Scan("memmem");
      }
    }
    const ScanFigures ours_small = small.Scan("olvesk");
    const ScanFigures theirs_small = small.Scan("memmem");
    olvesk.push_back(ours.seconds);
    floor.push_back(theirs.seconds);
    ratio.push_back(ours.seconds / theirs.seconds);
    olvesk_big.push_back(static_cast<double>(ours.peak_growth_kib));
    floor_big.push_back(static_cast<double>(theirs.peak_growth_kib));
    olvesk_small.push_back(static_cast<double>(ours_small.peak_growth_kib));
    floor_small.push_back(static_cast<double>(theirs_small.peak_growth_kib));
  }
  std::filesystem::remove(big.path);
  std::filesystem::remove(small.path);
  results.olvesk = Median(olvesk);
  results.floor = Median(floor);
  results.ratio = Summarize(ratio);
  results.olvesk_peak_big = static_cast<long>(Median(olvesk_big));
  results.olvesk_peak_small = static_cast<long>(Median(olvesk_small));
  results.floor_peak_big = static_cast<long>(Median(floor_big));
  results.floor_peak_small = static_cast<long>(Median(floor_small));
  return results;
}

// ---------------------------------------------------------------------------
// c. Re-reading the file list.

// The floor: one listing, names collected, nothing matched or sorted.
std::size_t PlainListing(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  Check(dir != nullptr, "open", folder);
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  return names.size();
}

struct ListFigures {
  int files = 0;
  int runs = 0;
  double olvesk = 0;
  double floor = 0;
  Ratios ratio;
};

ListFigures TimeFileList(FileListBox& file_list, const std::string& folder,
                         int files, int runs) {
  Note("making a folder of " + std::to_string(files) + " car files");
  MakeCarFolder(folder, files, true);
  file_list.SetPath(folder);
  QCoreApplication::processEvents();
  if (file_list.ListCount() != files) Die("the file list misses files");

  std::vector<double> olvesk, floor, ratio;
  for (int run = 0; run < runs; ++run) {
    Note("file list, run " + std::to_string(run + 1) + "/" +
         std::to_string(runs));
    double ours = 0, theirs = 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((run + turn) % 2 == 0) {
        // Refresh() and the view's own work on the new list before the
        // user sees it.
        const Clock::time_point start = Clock::now();
        file_list.Refresh();
        QCoreApplication::processEvents();
        ours = Seconds(start);
        if (file_list.ListCount() != files) Die("the file list misses files");
      } else {
        const Clock::time_point start = Clock::now();
        const std::size_t listed = PlainListing(folder);
        theirs = Seconds(start);
        if (listed != static_cast<std::size_t>(files) + 2) {
          Die("the plain listing misses files");
        }
      }
    }
    olvesk.push_back(ours);
    floor.push_back(theirs);
    ratio.push_back(ours / theirs);
  }
  file_list.SetPath("");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return {files, runs, Median(olvesk), Median(floor), Summarize(ratio)};
}

// ---------------------------------------------------------------------------
// The report.

std::string Time(double seconds) {
  char text[32];
  if (seconds >= 1) {
    std::snprintf(text, sizeof(text), "%.2f s", seconds);
  } else {
    std::snprintf(text, sizeof(text), "%.1f ms", seconds * 1e3);
  }
  return text;
}

// "1.06x (0.98-1.20)": the median ratio, then the lowest and highest.
std::string Ratio(const Ratios& ratio) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.2fx (%.2f-%.2f)", ratio.median,
                ratio.low, ratio.high);
  return text;
}

std::string Count(int n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string Size(std::uint64_t bytes) {
  return bytes >= kGiB ? std::to_string(bytes / kGiB) + " GiB"
                       : std::to_string(bytes / kMiB) + " MiB";
}

std::string FileSystemName(const std::string& path) {
  struct statfs info;
  Check(statfs(path.c_str(), &info) == 0, "statfs", path);
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x01021994:
      return "tmpfs";
    case 0x858458F6:
      return "ramfs";
    case 0x794C7630:
      return "overlayfs";
    default:
      char text[32];
      std::snprintf(text, sizeof(text), "type 0x%lx",
                    static_cast<unsigned long>(info.f_type));
      return text;
  }
}

std::string CpuName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown";
}

struct Options {
  bool quick = false;
  std::string dir = OLVESK_BENCH_DEFAULT_DIR;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--dir" && i + 1 < argc) {
      options.dir = argv[++i];
    } else if (arg.starts_with("--dir=")) {
      options.dir = arg.substr(6);
    } else {
      std::printf(
          "usage: olvesk-bench [--quick] [--dir FOLDER]\n"
          "  --quick       smaller sizes, fewer runs: a smoke run, whose "
          "verdicts are a guide only\n"
          "  --dir FOLDER  work in a fresh folder inside FOLDER (default: the "
          "build folder)\n"
          "Prints a markdown table; exits 1 when a full run misses a "
          "target.\n");
      std::exit(arg == "--help" || arg == "-h" ? 0 : 2);
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--scan-child") == 0) {
    return ScanChild(argv[2], argv[3]);
  }
  const Options options = ParseOptions(argc, argv);

  // The real widgets, without a display.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  std::string root_template = options.dir + "/olvesk-bench-XXXXXX";
  Check(mkdtemp(root_template.data()) != nullptr, "make a folder in",
        options.dir);
  g_root = root_template;
  const std::string fs_name = FileSystemName(g_root);
  const bool in_memory = fs_name == "tmpfs" || fs_name == "ramfs";
  if (in_memory) {
    Note("warning: " + g_root + " is on " + fs_name +
         ", not on a disk; use --dir to choose a folder on a disk");
  }
  struct statvfs space;
  Check(statvfs(g_root.c_str(), &space) == 0, "statvfs", g_root);
  const std::uint64_t free_bytes =
      static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
  const std::uint64_t needed = options.quick ? 1 * kGiB : 3 * kGiB;
  if (free_bytes < needed) {
    Die("needs " + Size(needed) + " free in " + g_root + ", has " +
        Size(free_bytes));
  }

  struct ModifyPlan {
    int files;
    int runs;
  };
  const std::vector<ModifyPlan> modify_plan =
      options.quick
          ? std::vector<ModifyPlan>{{200, 3}, {2000, 3}}
          : std::vector<ModifyPlan>{{1000, 5}, {10000, 5}, {100000, 3}};
  const ModifyPlan loaded_plan =
      options.quick ? ModifyPlan{2000, 2} : ModifyPlan{10000, 3};
  const std::uint64_t load_bytes = options.quick ? 256 * kMiB : 2 * kGiB;
  const std::uint64_t big_size = options.quick ? 128 * kMiB : 1 * kGiB;
  const std::uint64_t small_size = 16 * kMiB;
  const int scan_runs = options.quick ? 3 : 5;
  const int list_files = options.quick ? 10000 : 100000;
  const int list_runs = options.quick ? 3 : 5;

  FileListBox file_list;
  file_list.resize(240, 320);
  file_list.SetPattern(Sv(kTarget.pattern));
  file_list.show();
  QCoreApplication::processEvents();

  const std::string modify_folder = g_root + "/" + Sv(kTarget.code) + "/cars";
  std::vector<ModifyAllFigures> modify;
  for (const ModifyPlan& plan : modify_plan) {
    modify.push_back(TimeModifyAll(file_list, modify_folder, plan.files,
                                   plan.runs,
                                   {kOlvesk, kOlveskParallel, kOlveskFileSystem,
                                    kFloorNoSync, kFloorSync}));
  }
  const ModifyAllFigures loaded = TimeModifyAll(
      file_list, modify_folder, loaded_plan.files, loaded_plan.runs,
      {kOlvesk, kOlveskParallel, kOlveskFileSystem, kFloorSync}, load_bytes);
  const ScanResults scan = TimeScan(g_root, big_size, small_size, scan_runs);
  const ListFigures list =
      TimeFileList(file_list, g_root + "/list/cars", list_files, list_runs);

  // The table.
  // The targets are set for the full sizes: at a quick run's small ones
  // the fixed costs weigh more, so its verdicts are a guide only.
  bool all_pass = true;
  auto verdict = [&](bool pass) {
    if (options.quick) return pass ? "PASS" : "over (quick run)";
    all_pass = all_pass && pass;
    return pass ? "PASS" : "FAIL";
  };
  std::printf("## olvesk-bench%s\n\n", options.quick ? " --quick" : "");
  std::printf("Folder %s (%s), CPU %s, %ld cores, Qt %s.\n\n", g_root.c_str(),
              fs_name.c_str(), CpuName().c_str(), sysconf(_SC_NPROCESSORS_ONLN),
              qVersion());
  if (in_memory) {
    std::printf(
        "**The folder is in memory: these figures say nothing about a "
        "disk.**\n\n");
  }
  std::printf("| What | Olvesk | Floor | Ratio | Target | Result |\n");
  std::printf("|---|---:|---:|---:|---|---|\n");
  for (const ModifyAllFigures& m : modify) {
    const bool checked = options.quick || m.files >= 10000;
    std::printf(
        "| Modify All, %s files (median of %d), against the floor loop "
        "without sync | %s (%.0f µs/file) | %s | %s | %s | %s |\n",
        Count(m.files).c_str(), m.runs, Time(m.time[kOlvesk]).c_str(),
        m.time[kOlvesk] / m.files * 1e6, Time(m.time[kFloorNoSync]).c_str(),
        Ratio(m.vs_no_sync[kOlvesk]).c_str(),
        checked ? "≤ 2.00x" : "information",
        checked ? verdict(m.vs_no_sync[kOlvesk].median <= 2.0) : "-");
  }
  for (const int way : {kOlveskParallel, kOlveskFileSystem}) {
    for (const ModifyAllFigures& m : modify) {
      std::printf(
          "| %s, %s files, against the floor loop without sync | %s | %s | "
          "%s | information | - |\n",
          ContenderName(way), Count(m.files).c_str(), Time(m.time[way]).c_str(),
          Time(m.time[kFloorNoSync]).c_str(), Ratio(m.vs_no_sync[way]).c_str());
    }
  }
  for (const ModifyAllFigures& m : modify) {
    std::printf(
        "| Modify All against the floor loop with fdatasync per file, %s "
        "files | %s | %s | %s | information | - |\n",
        Count(m.files).c_str(), Time(m.time[kOlvesk]).c_str(),
        Time(m.time[kFloorSync]).c_str(), Ratio(m.vs_sync[kOlvesk]).c_str());
  }
  std::printf(
      "| Modify All, %s files, while another program writes %s to the disk "
      "(median of %d), against the floor loop with fdatasync per file under "
      "the same load | %s | %s | %s | ≤ 0.33x (3x faster) | %s |\n",
      Count(loaded.files).c_str(), Size(load_bytes).c_str(), loaded.runs,
      Time(loaded.time[kOlvesk]).c_str(), Time(loaded.time[kFloorSync]).c_str(),
      Ratio(loaded.vs_sync[kOlvesk]).c_str(),
      verdict(loaded.vs_sync[kOlvesk].median <= 1.0 / 3));
  for (const int way : {kOlveskParallel, kOlveskFileSystem}) {
    std::printf(
        "| %s, under the same load | %s | %s | %s | information | - |\n",
        ContenderName(way), Time(loaded.time[way]).c_str(),
        Time(loaded.time[kFloorSync]).c_str(),
        Ratio(loaded.vs_sync[way]).c_str());
  }
  std::printf(
      "| Marker scan, %s file (median of %d) | %s | %s | %s | "
      "≤ 1.50x | %s |\n",
      Size(scan.big_size).c_str(), scan.runs, Time(scan.olvesk).c_str(),
      Time(scan.floor).c_str(), Ratio(scan.ratio).c_str(),
      verdict(scan.ratio.median <= 1.5));
  // The kernel counts a process's resident pages in batches, so one run's
  // figure can be off by a few dozen pages either way. A scan whose memory
  // grew with the file would be off by far more: the files differ by
  // hundreds of MiB.
  const bool flat =
      scan.olvesk_peak_big <= scan.olvesk_peak_small + kPeakSlackKib;
  std::printf(
      "| Peak memory growth of the scan, %s / %s file | %ld / %ld "
      "KiB | %ld / %ld KiB | - | no growth with size (%ld KiB slack) | %s "
      "|\n",
      Size(scan.big_size).c_str(), Size(scan.small_size).c_str(),
      scan.olvesk_peak_big, scan.olvesk_peak_small, scan.floor_peak_big,
      scan.floor_peak_small, kPeakSlackKib, verdict(flat));
  std::printf(
      "| File list re-read, %s files (median of %d) | %s | %s | %s | "
      "≤ 3.00x | %s |\n\n",
      Count(list.files).c_str(), list.runs, Time(list.olvesk).c_str(),
      Time(list.floor).c_str(), Ratio(list.ratio).c_str(),
      verdict(list.ratio.median <= 3.0));
  std::printf(
      "Modify All: Olvesk is the window's file list opening the folder, then "
      "ConvertCommand with \"Modify All?\" checked over RealFileSystem, with "
      "the window's ProgressDialog, converting in batches of up to %zu files "
      "each made durable in one step; the floor lists the folder with readdir "
      "and then, for each file, open, read, memmem, pwrite of one byte, "
      "close and rename (with fdatasync before the close where it says so), "
      "then fsyncs the folder once. Under load, a child process writes to a "
      "file on the same disk as fast as it can from half a second before "
      "each timed run until it ends. Each run "
      "starts on a folder made afresh and synced, its files in the page "
      "cache. A ratio is the median of the ratios within each run, with the "
      "lowest and highest in brackets. Marker scan: ConvertCarFile itself "
      "over RealFileSystem, converting the file between gns and pta (it reads "
      "%zu KiB, then %zu KiB at a time, then writes, syncs and renames), "
      "against memmem over pread in 1 MiB chunks, page cache warm; each in "
      "a fresh process of its own, whose peak resident set is measured. "
      "File list: FileListBox::Refresh and the view's pending events, "
      "against opendir/readdir collecting the names.\n",
      kMaxBatch, kScanChunkSize / kKiB, kLargeScanChunkSize / kKiB);

  std::error_code ignored;
  std::filesystem::remove_all(g_root, ignored);
  return all_pass ? 0 : 1;
}

}  // namespace
}  // namespace olvesk::bench

int main(int argc, char** argv) { return olvesk::bench::Main(argc, argv); }

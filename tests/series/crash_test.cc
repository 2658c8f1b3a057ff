// Kills a run of the convert button at every file-system call, in a child
// process, and checks what the folder holds afterwards.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "series/file_system.h"
#include "series/real_file_system.h"
#include "support/folder_run.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

// Kills its own process with SIGKILL at the |kill_at|-th call, either just
// before passing the call on or just after it returns. Each call is first
// written as "<op> <path>" to the file |log|, which outlives the process.
class KillingFileSystem : public FileSystemWrapper {
 public:
  enum class When { kBefore, kAfter };

  KillingFileSystem(FileSystem& target, int kill_at, When when,
                    const std::string& log)
      : FileSystemWrapper(target),
        kill_at_(kill_at),
        when_(when),
        log_(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)) {}

  Status Stat(const std::string& path, FileInfo* info) override {
    return Around("stat", path,
                  [&] { return FileSystemWrapper::Stat(path, info); });
  }
  Status Open(const std::string& path, OpenFile* file) override {
    return Around("open", path,
                  [&] { return FileSystemWrapper::Open(path, file); });
  }
  Status Read(const OpenFile& file, std::uint64_t offset, char* data,
              std::size_t size, std::size_t* read) override {
    return Around("read", file.path, [&] {
      return FileSystemWrapper::Read(file, offset, data, size, read);
    });
  }
  Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
               std::size_t size) override {
    return Around("write", file.path, [&] {
      return FileSystemWrapper::Write(file, offset, data, size);
    });
  }
  Status Truncate(const OpenFile& file, std::uint64_t size) override {
    return Around("truncate", file.path,
                  [&] { return FileSystemWrapper::Truncate(file, size); });
  }
  Status Sync(const OpenFile& file) override {
    return Around("sync", file.path,
                  [&] { return FileSystemWrapper::Sync(file); });
  }
  Status SyncFiles(const std::vector<const OpenFile*>& files) override {
    return Around("syncfiles", files.empty() ? "" : files.front()->path,
                  [&] { return FileSystemWrapper::SyncFiles(files); });
  }
  Status Close(OpenFile* file) override {
    return Around("close", file->path,
                  [&] { return FileSystemWrapper::Close(file); });
  }
  Status TryLock(const OpenFile& file, bool* locked) override {
    return Around("lock", file.path,
                  [&] { return FileSystemWrapper::TryLock(file, locked); });
  }
  Status Rename(OpenFile* file, const std::string& to) override {
    return Around("rename", file->path,
                  [&] { return FileSystemWrapper::Rename(file, to); });
  }
  Status SyncDir(const std::string& dir) override {
    return Around("syncdir", dir,
                  [&] { return FileSystemWrapper::SyncDir(dir); });
  }

 private:
  template <typename Call>
  Status Around(const char* op, const std::string& path, const Call& call) {
    const std::string line = std::string(op) + " " + path + "\n";
    if (write(log_, line.data(), line.size()) < 0) std::abort();
    const bool last = ++calls_ == kill_at_;
    if (last && when_ == When::kBefore) std::raise(SIGKILL);
    Status status = call();
    if (last && when_ == When::kAfter) std::raise(SIGKILL);
    return status;
  }

  const int kill_at_;
  const When when_;
  const int log_;
  int calls_ = 0;
};

// The names of the files whose digits a killed run had written but not yet
// renamed, from the calls in |log| (the last one not carried out when the
// run was killed before it).
std::set<std::string> InFlight(const std::string& log, bool last_done) {
  std::vector<std::string> calls;
  std::istringstream lines(ReadFile(log));
  for (std::string line; std::getline(lines, line);) calls.push_back(line);
  if (!last_done && !calls.empty()) calls.pop_back();
  std::set<std::string> in_flight;
  for (const std::string& call : calls) {
    const std::size_t space = call.find(' ');
    const std::string op = call.substr(0, space);
    const std::string name =
        Utf8String(Utf8Path(call.substr(space + 1)).filename());
    if (op == "write") in_flight.insert(name);
    if (op == "rename") in_flight.erase(name);
  }
  return in_flight;
}

// A folder of no series holding several files, converted to "pta": a marker
// in the middle, a marker ending the file, no marker, two markers, and a file
// already at a new name.
std::vector<PlannedFile> FolderPlan() {
  return {
      {"a.gns.car", "name=a\ncar_class=2\n", true, "a.pta.car",
       "name=a\ncar_class=4\n"},
      {"b.cts.car", "name=b\ncar_class=", true, "b.pta.car",
       "name=b\ncar_class=4"},
      {"c.gns.car", "name=c\nno class entry\n", true, "", ""},
      {"d.cup.car", "name=d\ncar_class=1 car_class=1\n", true, "d.pta.car",
       "name=d\ncar_class=4 car_class=1\n"},
      {"e.gns.car", "name=e\ncar_class=2\n", true, "e.pta.car",
       "name=e\ncar_class=4\n"},
      {"e.pta.car", "the e that was there before\n", false, "", ""},
  };
}

struct CrashCase {
  const char* name;
  KillingFileSystem::When when;
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.name; }

class CrashTest : public ::testing::TestWithParam<CrashCase> {};

// For each call of a run in turn: a child process runs the convert button
// and is killed at that call; the folder must then hold every file whole,
// but for those of the batch whose digits were written and not yet renamed,
// which may carry the new digit under their old names; a second run, not
// interrupted, then converts every file.
TEST_P(CrashTest, KilledRunLeavesFilesWholeAndASecondRunFinishes) {
  const CrashCase& c = GetParam();
  const std::vector<PlannedFile> plan = FolderPlan();

  EndState totals;
  int crashes = 0;
  for (int n = 1;; ++n) {
    ASSERT_LT(n, 1000) << "the run never ended";
    TempDir root;
    const std::string folder = Utf8String(root.path() / "all" / "cars");
    std::filesystem::create_directories(Utf8Path(folder));
    WritePlan(folder, plan);
    const std::string log = Utf8String(root.path() / "calls.log");

    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      RealFileSystem real;
      KillingFileSystem fs(real, n, c.when, log);
      PressConvert(fs, folder);
      _exit(0);
    }
    int wait_status = 0;
    ASSERT_EQ(waitpid(child, &wait_status, 0), child);
    const bool killed =
        WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGKILL;
    ASSERT_TRUE(killed ||
                (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0))
        << "the child ended with status " << wait_status;

    EndStateRules crashed;
    crashed.run_ended = false;
    if (killed) {
      crashed.in_flight =
          InFlight(log, c.when == KillingFileSystem::When::kAfter);
    }
    crashed.all_converted = !killed;
    ASSERT_TRUE(CheckEndState(folder, plan, {}, crashed, &totals))
        << "killed " << c.name << " call " << n;
    if (!killed) break;
    ++crashes;

    RealFileSystem real;
    const ButtonPress again = PressConvert(real, folder);
    EndStateRules finished;
    finished.all_converted = true;
    EndState after_rerun;
    ASSERT_TRUE(
        CheckEndState(folder, plan, again.messages, finished, &after_rerun))
        << "second run after killing " << c.name << " call " << n;
    totals.lost += after_rerun.lost;
  }

  EXPECT_EQ(totals.lost, 0);
  EXPECT_GT(crashes, 20);
  RecordProperty("crash_points", crashes);
  std::printf(
      "[ crash    ] %s: %d crash points tried, %d with a file "
      "patched under its old name, %d files lost\n",
      c.name, crashes, totals.patched, totals.lost);
}

INSTANTIATE_TEST_SUITE_P(
    Kills, CrashTest,
    ::testing::Values(CrashCase{"BeforeCall", KillingFileSystem::When::kBefore},
                      CrashCase{"AfterCall", KillingFileSystem::When::kAfter}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace olvesk

#endif  // _WIN32

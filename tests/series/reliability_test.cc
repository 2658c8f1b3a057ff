// Whole runs of the convert button with a file-system call failing at every
// point in turn, and the order in which a run makes its changes durable.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "series/car_file.h"
#include "series/convert_command.h"
#include "series/real_file_system.h"
#include "support/fault_injecting_file_system.h"
#include "support/folder_run.h"
#include "support/temp_dir.h"
#include "support/virtual_file_system.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvesk {
namespace {

using Mode = FaultInjectingFileSystem::Mode;

// A file whose marker ends the first scan chunk, so that the byte after it
// takes a read of its own.
std::string MarkerEndingTheFirstChunk(char digit) {
  std::string text(kScanChunkSize - kClassMarker.size(), 'x');
  text += kClassMarker;
  text += digit;
  text += "\nmass=1200\n";
  return text;
}

// The folder each run starts from, converted to "pta": a marker in the
// middle, a marker that ends the file, no marker, a file already at a new
// name, and a marker at the end of a scan chunk. With |modify_all| false
// only d.gns.car, the one with a file at its new name, is highlighted.
std::vector<PlannedFile> FolderPlan(bool modify_all) {
  std::vector<PlannedFile> plan = {
      {"a.gns.car", "name=a\ncar_class=2\nmass=1\n", true, "a.pta.car",
       "name=a\ncar_class=4\nmass=1\n"},
      {"b.cts.car", "name=b\ncar_class=", true, "b.pta.car",
       "name=b\ncar_class=4"},
      {"c.gns.car", "name=c\nno class entry\n", true, "", ""},
      {"d.gns.car", "name=d\ncar_class=2\n", true, "d.pta.car",
       "name=d\ncar_class=4\n"},
      {"d.pta.car", "the d that was there before\n", false, "", ""},
      {"e.gns.car", MarkerEndingTheFirstChunk('2'), true, "e.pta.car",
       MarkerEndingTheFirstChunk('4')},
  };
  if (!modify_all) {
    for (PlannedFile& file : plan) {
      if (file.name == "d.gns.car") continue;
      file.listed = false;
      file.new_name.clear();
    }
  }
  return plan;
}

// "<path>" of the first call that failed, or "".
std::string FirstFailedPath(const FaultInjectingFileSystem& fs) {
  for (const std::string& call : fs.calls_log_) {
    if (call.starts_with("!")) return call.substr(call.find(' ') + 1);
  }
  return "";
}

std::string CallsOf(const FaultInjectingFileSystem& fs) {
  std::string text;
  for (const std::string& call : fs.calls_log_) text += "\n  " + call;
  return text;
}

struct SweepCase {
  const char* name;
  bool modify_all;
  Mode mode;
};

void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.name; }

class FaultSweepTest : public ::testing::TestWithParam<SweepCase> {};

// Fails call 1, 2, ... of a whole run, each time on a fresh folder, until a
// run gets through without reaching the failing call.
TEST_P(FaultSweepTest, EveryFailurePointLeavesEachFileWholeAndNamed) {
  const SweepCase& c = GetParam();
  const std::vector<PlannedFile> plan = FolderPlan(c.modify_all);
  RealFileSystem real;
  EndState totals;
  int injected = 0;
  for (int n = 1;; ++n) {
    ASSERT_LT(n, 1000) << "the run never got past its failing call";
    TempDir root;
    const std::string folder = Utf8String(root.path() / "cup" / "cars");
    std::filesystem::create_directories(Utf8Path(folder));
    WritePlan(folder, plan);

    FaultInjectingFileSystem fs(real);
    fs.fail_at_ = n;
    fs.mode_ = c.mode;
    const ButtonPress press =
        PressConvert(fs, folder, c.modify_all ? "" : "d.gns.car");

    EndStateRules rules;
    rules.injected_fault_path = FirstFailedPath(fs);
    rules.all_converted = fs.failures_ == 0;
    ASSERT_TRUE(CheckEndState(folder, plan, press.messages, rules, &totals))
        << "failing call " << n << " of:" << CallsOf(fs);
    if (c.modify_all) {
      EXPECT_EQ(press.progress, (std::vector<std::string>{"begin 5", "end 5"}))
          << "failing call " << n;
    }
    if (fs.failures_ == 0) break;
    ++injected;
  }

  EXPECT_EQ(totals.lost, 0);
  if (c.mode == Mode::kOnce) {
    // One failure is always undone: no file keeps the new digit unconverted.
    EXPECT_EQ(totals.patched, 0);
  } else {
    // The sweep reached the failures the rollback itself cannot undo.
    EXPECT_GT(totals.patched, 0);
  }
  RecordProperty("failure_points", injected);
  std::printf("[ sweep    ] %s: %d failure points injected, %d files lost\n",
              c.name, injected, totals.lost);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FaultSweepTest,
    ::testing::Values(SweepCase{"SingleFileFailOnce", false, Mode::kOnce},
                      SweepCase{"SingleFileFailAlways", false, Mode::kAlways},
                      SweepCase{"ModifyAllFailOnce", true, Mode::kOnce},
                      SweepCase{"ModifyAllFailAlways", true, Mode::kAlways}),
    [](const auto& test) { return std::string(test.param.name); });

// A run writes the digits of a batch of files, makes them durable in one
// step, and only then renames the files it holds open; the folder is synced
// once, after the last rename, and before any message waits on the user.
// So after a power cut a file is whole under its old name or its new one.
TEST(DurabilityTest, SyncsTheBatchBeforeItsRenamesAndTheFolderAfterTheLast) {
  VirtualFileSystem vfs;
  const std::string folder = "/sim/cup/cars";
  const std::string a = CarFilePath(folder, "a.gns.car");
  const std::string a_new = CarFilePath(folder, "a.pta.car");
  const std::string b = CarFilePath(folder, "b.cts.car");
  const std::string b_new = CarFilePath(folder, "b.pta.car");
  const std::string c = CarFilePath(folder, "c.gns.car");
  vfs.CreateDir(folder);
  vfs.Create(a, "car_class=2\n");
  vfs.Create(b, "car_class=");
  vfs.Create(c, "no class entry");
  FakeMessageBox messages;
  messages.log_ = &vfs.log_;
  ModifyAll(vfs, folder, {"a.gns.car", "b.cts.car", "c.gns.car"}, "pta", '4',
            nullptr, &messages);

  EXPECT_EQ(vfs.log_,
            (std::vector<std::string>{
                "open " + a, "write " + a + " @10 4", "open " + b,
                "write " + b + " @10 4", "open " + c, "close " + c,
                "syncfiles " + a + " " + b, "rename " + a + " " + a_new,
                "close " + a_new, "rename " + b + " " + b_new, "close " + b_new,
                "syncdir " + folder,
                "message",  // c has no class entry
                "message",  // done
            }));
}

// Allows a few files open at once and notes the most that were. Its batch
// syncs and renames wait until the run asks for them, as they would on a
// slow disk.
class TightBudgetFileSystem : public FileSystemWrapper {
 public:
  TightBudgetFileSystem(VirtualFileSystem& vfs, std::size_t budget)
      : FileSystemWrapper(vfs), vfs_(vfs), budget_(budget) {}
  std::size_t OpenFileBudget() override { return budget_; }
  std::future<void> StartSyncFiles(
      std::vector<const OpenFile*> files,
      std::function<void(const Status&)> then) override {
    return std::async(std::launch::deferred,
                      [this, files, then] { then(SyncFiles(files)); });
  }
  Status Open(const std::string& path, OpenFile* file) override {
    const Status status = FileSystemWrapper::Open(path, file);
    most_open_ = std::max(most_open_, vfs_.open_.size());
    return status;
  }
  VirtualFileSystem& vfs_;
  const std::size_t budget_;
  std::size_t most_open_ = 0;
};

// A low limit on open files makes the batches smaller; it never fails a run.
TEST(DurabilityTest, BatchesStayWithinTheOpenFileBudget) {
  VirtualFileSystem vfs;
  const std::string folder = "/sim/cup/cars";
  vfs.CreateDir(folder);
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) {
    names.push_back("f" + std::to_string(i) + ".gns.car");
    vfs.Create(CarFilePath(folder, names.back()), "car_class=2");
  }
  for (const std::size_t budget : {std::size_t{1}, std::size_t{6}}) {
    SCOPED_TRACE(budget);
    VirtualFileSystem copy = vfs;
    TightBudgetFileSystem tight(copy, budget);
    EXPECT_EQ(ModifyAll(tight, folder, names),
              std::vector<std::string>{std::string(kDoneMessage)});
    EXPECT_LE(tight.most_open_, budget);
    // Within the budget, files are still converted in batches.
    if (budget > 1) {
      EXPECT_GT(tight.most_open_, std::size_t{1});
    }
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(copy.Contents(
                    CarFilePath(folder, "f" + std::to_string(i) + ".pta.car")),
                "car_class=4");
    }
  }
}

// A run stopped at a file of the folder's own series keeps the files it
// converted before it; their renames are made durable all the same.
TEST(DurabilityTest, SyncsTheFolderWhenARunStopsAtAnOwnSeriesFile) {
  VirtualFileSystem vfs;
  const std::string folder = "/sim/cup/cars";
  vfs.CreateDir(folder);
  vfs.Create(CarFilePath(folder, "a.gns.car"), "car_class=2\n");
  vfs.Create(CarFilePath(folder, "b.cup.car"), "car_class=1\n");
  const std::vector<std::string> messages =
      ModifyAll(vfs, folder, {"a.gns.car", "b.cup.car"});

  ASSERT_FALSE(vfs.log_.empty());
  EXPECT_EQ(vfs.log_.back(), "syncdir " + folder);
  EXPECT_EQ(messages,
            std::vector<std::string>{std::string(kOwnSeriesFolderMessage)});
}

// When the rename fails the old byte is written back through the file still
// open, never by opening the name again, and synced before the failure is
// reported, so the file is whole under its old name on disk too.
TEST(DurabilityTest, SyncsTheRestoredByteWhenTheRenameFails) {
  VirtualFileSystem vfs;
  const std::string path = "/sim/cup/cars/a.gns.car";
  vfs.Create(path, "car_class=2\n");
  FaultInjectingFileSystem fs(vfs);
  // open, lock, stat, read, write, syncfiles, stat, rename
  fs.fail_at_ = 8;
  const ConvertResult result = ConvertCarFile(fs, path, "pta", '4');
  ASSERT_EQ(fs.calls_log_.at(7), "!rename " + path);
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(vfs.log_,
            (std::vector<std::string>{
                "open " + path, "write " + path + " @10 4", "syncfiles " + path,
                "write " + path + " @10 2", "sync " + path, "close " + path}));
  EXPECT_EQ(vfs.Contents(path), "car_class=2\n");
}

// A batch that takes long to sync, as on a slow disk: the run keeps letting
// the window answer meanwhile, rather than freezing it until the sync ends.
TEST(DurabilityTest, KeepsTheWindowAnsweringWhileABatchSyncs) {
  // Its sync ends once the window has been let answer a few times, or
  // after five seconds.
  struct SlowDisk : FileSystemWrapper {
    SlowDisk(FileSystem& target, const std::atomic<int>& asked)
        : FileSystemWrapper(target), asked_(asked) {}
    std::future<void> StartSyncFiles(
        std::vector<const OpenFile*> files,
        std::function<void(const Status&)> then) override {
      return std::async(std::launch::async, [this, files, then] {
        const int enough = asked_ + 3;
        for (int ms = 0; asked_ < enough && ms < 5000; ++ms) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        answered_ = asked_ >= enough;
        then(SyncFiles(files));
      });
    }
    const std::atomic<int>& asked_;
    std::atomic<bool> answered_{false};
  };
  const std::string folder = "/sim/cup/cars";
  VirtualFileSystem vfs;
  vfs.CreateDir(folder);
  vfs.Create(CarFilePath(folder, "a.gns.car"), "car_class=2");
  FakeProgress progress;
  SlowDisk disk(vfs, progress.asked_);
  EXPECT_EQ(ModifyAll(disk, folder, {"a.gns.car"}, "pta", '4', &progress),
            std::vector<std::string>{std::string(kDoneMessage)});
  EXPECT_TRUE(disk.answered_);
  EXPECT_EQ(vfs.Contents(CarFilePath(folder, "a.pta.car")), "car_class=4");
}

// How often SyncInParallel() synced each file of a batch, by its native
// number; the file named "bad" fails.
std::atomic<int> synced_times[40];
Status CountedSync(const OpenFile& file) {
  ++synced_times[file.native];
  return file.path == "bad" ? Status::Error("sync", file.path, "lost")
                            : Status();
}

// Each file of a batch is synced exactly once, however many threads share
// the batch, and a failure of any one file, the last too, is reported.
TEST(DurabilityTest, SyncsEveryFileOfABatchOnceAndReportsAnyFailure) {
  for (const int threads : {1, 2, 16}) {
    for (const int count : {1, 2, 40}) {
      for (const int bad : {-1, 0, count - 1}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " +
                     std::to_string(count) + " files, bad " +
                     std::to_string(bad));
        std::vector<OpenFile> files(static_cast<std::size_t>(count));
        std::vector<const OpenFile*> batch;
        for (int i = 0; i < count; ++i) {
          files[i].native = i;
          files[i].path = i == bad ? "bad" : "good";
          batch.push_back(&files[i]);
          synced_times[i] = 0;
        }
        const Status status = SyncInParallel(batch, threads, CountedSync);
        EXPECT_EQ(status.ok(), bad < 0);
        if (bad >= 0) {
          EXPECT_EQ(status.path(), "bad");
        }
        for (int i = 0; i < count; ++i) EXPECT_EQ(synced_times[i], 1) << i;
      }
    }
  }
}

#if defined(__linux__)
// A syncfs() that cannot report a lost write is never trusted with a batch.
TEST(DurabilityTest, TrustsSyncfsOnlyFromLinux58) {
  const std::pair<const char*, bool> releases[] = {
      {"4.18.0-553.el8_10.x86_64", false},
      {"5.4.0-42-generic", false},
      {"5.7.19", false},
      {"5.8.0", true},
      {"5.10.0-28-amd64", true},
      {"6.1.0-13-amd64", true},
      {"10.0", true},
      {"", false},
      {"garbled", false}};
  for (const auto& [release, reports] : releases) {
    EXPECT_EQ(SyncfsReportsWriteErrors(release), reports) << release;
  }
}

// syncfs() stands in for the batch's own syncs only where it reaches the
// drive: FUSE drivers hear nothing of it and FAT never flushes the cache.
TEST(DurabilityTest, TrustsSyncfsOnlyOnJournallingFileSystems) {
  const std::pair<unsigned long, bool> types[] = {
      {0xEF53, true},       // ext4
      {0x58465342, true},   // xfs
      {0x9123683E, true},   // btrfs
      {0x65735546, false},  // fuse: ntfs-3g, exfat-fuse, sshfs
      {0x4d44, false},      // vfat
      {0x6969, false},      // nfs
      {0xFE534D42, false},  // smb2
  };
  for (const auto& [type, trusted] : types) {
    EXPECT_EQ(SyncfsFlushesTheDisk(type), trusted) << std::hex << type;
  }
}

// Where no thread can be started (a process limit, low memory), the batch
// is synced by fewer threads or none, and the run still ends with every
// file converted.
TEST(DurabilityTest, ConvertsEveryFileWhenNoThreadCanBeStarted) {
  TempDir dir;
  const std::string folder = Utf8String(dir.path());
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    names.push_back("f" + std::to_string(10 + i) + ".gns.car");
    WriteFile(CarFilePath(folder, names.back()), "car_class=2");
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The limit binds only a user without the power to pass it.
    if (geteuid() == 0) {
      chmod(folder.c_str(), 0777);
      for (const std::string& name : names) {
        chmod(CarFilePath(folder, name).c_str(), 0666);
      }
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    }
    const rlimit none = {0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(3);
    try {
      RealFileSystem real(RealFileSystem::BatchSync::kParallel);
      const std::vector<std::string> shown = ModifyAll(real, folder, names);
      _exit(shown == std::vector<std::string>{std::string(kDoneMessage)} ? 0
                                                                         : 4);
    } catch (...) {
      _exit(5);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 2) {
    GTEST_SKIP() << "root cannot become another user here";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(ReadFile(CarFilePath(folder,
                                   "f" + std::to_string(10 + i) + ".pta.car")),
              "car_class=4");
  }
}
#endif

}  // namespace
}  // namespace olvesk

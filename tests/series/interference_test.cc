// What other programs, a second Olvesk window and odd file systems may do
// to the files of a run, and what the run must make of it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "series/car_file.h"
#include "series/convert_command.h"
#include "series/real_file_system.h"
#include "support/folder_run.h"
#include "support/temp_dir.h"
#include "support/virtual_file_system.h"

#if defined(__linux__)
#include <fcntl.h>
#include <sys/xattr.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvesk {
namespace {

namespace fs = std::filesystem;

// A file another conversion holds is left to it, untouched, and the report
// says so.
TEST(SecondWindowTest, LeavesAFileAnotherConversionHoldsUntouched) {
  TempDir dir;
  const std::string path = dir.File("a.gns.car");
  WriteFile(path, "car_class=2");
  RealFileSystem real;
  OpenFile other;
  ASSERT_TRUE(real.Open(path, &other).ok());
  bool locked = false;
  ASSERT_TRUE(real.TryLock(other, &locked).ok());
  ASSERT_TRUE(locked);

  const ConvertResult result = ConvertCarFile(real, path, "pta", '4');
  real.Close(&other);

  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("another Olvesk window"),
            std::string::npos)
      << result.status.ToString();
  EXPECT_EQ(ReadFile(path), "car_class=2");
  EXPECT_EQ(ReadFile(dir.File("a.pta.car")), "<missing>");
}

#if defined(__linux__)
// A file another program holds a lease on, as a file server does, is left
// whole, and the report says to try again rather than a bare errno text.
TEST(SecondWindowTest, LeavesALeasedFileWholeAndSaysToTryAgain) {
  TempDir dir;
  const std::string path = dir.File("a.gns.car");
  WriteFile(path, "car_class=2");
  const int holder = open(path.c_str(), O_RDONLY);
  ASSERT_GE(holder, 0);
  signal(SIGIO, SIG_IGN);  // the holder is asked to give it up by signal
  if (fcntl(holder, F_SETLEASE, F_RDLCK) != 0) {
    close(holder);
    GTEST_SKIP() << "no lease here: " << std::strerror(errno);
  }

  RealFileSystem real;
  const ConvertResult result = ConvertCarFile(real, path, "pta", '4');
  close(holder);

  EXPECT_NE(result.status.reason().find("convert it again in a moment"),
            std::string::npos)
      << result.status.ToString();
  EXPECT_EQ(ReadFile(path), "car_class=2");
}
#endif

// On a drive that ignores letter case, A.gns.car and a.cts.car both become
// the one file a.pta.car: converted in one run, the second must not replace
// what the first became, whether the names give it away or, for accented
// letters, only the files themselves do. |write| and |read| reach the
// files of |folder| on |fs| by name.
void ExpectNoFileOfTheRunReplaced(
    FileSystem& fs, const std::string& folder,
    const std::function<void(const std::string&, const std::string&)>& write,
    const std::function<std::string(const std::string&)>& read) {
  const auto path = [&](const char* name) { return CarFilePath(folder, name); };
  write(path("A.gns.car"), "first car_class=2");
  write(path("a.cts.car"), "second car_class=3");
  write(path("\xc3\x89.gns.car"), "third car_class=2");
  write(path("\xc3\xa9.cts.car"), "fourth car_class=3");
  const std::vector<std::string> shown = ModifyAll(
      fs, folder,
      {"A.gns.car", "a.cts.car", "\xc3\x89.gns.car", "\xc3\xa9.cts.car"});
  EXPECT_EQ(read(path("A.pta.car")), "first car_class=4");
  EXPECT_EQ(read(path("a.cts.car")), "second car_class=3");
  EXPECT_EQ(read(path("\xc3\x89.pta.car")), "third car_class=4");
  EXPECT_EQ(read(path("\xc3\xa9.cts.car")), "fourth car_class=3");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[0].find("a.cts.car: its new name, " + path("a.pta.car") +
                          ", is also that of A.gns.car"),
            std::string::npos)
      << shown[0];
  EXPECT_NE(
      shown[0].find("\xc3\xa9.cts.car: rename " + path("\xc3\xa9.pta.car") +
                    ": another car file of this run"),
      std::string::npos)
      << shown[0];
}

TEST(CaseInsensitiveDriveTest, NeverReplacesAFileTheRunConverted) {
  VirtualFileSystem vfs;
  vfs.ignore_case_ = true;
  vfs.CreateDir("/sim/cars");
  ExpectNoFileOfTheRunReplaced(
      vfs, "/sim/cars",
      [&](const std::string& path, const std::string& contents) {
        vfs.Create(path, contents);
      },
      [&](const std::string& path) { return vfs.Contents(path); });
}

// The same on a real drive: on Windows the system's temporary folder, on
// other systems the folder named in OLVESK_CASE_INSENSITIVE_DIR, where
// scripts/test mounts an exFAT image if the machine lets it.
TEST(CaseInsensitiveDriveTest, NeverReplacesAFileTheRunConvertedOnARealDrive) {
  const char* drive = std::getenv("OLVESK_CASE_INSENSITIVE_DIR");
  fs::path base;
  if (drive != nullptr && *drive != '\0') {
    base = Utf8Path(drive);
  } else {
#ifdef _WIN32
    base = fs::temp_directory_path();
#else
    GTEST_SKIP() << "no case-insensitive drive mounted: set "
                    "OLVESK_CASE_INSENSITIVE_DIR to a folder on one";
#endif
  }
  TempDir dir(base);
  RealFileSystem real;
  ExpectNoFileOfTheRunReplaced(real, Utf8String(dir.path()), WriteFile,
                               ReadFile);
}

// Files that Windows made on an NTFS drive, as Linux's NTFS drivers in
// user space (ntfs-3g, lowntfs-3g) show them: most carry a short DOS name
// besides their own, which those drivers count as a second link, and
// lowntfs-3g keeps a renamed open file's old name hidden until it is
// closed. Both are converted like any other file, with nothing to report.
// scripts/test mounts an NTFS image where the machine lets it; by hand, set
// OLVESK_NTFS_DIR to a folder on such a drive.
TEST(NtfsDriveTest, ConvertsFilesWindowsMadeWithoutAWord) {
#if defined(__linux__)
  const char* drive = std::getenv("OLVESK_NTFS_DIR");
  if (drive == nullptr || *drive == '\0') {
    GTEST_SKIP() << "no NTFS drive mounted: set OLVESK_NTFS_DIR to a folder "
                    "on one";
  }
  TempDir dir(Utf8Path(drive));
  const std::string folder = Utf8String(dir.path());
  // One file with the short name Windows would give it, one without.
  const std::string long_name = CarFilePath(folder, "mustang long.gns.car");
  WriteFile(long_name, "car_class=2 a");
  WriteFile(CarFilePath(folder, "plain.cts.car"), "car_class=3 b");
  const std::string dos_name = "MUSTAN~1.CAR";
  ASSERT_EQ(setxattr(long_name.c_str(), "system.ntfs_dos_name", dos_name.data(),
                     dos_name.size(), 0),
            0)
      << "not an NTFS drive of ntfs-3g's: " << std::strerror(errno);
  RealFileSystem real;
  EXPECT_EQ(ModifyAll(real, folder, {"mustang long.gns.car", "plain.cts.car"}),
            std::vector<std::string>{std::string(kDoneMessage)});
  EXPECT_EQ(ReadFile(CarFilePath(folder, "mustang long.pta.car")),
            "car_class=4 a");
  EXPECT_EQ(ReadFile(CarFilePath(folder, "plain.pta.car")), "car_class=4 b");
#else
  GTEST_SKIP() << "ntfs-3g runs on Linux";
#endif
}

#ifndef _WIN32

// Does |action| right before |path| is opened (|nth| 0), or right after the
// |nth| Stat() of |path| has returned: another program at work between the
// checks of a conversion and its writes.
class MeddlingFileSystem : public FileSystemWrapper {
 public:
  MeddlingFileSystem(FileSystem& target, std::string path, int nth,
                     std::function<void()> action)
      : FileSystemWrapper(target),
        path_(std::move(path)),
        nth_(nth),
        action_(std::move(action)) {}

  Status Open(const std::string& path, OpenFile* file) override {
    if (path == path_ && nth_ == 0) action_();
    return FileSystemWrapper::Open(path, file);
  }
  Status Stat(const std::string& path, FileInfo* info) override {
    const Status status = FileSystemWrapper::Stat(path, info);
    if (path == path_ && ++stats_ == nth_) action_();
    return status;
  }

 private:
  const std::string path_;
  const int nth_;
  const std::function<void()> action_;
  int stats_ = 0;
};

struct SwapCase {
  const char* name;
  int after_stat;  // 0: before the open; 1: after the lock, before the write
  bool fifo;       // a FIFO takes the file's place, else another car file
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

class SwappedFileTest : public ::testing::TestWithParam<SwapCase> {
 protected:
  RealFileSystem real_;
};

// Another program moves the car file aside and puts something else in its
// place: the run never writes, renames or hangs on what took the name, and
// the car file itself ends as it was.
TEST_P(SwappedFileTest, NeverTouchesWhatTookTheName) {
  const SwapCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("a.gns.car");
  const std::string aside = dir.File("aside");
  WriteFile(path, "mine car_class=2");
  MeddlingFileSystem meddling(real_, path, c.after_stat, [&] {
    fs::rename(Utf8Path(path), Utf8Path(aside));
    if (c.fifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else {
      WriteFile(path, "theirs car_class=9");
    }
  });

  const ConvertResult result = ConvertCarFile(meddling, path, "pta", '4');

  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(ReadFile(aside), "mine car_class=2");
  if (c.fifo) {
    EXPECT_TRUE(fs::is_fifo(Utf8Path(path)));
  } else {
    EXPECT_EQ(ReadFile(path), "theirs car_class=9");
  }
  EXPECT_FALSE(fs::exists(Utf8Path(dir.File("a.pta.car"))));
}

INSTANTIATE_TEST_SUITE_P(Swaps, SwappedFileTest,
                         ::testing::Values(SwapCase{"FifoBeforeOpen", 0, true},
                                           SwapCase{"FileAfterLock", 1, false}),
                         [](const auto& test) {
                           return std::string(test.param.name);
                         });

// Just before the rename, the folder's path comes to name another folder
// with a car file of the same name: a link to the folder is pointed
// elsewhere, or the folder is swapped for another. The file written is
// renamed in its own folder; the other folder's file is never touched.
TEST(SwappedFolderTest, RenamesTheFileWrittenInItsOwnFolder) {
  for (const bool link : {true, false}) {
    SCOPED_TRACE(link ? "link pointed elsewhere" : "folder swapped");
    TempDir dir;
    const std::string mine = dir.File("mine");
    const std::string theirs = dir.File("theirs");
    const std::string folder = link ? dir.File("cars") : mine;
    fs::create_directories(Utf8Path(mine));
    fs::create_directories(Utf8Path(theirs));
    WriteFile(CarFilePath(mine, "a.gns.car"), "mine car_class=2");
    WriteFile(CarFilePath(theirs, "a.gns.car"), "theirs car_class=2");
    if (link) fs::create_directory_symlink(Utf8Path(mine), Utf8Path(folder));
    const std::string path = CarFilePath(folder, "a.gns.car");
    RealFileSystem real;
    // After the look at the old name that comes right before the rename.
    MeddlingFileSystem meddling(real, path, 2, [&] {
      if (link) {
        fs::remove(Utf8Path(folder));
        fs::create_directory_symlink(Utf8Path(theirs), Utf8Path(folder));
      } else {
        fs::rename(Utf8Path(mine), Utf8Path(dir.File("moved")));
        fs::rename(Utf8Path(theirs), Utf8Path(mine));
      }
    });

    ConvertCarFile(meddling, path, "pta", '4');

    const std::string mine_now = link ? mine : dir.File("moved");
    const std::string theirs_now = link ? theirs : mine;
    EXPECT_EQ(ReadFile(CarFilePath(mine_now, "a.pta.car")), "mine car_class=4");
    EXPECT_FALSE(fs::exists(Utf8Path(CarFilePath(mine_now, "a.gns.car"))));
    EXPECT_EQ(ReadFile(CarFilePath(theirs_now, "a.gns.car")),
              "theirs car_class=2");
    EXPECT_FALSE(fs::exists(Utf8Path(CarFilePath(theirs_now, "a.pta.car"))));
  }
}

// A folder held for a run is let go when the run ends: a later run, after
// the folder was swapped for another of the same name, works in the one
// there now.
TEST(SwappedFolderTest, ALaterRunWorksInTheFolderThereNow) {
  TempDir dir;
  const std::string folder = dir.File("cars");
  const std::vector<std::string> done = {std::string(kDoneMessage)};
  RealFileSystem real;
  for (const std::string run : {"first", "second"}) {
    SCOPED_TRACE(run);
    fs::create_directories(Utf8Path(folder));
    WriteFile(CarFilePath(folder, "a.gns.car"), run + " car_class=2");
    EXPECT_EQ(ModifyAll(real, folder, {"a.gns.car"}), done);
    fs::rename(Utf8Path(folder), Utf8Path(dir.File(run)));
  }
  EXPECT_EQ(ReadFile(CarFilePath(dir.File("second"), "a.pta.car")),
            "second car_class=4");
}

// Makes |folder| with |count| car files f10.gns.car, f11.gns.car, ... in
// it, and returns their names.
std::vector<std::string> WriteCarFiles(const std::string& folder, int count) {
  fs::create_directories(Utf8Path(folder));
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("f" + std::to_string(10 + i) + ".gns.car");
    WriteFile(CarFilePath(folder, names.back()), "car_class=2");
  }
  return names;
}

// The folder is renamed away while a run is in it: the run stops with one
// message that names the folder and counts the files, instead of calling
// every file after it gone and the run a success.
TEST(VanishingFolderTest, StopsTheRunWithOneMessage) {
  // Also through a link to the folder, which then leads nowhere.
  for (const bool through_link : {false, true}) {
    SCOPED_TRACE(through_link ? "through a link" : "the folder itself");
    TempDir root;
    const fs::path cars = root.path() / "cars";
    const std::vector<std::string> names = WriteCarFiles(Utf8String(cars), 20);
    std::string folder = Utf8String(cars);
    if (through_link) {
      folder = Utf8String(root.path() / "linked");
      fs::create_directory_symlink(cars, Utf8Path(folder));
    }
    // Right after the last file of the first batch is renamed, while the
    // second waits for its renames.
    RealFileSystem real;
    MeddlingFileSystem meddling(
        real, CarFilePath(folder, "f25.pta.car"), 1,
        [&] { fs::rename(cars, root.path() / "renamed"); });
    EXPECT_EQ(ModifyAll(meddling, folder, names),
              std::vector<std::string>{
                  "The folder " + folder +
                  " was renamed or removed while its car files were being "
                  "converted, so the run stopped there.\n\n16 car files "
                  "converted, 0 not converted, 4 not tried.\n\nThe system "
                  "could not confirm that the new names of the converted "
                  "files are safely on disk: if the power fails now, some "
                  "may come back under their old names with the new class "
                  "digit. Converting them again finishes them."});
    const fs::path renamed = root.path() / "renamed";
    EXPECT_EQ(ReadFile(Utf8String(renamed / "f25.pta.car")), "car_class=4");
    EXPECT_EQ(ReadFile(Utf8String(renamed / "f26.gns.car")), "car_class=2");
    EXPECT_EQ(ReadFile(Utf8String(renamed / "f28.gns.car")), "car_class=2");
  }
}

// The drive is pulled in the middle of a batch's renames: the folder is gone
// and no digit can be put back. Each file left with its new digit under its
// old name is named, not counted among the files never tried.
TEST(VanishingFolderTest, NamesEachFileWhoseDigitCouldNotBePutBack) {
  TempDir root;
  const std::string folder = Utf8String(root.path() / "cars");
  const std::vector<std::string> names = WriteCarFiles(folder, 16);
  struct PulledDrive : FileSystemWrapper {
    using FileSystemWrapper::FileSystemWrapper;
    Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
                 std::size_t size) override {
      if (pulled_) return Status::Error("write", file.path, "I/O error");
      return FileSystemWrapper::Write(file, offset, data, size);
    }
    bool pulled_ = false;
  };
  RealFileSystem real;
  PulledDrive drive(real);
  // Right after f20 is renamed, in the one batch of 16.
  MeddlingFileSystem meddling(
      drive, CarFilePath(folder, "f20.pta.car"), 1, [&] {
        fs::rename(Utf8Path(folder), root.path() / "renamed");
        drive.pulled_ = true;
      });
  const std::vector<std::string> shown = ModifyAll(meddling, folder, names);
  ASSERT_EQ(shown.size(), 2u);
  // Named first, as the files to see to.
  EXPECT_EQ(shown[0].rfind(kUnrestoredHeading, 0), 0u) << shown[0];
  for (int i = 21; i < 26; ++i) {
    const std::string name = "f" + std::to_string(i) + ".gns.car";
    EXPECT_NE(shown[0].find(name + ": "), std::string::npos) << name;
    EXPECT_EQ(ReadFile(Utf8String(root.path() / "renamed" / name)),
              "car_class=4");
  }
  EXPECT_NE(shown[0].find(kNotPutBack), std::string::npos) << shown[0];
  EXPECT_NE(shown[1].find("11 car files converted, 5 not converted, 0 not "
                          "tried."),
            std::string::npos)
      << shown[1];
}

// A file goes away from a folder the run reached through a link: only that
// file is reported, and the run goes on.
TEST(VanishingFolderTest, GoesOnWhenOneFileOfALinkedFolderGoes) {
  TempDir root;
  const fs::path real_folder = root.path() / "cars";
  fs::create_directories(real_folder);
  const std::string folder = Utf8String(root.path() / "linked");
  fs::create_directory_symlink(real_folder, Utf8Path(folder));
  const std::vector<std::string> names = {"f10.gns.car", "f11.gns.car",
                                          "f12.gns.car"};
  for (const std::string& name : names) {
    WriteFile(CarFilePath(folder, name), "car_class=2");
  }
  RealFileSystem real;
  MeddlingFileSystem meddling(real, CarFilePath(folder, "f11.gns.car"), 0,
                              [&] { fs::remove(real_folder / "f11.gns.car"); });
  const std::vector<std::string> shown = ModifyAll(meddling, folder, names);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1], "Done Converting Car files");
  EXPECT_NE(shown[0].find("f11.gns.car: open " + folder +
                          "/f11.gns.car: the file is no longer there"),
            std::string::npos)
      << shown[0];
  EXPECT_EQ(ReadFile(Utf8String(real_folder / "f10.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(Utf8String(real_folder / "f12.pta.car")), "car_class=4");
}

// Another program at work around a conversion's writes and renames: each
// hook, where set, runs with the path of the open file.
struct Hooked : FileSystemWrapper {
  using FileSystemWrapper::FileSystemWrapper;
  Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
               std::size_t size) override {
    if (before_write) before_write(file.path);
    return FileSystemWrapper::Write(file, offset, data, size);
  }
  Status Rename(OpenFile* file, const std::string& to) override {
    if (before_rename) before_rename(file->path);
    const Status status = FileSystemWrapper::Rename(file, to);
    if (after_rename) after_rename(file->path);
    return status;
  }
  std::function<void(const std::string&)> before_write, before_rename,
      after_rename;
};

// The folder goes between a file's rename and the look at its new name: that
// file was converted, and is counted and named as such.
TEST(VanishingFolderTest, CountsAFileRenamedJustBeforeAsConverted) {
  TempDir root;
  const std::string folder = Utf8String(root.path() / "cars");
  const std::vector<std::string> names = WriteCarFiles(folder, 20);
  RealFileSystem real;
  Hooked meddling(real);
  meddling.after_rename = [&](const std::string& path) {
    if (path == CarFilePath(folder, "f25.pta.car")) {
      fs::rename(Utf8Path(folder), root.path() / "renamed");
    }
  };
  const std::vector<std::string> shown = ModifyAll(meddling, folder, names);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[0].find(std::string(kUnconfirmedOneHeading) +
                          "\n\nf25.gns.car: rename " +
                          CarFilePath(folder, "f25.pta.car")),
            std::string::npos)
      << shown[0];
  EXPECT_NE(shown[1].find("16 car files converted, 0 not converted, 4 not "
                          "tried."),
            std::string::npos)
      << shown[1];
}

// Another program gives the file a second name while it is converted, after
// it was checked or at its new name right before the rename: no name is
// left with the new digit and an old series code, and the file is not
// reported as converted.
TEST(LinkedMeanwhileTest, LeavesTheFileAsItWas) {
  for (const bool at_new_name : {false, true}) {
    TempDir dir;
    const std::string path = dir.File("a.gns.car");
    const std::string link =
        dir.File(at_new_name ? "a.pta.car" : "backup.gns.car");
    WriteFile(path, "car_class=2");
    RealFileSystem real;
    Hooked linking(real);
    const auto make_link = [&](const std::string& from) {
      if (!fs::exists(Utf8Path(link))) {
        fs::create_hard_link(Utf8Path(from), Utf8Path(link));
      }
    };
    (at_new_name ? linking.before_rename : linking.before_write) = make_link;

    const ConvertResult result = ConvertCarFile(linking, path, "pta", '4');

    EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed) << link;
    EXPECT_NE(result.status.reason().find("hard link"), std::string::npos)
        << result.status.ToString();
    EXPECT_EQ(ReadFile(path), "car_class=2");
    EXPECT_EQ(ReadFile(link), "car_class=2");
  }
}

// Two windows convert the same folder to two series at once: each file ends
// unchanged or converted to one series, its name and its digit alike.
TEST(SecondWindowTest, TwoProcessesOnOneFolderNeverMixTheirSeries) {
  TempDir root;
  const std::string folder = Utf8String(root.path() / "cars");
  fs::create_directories(Utf8Path(folder));
  constexpr int kFiles = 400;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("f" + std::to_string(1000 + i) + ".gns.car");
    WriteFile(CarFilePath(folder, names.back()), "x car_class=2 y");
  }
  const std::pair<const char*, char> targets[] = {{"pta", '4'}, {"cup", '1'}};
  // Both start together, once the pipe's writing end is closed.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (const auto& [code, digit] : targets) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(gate[1]);
      char byte;
      if (read(gate[0], &byte, 1) != 0) _exit(3);
      RealFileSystem real;
      ModifyAll(real, folder, names, code, digit);
      _exit(0);
    }
    children.push_back(child);
  }
  close(gate[0]);
  close(gate[1]);
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  int files = 0;
  for (const auto& entry : fs::directory_iterator(Utf8Path(folder))) {
    const std::string name = Utf8String(entry.path().filename());
    const std::string code = name.substr(name.size() - 7, 3);
    const char digit = code == "gns" ? '2' : code == "pta" ? '4' : '1';
    EXPECT_EQ(ReadFile(Utf8String(entry.path())),
              std::string("x car_class=") + digit + " y")
        << name;
    ++files;
  }
  EXPECT_EQ(files, kFiles);
}

// A path longer than the system takes is called a path, not a file name.
TEST(LongPathTest, IsReportedAsAPathTooLong) {
  const std::string folder = "/" + std::string(5000, 'd');
  RealFileSystem real;
  const ConvertResult result =
      ConvertCarFile(real, CarFilePath(folder, "a.gns.car"), "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("the path is too long"),
            std::string::npos)
      << result.status.reason();
}

#endif  // _WIN32

}  // namespace
}  // namespace olvesk

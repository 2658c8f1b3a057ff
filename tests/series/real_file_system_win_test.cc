// What differs on Windows: backslash paths and drive roots, renaming onto a
// read-only file or one another program holds open, and names outside ASCII
// going through the wide-string calls.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "series/car_file.h"
#include "series/real_file_system.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

struct WindowsPathCase {
  std::string folder;
  std::string name;
  std::string path;  // CarFilePath(folder, name)
  std::string folder_code;
  std::string new_path_for_pta;
};

void PrintTo(const WindowsPathCase& c, std::ostream* os) { *os << c.path; }

class WindowsPathTest : public ::testing::TestWithParam<WindowsPathCase> {};

TEST_P(WindowsPathTest, JoinsWithABackslashAndCountsFromTheEnd) {
  const WindowsPathCase& c = GetParam();
  const std::string path = CarFilePath(c.folder, c.name);
  EXPECT_EQ(path, c.path);
  EXPECT_EQ(FolderSeriesCode(c.folder), c.folder_code);
  EXPECT_EQ(FileSeriesCode(path), "gns");
  EXPECT_EQ(NewCarFilePath(path, "pta"), c.new_path_for_pta);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WindowsPathTest,
    ::testing::Values(WindowsPathCase{"C:\\Games\\cup\\cars", "mustang.gns.car",
                                      "C:\\Games\\cup\\cars\\mustang.gns.car",
                                      "cup",
                                      "C:\\Games\\cup\\cars\\mustang.pta.car"},
                      // The separator is inserted after a drive root or a
                      // folder that already ends in one, too.
                      WindowsPathCase{"C:\\", "a.gns.car", "C:\\\\a.gns.car",
                                      "C:\\", "C:\\\\a.pta.car"},
                      // A trailing separator counts as a character.
                      WindowsPathCase{"D:\\cup\\cars\\", "b.gns.car",
                                      "D:\\cup\\cars\\\\b.gns.car", "up\\",
                                      "D:\\cup\\cars\\\\b.pta.car"},
                      WindowsPathCase{"C:\\Spiele\\gns\\wägn", "ü.gns.car",
                                      "C:\\Spiele\\gns\\wägn\\ü.gns.car", "gns",
                                      "C:\\Spiele\\gns\\wägn\\ü.pta.car"}));

std::wstring Wide(const std::string& path) { return Utf8Path(path).wstring(); }

DWORD Attributes(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str());
}

// Windows itself refuses to rename onto such a file (Wine does not).
void SetReadOnly(const std::string& path) {
  ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_NE(Attributes(path) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A handle another program might hold: it lets others read and write the
// file but not delete or rename it.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : handle_(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() { Release(); }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;

  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

class WindowsConvertTest : public ::testing::Test {
 protected:
  WindowsConvertTest()
      : source_(dir_.File("mustang.gns.car")),
        target_(dir_.File("mustang.pta.car")) {}

  ~WindowsConvertTest() override {
    // TempDir cannot remove a read-only file.
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }

  RealFileSystem fs_;
  TempDir dir_;
  const std::string source_;
  const std::string target_;
};

TEST_F(WindowsConvertTest, ConvertsAFileReachedFromItsDriveRoot) {
  // "C:\" joined with the rest of the way gives "C:\\users\...": the doubled
  // separator must still name the file.
  const std::filesystem::path root = dir_.path().root_path();
  const std::string rest =
      Utf8String(Utf8Path(source_).lexically_relative(root));
  const std::string path = CarFilePath(Utf8String(root), rest);
  ASSERT_NE(path.find("\\\\"), std::string::npos) << path;
  WriteFile(source_, "car_class=2");

  const ConvertResult result = ConvertCarFile(fs_, path, "pta", '4');

  ASSERT_TRUE(result.converted()) << result.status.ToString();
  EXPECT_EQ(result.new_path, path.substr(0, path.size() - 7) + "pta.car");
  EXPECT_EQ(ReadFile(target_), "car_class=4");
  EXPECT_EQ(ReadFile(source_), "<missing>");
}

TEST_F(WindowsConvertTest, ConvertsAFileOnAPathLongerThanMaxPath) {
  std::filesystem::path folder = dir_.path();
  for (char c : {'a', 'b', 'c'}) folder /= std::string(100, c);
  const std::filesystem::path long_form = L"\\\\?\\" + folder.wstring();
  std::filesystem::create_directories(long_form);
  WriteFile(Utf8String(long_form / "a.gns.car"), "car_class=2");
  const std::string path = CarFilePath(Utf8String(folder), "a.gns.car");
  ASSERT_GT(path.size(), std::size_t{MAX_PATH});

  const ConvertResult result = ConvertCarFile(fs_, path, "pta", '4');

  EXPECT_TRUE(result.converted()) << result.status.ToString();
  EXPECT_EQ(ReadFile(Utf8String(long_form / "a.pta.car")), "car_class=4");
  // The folder is left to TempDir, as far as it reaches.
}

// A name the system would take for a device unless given as it is: the
// file converts as the file it is.
TEST_F(WindowsConvertTest, ConvertsAFileNamedLikeADevice) {
  const std::filesystem::path as_is = L"\\\\?\\" + dir_.path().wstring();
  for (const std::string base : {"nul", "CON"}) {
    WriteFile(Utf8String(as_is / (base + ".gns.car")), "car_class=2");

    const ConvertResult result =
        ConvertCarFile(fs_, dir_.File(base + ".gns.car"), "pta", '4');

    EXPECT_TRUE(result.converted()) << base << ": " << result.status.ToString();
    EXPECT_EQ(ReadFile(Utf8String(as_is / (base + ".pta.car"))), "car_class=4");
    // TempDir, which goes by the plain names, would reach the device.
    for (const char* code : {".gns.car", ".pta.car"}) {
      std::filesystem::remove(as_is / (base + code));
    }
  }
}

struct TargetCase {
  const char* name;
  bool exists;
  bool read_only;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

class RenameOntoTest : public WindowsConvertTest,
                       public ::testing::WithParamInterface<TargetCase> {};

TEST_P(RenameOntoTest, ReplacesWhateverFileIsAtTheNewName) {
  const TargetCase& c = GetParam();
  WriteFile(source_, "car_class=2");
  if (c.exists) WriteFile(target_, "old target");
  if (c.read_only) SetReadOnly(target_);

  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');

  ASSERT_TRUE(result.converted()) << result.status.ToString();
  EXPECT_EQ(ReadFile(target_), "car_class=4");
  EXPECT_EQ(ReadFile(source_), "<missing>");
  // The converted file keeps its own attributes, not the replaced file's.
  EXPECT_EQ(Attributes(target_) & FILE_ATTRIBUTE_READONLY, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RenameOntoTest,
    ::testing::Values(TargetCase{"NoFile", false, false},
                      TargetCase{"File", true, false},
                      TargetCase{"ReadOnlyFile", true, true}),
    [](const auto& test) { return std::string(test.param.name); });

// Windows refuses the rename as access denied, as it does for a file held
// open, but a folder stays: the report says what is in the way.
TEST_F(WindowsConvertTest, LeavesAFileWhoseNewNameIsAFolder) {
  WriteFile(source_, "car_class=2");
  ASSERT_TRUE(std::filesystem::create_directory(Utf8Path(target_)));

  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');

  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(result.status.reason(), "a folder of that name is in the way");
  EXPECT_EQ(ReadFile(source_), "car_class=2");
  EXPECT_TRUE(std::filesystem::is_directory(Utf8Path(target_)));
}

// The read-only mark belongs to the file, not the name: a read-only file at
// the new name that has another name keeps its mark there.
TEST_F(WindowsConvertTest, LeavesAReadOnlyFileWithOtherNamesAtTheNewName) {
  const std::string other = dir_.File("backup.pta.car");
  WriteFile(source_, "car_class=2");
  WriteFile(other, "kept");
  ASSERT_TRUE(
      CreateHardLinkW(Wide(target_).c_str(), Wide(other).c_str(), nullptr));
  SetReadOnly(other);

  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');

  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("hard links"), std::string::npos)
      << result.status.ToString();
  EXPECT_EQ(ReadFile(source_), "car_class=2");
  EXPECT_EQ(ReadFile(target_), "kept");
  EXPECT_NE(Attributes(other) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A read-only file is left as it is, and the report says why.
TEST_F(WindowsConvertTest, SaysAFileIsReadOnly) {
  WriteFile(source_, "car_class=2");
  SetReadOnly(source_);
  // Wine lets a read-only file be opened for writing; Windows does not.
  const HANDLE probe =
      CreateFileW(Wide(source_).c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "this system writes read-only files";
  }
  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("read-only"), std::string::npos)
      << result.status.ToString();
  EXPECT_EQ(ReadFile(source_), "car_class=2");
}

struct HeldCase {
  const char* name;
  bool hold_source;  // else the target is held
  bool read_only_target;
  // The call that fails: a held source cannot be opened to be renamed
  // through its handle, so nothing is written to it.
  const char* op;
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldOpenTest : public WindowsConvertTest,
                     public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldOpenTest, FailsWithTheReasonAndLeavesBothFilesAsTheyWere) {
  const HeldCase& c = GetParam();
  const std::string before = "a\ncar_class=2\nb";
  WriteFile(source_, before);
  WriteFile(target_, "old target");
  if (c.read_only_target) SetReadOnly(target_);
  HeldOpen held(c.hold_source ? source_ : target_);
  ASSERT_TRUE(held.held());

  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');

  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(result.status.op(), c.op);
  EXPECT_EQ(result.status.path(), source_);
  // The system's own words, without the line break it ends them with.
  const std::string& reason = result.status.reason();
  ASSERT_FALSE(reason.empty());
  EXPECT_EQ(reason.rfind("Windows error", 0), std::string::npos) << reason;
  EXPECT_NE(reason.back(), '\n');
  EXPECT_NE(reason.back(), '\r');
  held.Release();
  EXPECT_EQ(ReadFile(source_), before);
  EXPECT_EQ(ReadFile(target_), "old target");
  EXPECT_EQ(Attributes(target_) & FILE_ATTRIBUTE_READONLY,
            c.read_only_target ? DWORD{FILE_ATTRIBUTE_READONLY} : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Handles, HeldOpenTest,
    ::testing::Values(HeldCase{"Target", false, false, "rename"},
                      HeldCase{"ReadOnlyTarget", false, true, "rename"},
                      HeldCase{"Source", true, false, "open"}),
    [](const auto& test) { return std::string(test.param.name); });

DWORD WINAPI ReleaseSoon(void* held) {
  Sleep(100);
  static_cast<HeldOpen*>(held)->Release();
  return 0;
}

TEST_F(WindowsConvertTest, WaitsForAHandleThatIsSoonClosed) {
  WriteFile(source_, "car_class=2");
  WriteFile(target_, "old target");
  HeldOpen held(target_);
  ASSERT_TRUE(held.held());
  const HANDLE thread =
      CreateThread(nullptr, 0, ReleaseSoon, &held, 0, nullptr);
  ASSERT_NE(thread, nullptr);

  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');

  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  ASSERT_TRUE(result.converted()) << result.status.ToString();
  EXPECT_EQ(ReadFile(target_), "car_class=4");
}

struct NameCase {
  const char* test_name;
  std::string folder;  // under the temporary folder; empty for none
  std::string name;
  std::string new_name;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.test_name; }

class WideNameTest : public ::testing::TestWithParam<NameCase> {
 protected:
  RealFileSystem fs_;
  TempDir dir_;
};

// The converted file must carry exactly the intended name: a narrow call
// along the way would have mangled it or not found the file at all.
TEST_P(WideNameTest, ConvertsAndRenamesThroughTheWideCalls) {
  const NameCase& c = GetParam();
  std::filesystem::path folder = dir_.path();
  if (!c.folder.empty()) {
    folder /= Utf8Path(c.folder);
    std::filesystem::create_directory(folder);
  }
  const std::string path = CarFilePath(Utf8String(folder), c.name);
  WriteFile(path, "car_class=2");

  FileInfo info;
  ASSERT_TRUE(fs_.Stat(path, &info).ok());
  EXPECT_EQ(info.kind, FileInfo::Kind::kRegular);
  EXPECT_EQ(info.size, 11u);
  const ConvertResult result = ConvertCarFile(fs_, path, "cup", '1');

  ASSERT_TRUE(result.converted()) << result.status.ToString();
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(Utf8String(entry.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{c.new_name});
  EXPECT_EQ(ReadFile(result.new_path), "car_class=1");
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideNameTest,
    ::testing::Values(NameCase{"LatinAndCjk", "", "Fährer 日本.gns.car",
                               "Fährer 日本.cup.car"},
                      // Four UTF-8 bytes, two UTF-16 units.
                      NameCase{"OutsideTheBasicPlane", "", "🏁 car.pta.car",
                               "🏁 car.cup.car"},
                      NameCase{"InAWideFolder", "Spiele für 日本",
                               "wägn.cts.car", "wägn.cup.car"}),
    [](const auto& test) { return std::string(test.param.test_name); });

TEST(WindowsStatTest, TellsKindsApartAndHardLinksAlike) {
  TempDir dir;
  RealFileSystem fs;
  const std::string file = dir.File("a.gns.car");
  const std::string link = dir.File("b.gns.car");
  const std::string other = dir.File("c.gns.car");
  WriteFile(file, "abc");
  WriteFile(other, "abc");
  std::filesystem::create_hard_link(Utf8Path(file), Utf8Path(link));

  FileInfo a, b, c, folder, missing, missing_folder;
  ASSERT_TRUE(fs.Stat(file, &a).ok());
  ASSERT_TRUE(fs.Stat(link, &b).ok());
  ASSERT_TRUE(fs.Stat(other, &c).ok());
  ASSERT_TRUE(fs.Stat(Utf8String(dir.path()), &folder).ok());
  ASSERT_TRUE(fs.Stat(dir.File("none.gns.car"), &missing).ok());
  ASSERT_TRUE(
      fs.Stat(CarFilePath(dir.File("none"), "a.gns.car"), &missing_folder)
          .ok());

  EXPECT_EQ(a.kind, FileInfo::Kind::kRegular);
  EXPECT_EQ(a.size, 3u);
  EXPECT_EQ(a.device, b.device);
  EXPECT_EQ(a.inode, b.inode);
  EXPECT_FALSE(a.device == c.device && a.inode == c.inode);
  EXPECT_EQ(folder.kind, FileInfo::Kind::kDirectory);
  EXPECT_EQ(missing.kind, FileInfo::Kind::kMissing);
  EXPECT_EQ(missing_folder.kind, FileInfo::Kind::kMissing);
}

// Files a driver serves in place, as a cloud drive's are, carry a reparse
// point that is no link: they are plain files, not refused as links.
TEST(WindowsStatTest, TakesAReparsePointThatIsNoLinkForAPlainFile) {
  TempDir dir;
  RealFileSystem fs;
  const std::string path = dir.File("a.gns.car");
  WriteFile(path, "car_class=2");
  const HANDLE handle = CreateFileW(
      Utf8Path(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  // A tag of another vendor's, which names no other file.
  REPARSE_GUID_DATA_BUFFER point = {};
  point.ReparseTag = 0x00000123;
  point.ReparseGuid = {0x0a1c3b5e, 0x2f4d, 0x4e6a, {1, 2, 3, 4, 5, 6, 7, 8}};
  DWORD returned = 0;
  const bool set = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &point,
                                   REPARSE_GUID_DATA_BUFFER_HEADER_SIZE,
                                   nullptr, 0, &returned, nullptr);
  CloseHandle(handle);
  if (!set) GTEST_SKIP() << "this system sets no reparse points";

  FileInfo info;
  OpenFile file;
  ASSERT_TRUE(fs.Stat(path, &info).ok());
  const Status open = fs.Open(path, &file);
  if (open.ok()) fs.Close(&file);
  EXPECT_EQ(info.kind, FileInfo::Kind::kRegular);
  EXPECT_EQ(open.reason().find("symbolic link"), std::string::npos);
}

// Renames in a folder that is gone, or on a drive that was pulled, are not
// confirmed as safely on disk.
TEST(WindowsStatTest, SyncDirFailsForAFolderThatIsGone) {
  TempDir dir;
  RealFileSystem fs;
  EXPECT_TRUE(fs.SyncDir(Utf8String(dir.path())).ok());
  const Status gone = fs.SyncDir(dir.File("gone"));
  EXPECT_FALSE(gone.ok());
  EXPECT_EQ(gone.path(), dir.File("gone"));
}

TEST(WindowsStatTest, RefusesAPathThatIsNotUtf8) {
  TempDir dir;
  RealFileSystem fs;
  FileInfo info;
  OpenFile file;
  const std::string path = dir.File("a") + "\xff.gns.car";
  const Status stat = fs.Stat(path, &info);
  const Status open = fs.Open(path, &file);
  EXPECT_FALSE(stat.ok());
  EXPECT_NE(stat.reason().find("UTF-8"), std::string::npos);
  EXPECT_FALSE(open.ok());
  EXPECT_EQ(open.path(), path);
}

}  // namespace
}  // namespace olvesk

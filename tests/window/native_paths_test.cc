// The paths the window hands to the conversion core are the system's own:
// "C:\cars\gns" on Windows, with the drive root as "C:\", and names in any
// script survive the trip from the lists to the file system and back.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QString>
#include <QTreeWidgetItem>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "series/convert_command.h"
#include "series/real_file_system.h"
#include "support/fake_controls.h"
#include "support/temp_dir.h"
#include "window/directory_list_box.h"
#include "window/file_list_box.h"

namespace olvesk {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& path) {
  return QString::fromStdString(Utf8String(path));
}

// A folder below a fresh temporary folder (none: the drive root), as the
// standard library spells it in the system's own form.
class DirectoryListPathTest : public ::testing::TestWithParam<const char*> {
 protected:
  fs::path Folder() const {
    const std::string below = GetParam();
    if (below == "<root>") return root_.path().root_path();
    const fs::path folder = (root_.path() / Utf8Path(below)).make_preferred();
    fs::create_directories(folder);
    return folder;
  }
  TempDir root_;
};

TEST_P(DirectoryListPathTest, HandsOnTheSystemsPathAndStaysOnItsDrive) {
  const fs::path folder = Folder();
  DirectoryListBox list;
  list.setFolder(Q(folder));

  EXPECT_EQ(list.Path(), Utf8String(folder));
  // One tree, from the root of the folder's own drive down to the folder.
  ASSERT_EQ(list.topLevelItemCount(), 1);
  EXPECT_EQ(list.topLevelItem(0)->text(0), Q(folder.root_path()));
  ASSERT_NE(list.currentItem(), nullptr);
  if (folder != folder.root_path()) {
    EXPECT_EQ(list.currentItem()->text(0), Q(folder.filename()));
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, DirectoryListPathTest,
                         ::testing::Values("<root>", "cars",
                                           "cup/cars/classics",
                                           "\u00c6r\u00f8 \u65e5\u672c "
                                           "\U0001F600/gns/cars"));

// A folder that is gone, as a working folder removed before the program
// started, opens the nearest folder above it; no folder at all, the home
// folder.
TEST(DirectoryListStartTest, OpensTheNearestFolderThatIsThere) {
  TempDir root;
  fs::create_directories(root.path() / "cars");
  const std::pair<fs::path, fs::path> cases[] = {
      {root.path() / "cars" / "gone" / "deeper", root.path() / "cars"},
      {root.path() / "cars", root.path() / "cars"},
  };
  for (const auto& [asked, opened] : cases) {
    DirectoryListBox list;
    list.setFolder(Q(asked));
    EXPECT_EQ(list.Path(), Utf8String(opened.lexically_normal()));
  }
  DirectoryListBox list;
  list.setFolder(QString());
  EXPECT_EQ(list.folder(), QDir::homePath());
}

// Presses the convert button on the file highlighted in |files|, in the
// folder |dir| shows, with the target series cup, through the real file
// system; returns the messages shown.
std::vector<std::string> ConvertHighlightedToCup(DirectoryListBox& dir,
                                                 FileListBox& files) {
  RealFileSystem fs;
  FakeCheckBox modify_all;
  FakeMessageBox messages;
  FakeProgress progress;
  ConvertCommand(fs, dir, files, modify_all, messages, progress)
      .Run("cup", '1');
  return messages.shown_;
}

TEST(NativePathConversionTest, ConvertsAWideNameInAWideFolder) {
  TempDir root;
  const fs::path folder =
      (root.path() / Utf8Path("\u00c6r\u00f8 \u65e5\u672c/cup/cars"))
          .make_preferred();
  fs::create_directories(folder);
  const std::string name = "\u03a9mega \U0001F697.gns.car";
  WriteFile(Utf8String(folder / Utf8Path(name)), "car_class=2\r\n");

  DirectoryListBox dir;
  dir.setFolder(Q(folder));
  FileListBox files;
  files.SetPattern("*.gns.car");
  // As the window does when a folder opens, but through the core's side:
  // the path in the system's form.
  files.SetPath(dir.Path());
  ASSERT_EQ(files.ListCount(), 1);
  files.SetListIndex(0);
  EXPECT_EQ(files.FileName(), name);

  EXPECT_EQ(ConvertHighlightedToCup(dir, files),
            std::vector<std::string>{"Done Converting Car files"});
  EXPECT_EQ(
      ReadFile(Utf8String(folder / Utf8Path("\u03a9mega \U0001F697.cup.car"))),
      "car_class=1\r\n");
  EXPECT_EQ(files.ListCount(), 0);
}

#if defined(_WIN32)
// Windows names need not be well-formed UTF-16. A folder and a file whose
// names hold a lone surrogate are reached as they are: neither refused nor
// taken for a sibling that a stand-in character would match as a wildcard.
TEST(NativePathConversionTest, ConvertsANameWithALoneSurrogate) {
  TempDir root;
  const fs::path folder = root.path() / L"cars\xd800";
  const fs::path sibling = root.path() / L"carsX";
  // A low surrogate, with no high one before it.
  const std::wstring lone = L"\xdc00";
  const fs::path file = folder / (lone + L"a.gns.car");
  std::error_code error;
  fs::create_directory(folder, error);
  std::ofstream(file, std::ios::binary) << "car_class=2";
  if (!fs::exists(file, error)) {
    GTEST_SKIP() << "this system holds no names with lone surrogates";
  }
  fs::create_directory(sibling);
  const std::string decoy = Utf8String(sibling / "decoy.gns.car");
  WriteFile(decoy, "car_class=2");

  DirectoryListBox dir;
  dir.setFolder(QString::fromStdWString(folder.wstring()));
  FileListBox files;
  files.SetPattern("*.gns.car");
  files.SetPath(dir.Path());
  ASSERT_EQ(files.ListCount(), 1);
  files.SetListIndex(0);
  EXPECT_EQ(ConvertHighlightedToCup(dir, files),
            std::vector<std::string>{"Done Converting Car files"});
  std::ifstream in(folder / (lone + L"a.cup.car"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "car_class=1");
  EXPECT_EQ(ReadFile(decoy), "car_class=2");
}

// A working folder spelled otherwise than the disk spells it ("Start in",
// "start /d", a typed path) opens in the disk's spelling, so that the series
// code read from it, letter case and all, is the folder's own.
TEST(DirectoryListCaseTest, OpensAFolderAsTheDiskSpellsIt) {
  struct Case {
    const char* asked;
    const char* on_disk;
  };
  const Case cases[] = {
      {"CARS/GNS/ABCD", "cars\\gns\\abcd"},
      {"Cars/Gns/Abcd", "cars\\gns\\abcd"},
      {"\u0413\u041e\u041d\u041a\u0418/GNS/\u0414\u041e\u041c1",
       "\u0433\u043e\u043d\u043a\u0438\\gns\\\u0434\u043e\u043c1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    TempDir root;
    fs::create_directories(root.path() / Utf8Path(c.on_disk));
    DirectoryListBox dir;
    dir.setFolder(Q((root.path() / Utf8Path(c.asked)).make_preferred()));
    // The temporary folder above may itself be spelled short ("RUNNER~1").
    const std::string path = dir.Path();
    const std::string tail = std::string("\\") + c.on_disk;
    ASSERT_GE(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  }
}
#endif

}  // namespace
}  // namespace olvesk

int main(int argc, char* argv[]) {
  // Test discovery runs this without ctest's environment.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

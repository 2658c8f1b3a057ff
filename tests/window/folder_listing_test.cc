#include "window/folder_listing.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <QDir>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <ostream>
#include <string>

#include "support/temp_dir.h"

namespace olvesk {
namespace {

namespace fs = std::filesystem;

// What QDir lists for the file list: its own reading of the same rules.
QStringList QDirListing(const QString& folder, const QString& pattern) {
  QDir dir(folder);
  dir.setNameFilters(pattern.split(u';', Qt::SkipEmptyParts));
  dir.setFilter(QDir::Files);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  return dir.entryList();
}

// A folder with every kind of entry the rules tell apart. No two names
// differ only in case, since QDir leaves the order of such names open.
class FolderListingTest : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    const fs::path& root = folder_->path();
    for (const char* name :
         {"b.gns.car", "A.CTS.CAR", "c.Gns.Car", "z.gns.car", "car9.gns.car",
          "car10.gns.car", "mustang.pta.car", "notes.txt", "x.gns.car.bak",
          // At and past the eight leading letters that most comparisons
          // look at.
          "longnamY.gns.car", "longnamX.gns.car", "longname1.gns.car",
          "longnameZ.gns.car", "longname.gns.car",
          // Sorted by their UTF-16 units: U+00E4, then a surrogate pair,
          // then U+FF41.
          "\u00c4.gns.car", "\U0001F600.gns.car", "\uFF21.gns.car",
          // A long s, which a comparison that ignores case may take for "s".
          "x.gn\u017F.car",
          // Outside the BMP: U+10410 sorts after U+10429 once either is
          // made lower case or folded, before it as it is.
          "\U00010410.gns.car", "\U00010429.gns.car",
          // Short names, for the patterns that take every name.
          "a", "AB", "b", ".hidden.gns.car", ".hidden"}) {
      WriteFile(folder_->File(name), "car_class=1");
    }
    fs::create_directory(root / "folder.gns.car");
#ifndef _WIN32
    fs::create_symlink("b.gns.car", root / "link.gns.car");
    fs::create_symlink("folder.gns.car", root / "folder-link.gns.car");
    fs::create_symlink("missing.gns.car", root / "broken.gns.car");
    ASSERT_EQ(mkfifo((root / "pipe.gns.car").c_str(), 0600), 0);
    fs::create_symlink("pipe.gns.car", root / "pipe-link.gns.car");
#endif
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  static QString Folder() {
    return QString::fromStdString(Utf8String(folder_->path()));
  }

  static TempDir* folder_;
};

TempDir* FolderListingTest::folder_ = nullptr;

TEST_P(FolderListingTest, ListsWhatQDirLists) {
  const QString pattern = QString::fromUtf8(GetParam());
  const QStringList expected = QDirListing(Folder(), pattern);
  ASSERT_FALSE(expected.isEmpty());
  EXPECT_EQ(ListMatchingFiles(Folder(), pattern).AllShown(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FolderListingTest,
    ::testing::Values(
        // What the window sets, and the same in other letter cases.
        "*.cup.car;*.gns.car;*.cts.car", "*.GNS.CAR", "*.Cts.car",
        // No pattern, or only separators, lists every file.
        "", ";;", "*", "*.pta.car;;*.txt;",
        // A whole name, and the wildcards that need a regular expression.
        "B.GNS.CAR", "link.gns.car;notes.txt", "?.gns.car", "[ab]*",
        "car[0-9]*.car;*.bak", "*.g?s.car"));

TEST_F(FolderListingTest, ListsPlainFilesAndLinksToThemOnly) {
  const QStringList listed =
      ListMatchingFiles(Folder(), "*.gns.car").AllShown();
  EXPECT_FALSE(listed.contains("folder.gns.car"));
#ifdef _WIN32
  GTEST_SKIP() << "links and pipes are made on POSIX systems only";
#endif
  EXPECT_TRUE(listed.contains("link.gns.car"));
  EXPECT_FALSE(listed.contains("folder-link.gns.car"));
  EXPECT_FALSE(listed.contains("broken.gns.car"));
  EXPECT_FALSE(listed.contains("pipe.gns.car"));
  EXPECT_FALSE(listed.contains(".hidden.gns.car"));
}

TEST(FolderListingEdgeTest, NamesDifferingOnlyInCaseKeepAFixedOrder) {
#ifdef _WIN32
  GTEST_SKIP() << "names differing only in case are one file on Windows";
#endif
  TempDir folder;
  for (const char* name :
       {"a.gns.car", "A.gns.car", "b.gns.car", "B.GNS.car", "A.GNS.CAR"}) {
    WriteFile(folder.File(name), "car_class=1");
  }
  const QString path = QString::fromStdString(Utf8String(folder.path()));
  EXPECT_EQ(ListMatchingFiles(path, "*.gns.car").AllShown(),
            (QStringList{"A.GNS.CAR", "A.gns.car", "a.gns.car", "B.GNS.car",
                         "b.gns.car"}));
}

// A list is read again unless its names are the same: names that differ
// may still lie in the same bytes, with the same sizes once sorted.
TEST(FolderListingEdgeTest, OtherNamesInTheSameBytesAreNotTheSameList) {
  const ListedFiles a_ba{"aba", {{0, 1}, {1, 2}}, {}};  // "a", "ba"
  const ListedFiles ab_a{"aba", {{2, 1}, {0, 2}}, {}};  // "ab", "a"
  EXPECT_FALSE(a_ba.SameAs(ab_a));
  EXPECT_TRUE(a_ba.SameAs(ListedFiles(a_ba)));
}

// Hidden folders are listed, so the user can reach a game's files in one.
TEST(FolderListingEdgeTest, ListsHiddenFolders) {
  TempDir folder;
  fs::create_directory(folder.path() / "sub");
  fs::create_directory(folder.path() / ".wine");
#ifdef _WIN32
  // The system's own folders, hidden and marked as the system's, are not.
  SetFileAttributesW((folder.path() / "sub").c_str(), FILE_ATTRIBUTE_HIDDEN);
  fs::create_directory(folder.path() / "System Volume Information");
  SetFileAttributesW((folder.path() / "System Volume Information").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
#endif
  WriteFile(folder.File("file.gns.car"), "car_class=1");
  EXPECT_EQ(ListSubfolders(QString::fromStdString(Utf8String(folder.path()))),
            (QStringList{".wine", "sub"}));
}

// A folder that cannot be read lists nothing and says why, so that it is
// not taken for an empty one.
TEST(FolderListingEdgeTest, NoFolderListsNothingAndSaysWhy) {
  TempDir folder;
  WriteFile(folder.File("file.gns.car"), "car_class=1");
  const auto path = [&](const char* name) {
    return QString::fromStdString(Utf8String(folder.path() / name));
  };
  for (const QString& unreadable : {path("missing"), path("file.gns.car")}) {
    const ListedFiles listed = ListMatchingFiles(unreadable, "*");
    EXPECT_TRUE(listed.AllShown().isEmpty()) << unreadable.toStdString();
    EXPECT_FALSE(listed.unreadable.isEmpty()) << unreadable.toStdString();
  }
  fs::create_directory(folder.path() / "empty");
  EXPECT_TRUE(ListMatchingFiles(path("empty"), "*").unreadable.isEmpty());
  EXPECT_TRUE(ListMatchingFiles(QString(), "*").AllShown().isEmpty());
}

}  // namespace
}  // namespace olvesk

#include "series/car_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "series/real_file_system.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

struct PathCase {
  std::string path;
  std::string file_code;
  std::string folder_code;
  std::string new_path_for_cup;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.path; }

class PathRulesTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathRulesTest, CountsCharactersFromTheEnd) {
  const PathCase& c = GetParam();
  EXPECT_EQ(FileSeriesCode(c.path), c.file_code);
  EXPECT_EQ(FolderSeriesCode(c.path), c.folder_code);
  EXPECT_EQ(NewCarFilePath(c.path, "cup"), c.new_path_for_cup);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathRulesTest,
    ::testing::Values(
        PathCase{"/games/cup/cars/mustang.gns.car", "gns", ".gn",
                 "/games/cup/cars/mustang.cup.car"},
        PathCase{"/games/abc/cars", "bc/", "abc", "/games/.cup.car"},
        // Each of these letters takes two or three bytes but counts once.
        PathCase{"/spiele/çüp/wägn", "üp/", "çüp", "/spiele/.cup.car"},
        PathCase{"/s/fährer.gns.car", "gns", ".gn", "/s/fährer.cup.car"},
        PathCase{"/s/日本.pta.car", "pta", ".pt", "/s/日本.cup.car"},
        // A byte that is not UTF-8 counts as one character.
        PathCase{"/s/a\xff.cts.car", "cts", ".ct", "/s/a\xff.cup.car"},
        PathCase{"C:\\", "C:\\", "C:\\", ".cup.car"},
        PathCase{"", "", "", ".cup.car"}));

TEST(CarFilePathTest, AlwaysInsertsTheSeparator) {
#ifdef _WIN32
  EXPECT_EQ(CarFilePath("C:\\cup\\cars", "a.gns.car"),
            "C:\\cup\\cars\\a.gns.car");
  EXPECT_EQ(CarFilePath("C:\\", "a.gns.car"), "C:\\\\a.gns.car");
#else
  EXPECT_EQ(CarFilePath("/cup/cars", "a.gns.car"), "/cup/cars/a.gns.car");
  EXPECT_EQ(CarFilePath("C:\\", "a.gns.car"), "C:\\/a.gns.car");
#endif
}

// Feeding the scanner any chunk size finds what one plain search finds.
TEST(MarkerScannerTest, ChunkedScanEqualsPlainSearch) {
  const std::string inputs[] = {
      "car_class=1",
      "xxcar_class=",
      "car_clascar_class=3car_class=4",
      "ccccar_class=ccar_class=",
      "car_class",
      "CAR_CLASS=1",
      "",
      std::string(100, 'c') + "car_class=2",
  };
  for (const std::string& input : inputs) {
    const std::size_t expected = input.find(kClassMarker);
    for (std::size_t chunk = 1; chunk <= input.size() + 1; ++chunk) {
      MarkerScanner scanner;
      for (std::size_t at = 0; at < input.size() && !scanner.found();
           at += chunk) {
        const std::size_t size = std::min(chunk, input.size() - at);
        scanner.Feed(input.data() + at, size);
      }
      ASSERT_EQ(scanner.found(), expected != std::string::npos)
          << input << " in chunks of " << chunk;
      if (scanner.found()) {
        EXPECT_EQ(scanner.offset(), expected);
      }
    }
  }
}

struct PatchCase {
  const char* name;
  std::string before;
  char digit;
  std::string after;  // the contents under the new name; unchanged if empty
};

void PrintTo(const PatchCase& c, std::ostream* os) { *os << c.name; }

class ConvertCarFileTest : public ::testing::TestWithParam<PatchCase> {
 protected:
  RealFileSystem fs_;
  TempDir dir_;
};

TEST_P(ConvertCarFileTest, PatchesOnlyTheByteAfterTheFirstMarker) {
  const PatchCase& c = GetParam();
  const std::string source = dir_.File("mustang.gns.car");
  const std::string target = dir_.File("mustang.pta.car");
  WriteFile(source, c.before);

  const ConvertResult result = ConvertCarFile(fs_, source, "pta", c.digit);

  if (c.after.empty()) {
    EXPECT_EQ(result.outcome, ConvertResult::Outcome::kNoMarker);
    EXPECT_EQ(ReadFile(source), c.before);
    EXPECT_EQ(ReadFile(target), "<missing>");
  } else {
    ASSERT_TRUE(result.converted()) << result.status.ToString();
    EXPECT_EQ(result.new_path, target);
    EXPECT_EQ(ReadFile(target), c.after);
    EXPECT_EQ(ReadFile(source), "<missing>");
  }
}

const std::string kBoundary(kScanChunkSize - 4, 'x');
// The end of the second read, the first of the large ones.
const std::string kLargeBoundary(kScanChunkSize + kLargeScanChunkSize - 4, 'x');
const std::string kLargeFill(kScanChunkSize + kLargeScanChunkSize - 10, 'y');

INSTANTIATE_TEST_SUITE_P(
    Markers, ConvertCarFileTest,
    ::testing::Values(
        PatchCase{"AtFirstByte", "car_class=2\nname=a\n", '4',
                  "car_class=4\nname=a\n"},
        PatchCase{"TwoDigits", "x\ncar_class=12\n", '4', "x\ncar_class=42\n"},
        PatchCase{"UpperCase", "CAR_CLASS=2\n", '4', ""},
        PatchCase{"UnderTenBytes", "car_clas", '4', ""},
        PatchCase{"Empty", "", '4', ""},
        PatchCase{"EndsTheFile", "a\ncar_class=", '4', "a\ncar_class=4"},
        PatchCase{"TwoMarkers", "car_class=1 car_class=1", '3',
                  "car_class=3 car_class=1"},
        PatchCase{"SameDigit", "car_class=4", '4', "car_class=4"},
        PatchCase{"SplitAcrossChunks", kBoundary + "car_class=1", '2',
                  kBoundary + "car_class=2"},
        PatchCase{"DigitInNextChunk",
                  std::string(kScanChunkSize - 10, 'y') + "car_class=1z", '3',
                  std::string(kScanChunkSize - 10, 'y') + "car_class=3z"},
        PatchCase{"EndsAChunkSizedFile",
                  std::string(kScanChunkSize - 10, 'y') + "car_class=", '3',
                  std::string(kScanChunkSize - 10, 'y') + "car_class=3"},
        PatchCase{"SplitAcrossLargeChunks", kLargeBoundary + "car_class=1", '2',
                  kLargeBoundary + "car_class=2"},
        PatchCase{"DigitInTheThirdRead", kLargeFill + "car_class=1z", '3',
                  kLargeFill + "car_class=3z"}),
    [](const auto& test) { return std::string(test.param.name); });

class ConvertTargetTest : public ::testing::Test {
 protected:
  ConvertTargetTest()
      : source_(dir_.File("mustang.gns.car")),
        target_(dir_.File("mustang.pta.car")) {
    WriteFile(source_, "car_class=2");
  }
  RealFileSystem fs_;
  TempDir dir_;
  std::string source_;
  std::string target_;
};

TEST_F(ConvertTargetTest, ReplacesAFileAtTheNewPath) {
  WriteFile(target_, "old target");
  ASSERT_TRUE(ConvertCarFile(fs_, source_, "pta", '4').converted());
  EXPECT_EQ(ReadFile(target_), "car_class=4");
  EXPECT_EQ(ReadFile(source_), "<missing>");
}

TEST_F(ConvertTargetTest, RefusesAFolderAtTheNewPath) {
  std::filesystem::create_directory(Utf8Path(target_));
  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("folder"), std::string::npos);
  EXPECT_EQ(ReadFile(source_), "car_class=2");
  EXPECT_TRUE(std::filesystem::is_directory(Utf8Path(target_)));
}

TEST_F(ConvertTargetTest, RefusesTheSameFileUnderAnotherName) {
  std::filesystem::create_hard_link(Utf8Path(source_), Utf8Path(target_));
  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(ReadFile(source_), "car_class=2");
  EXPECT_EQ(ReadFile(target_), "car_class=2");
}

#ifndef _WIN32
TEST_F(ConvertTargetTest, NeverWritesThroughASymbolicLink) {
  const std::string elsewhere = dir_.File("elsewhere.txt");
  WriteFile(elsewhere, "car_class=2");
  std::filesystem::remove(Utf8Path(source_));
  std::filesystem::create_symlink(Utf8Path(elsewhere), Utf8Path(source_));
  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_NE(result.status.reason().find("symbolic link"), std::string::npos);
  EXPECT_EQ(ReadFile(elsewhere), "car_class=2");
  EXPECT_TRUE(std::filesystem::is_symlink(Utf8Path(source_)));
}
#endif

// A drive that gives a file another number once it is renamed: the check
// after the rename cannot tell it from another file, so the conversion is
// reported with that doubt, and the file is never put back to its old digit
// under its new name.
TEST_F(ConvertTargetTest, NeverPutsTheDigitBackOnceTheFileIsRenamed) {
  struct Renumbering : FileSystemWrapper {
    using FileSystemWrapper::FileSystemWrapper;
    Status Stat(const std::string& path, FileInfo* info) override {
      const Status status = FileSystemWrapper::Stat(path, info);
      if (path.ends_with(".pta.car")) ++info->inode;
      return status;
    }
  };
  Renumbering renumbering(fs_);
  const ConvertResult result = ConvertCarFile(renumbering, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kConverted);
  EXPECT_FALSE(result.status.ok());
  EXPECT_EQ(result.status.path(), target_);
  EXPECT_EQ(ReadFile(target_), "car_class=4");
  EXPECT_EQ(ReadFile(source_), "<missing>");
}

TEST_F(ConvertTargetTest, ReportsASourceThatIsGone) {
  std::filesystem::remove(Utf8Path(source_));
  const ConvertResult result = ConvertCarFile(fs_, source_, "pta", '4');
  EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
  EXPECT_EQ(result.status.path(), source_);
  EXPECT_EQ(ReadFile(target_), "<missing>");
}

}  // namespace
}  // namespace olvesk

#include "series/convert_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "series/car_file.h"
#include "series/real_file_system.h"
#include "series/series_table.h"
#include "support/fake_controls.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

using ::testing::TestWithParam;

// A series folder <tmp>/<code>/cars holding car files, driven through fake
// controls with the target "pta" unless a test picks another.
class ConvertCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = Utf8String(root_.path() / "cup" / "cars");
    std::filesystem::create_directories(Utf8Path(folder_));
    dir_list_.path_ = folder_;
    file_list_.pattern_ = std::string(kSeriesTable[3].pattern);
  }

  std::string File(const std::string& name) const {
    return CarFilePath(folder_, name);
  }
  void Add(const std::string& name, const std::string& contents) {
    WriteFile(File(name), contents);
  }
  // Lists the folder afresh and runs the command.
  void Run(int modify_all, int highlight = 0) {
    file_list_.SetPath(folder_);
    file_list_.SetListIndex(highlight);
    check_.value_ = modify_all;
    command_.Run("pta", '4');
  }

  TempDir root_;
  std::string folder_;
  RealFileSystem fs_;
  FakeDirectoryList dir_list_;
  FakeFileList file_list_;
  FakeCheckBox check_;
  FakeMessageBox messages_;
  FakeProgress progress_;
  ConvertCommand command_{fs_,    dir_list_, file_list_,
                          check_, messages_, progress_};
};

TEST_F(ConvertCommandTest, ModifyAllConvertsEveryListedFile) {
  Add("a.gns.car", "car_class=2");
  Add("b.CTS.car", "car_class=3");
  Add("c.gns.car", "x car_class=2 y");
  Add("keep.txt", "car_class=1");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("b.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("c.pta.car")), "x car_class=4 y");
  EXPECT_EQ(ReadFile(File("keep.txt")), "car_class=1");
  EXPECT_EQ(file_list_.ListCount(), 0);
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{std::string(kDoneMessage)});
  EXPECT_EQ(progress_.log_, (std::vector<std::string>{"begin 3", "end 3"}));
}

TEST_F(ConvertCommandTest, ModifyAllStopsAtTheFirstFileOfTheFolderSeries) {
  Add("a.gns.car", "car_class=2");
  Add("b.cup.car", "car_class=1");
  Add("c.gns.car", "car_class=2");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("b.cup.car")), "car_class=1");
  EXPECT_EQ(ReadFile(File("c.gns.car")), "car_class=2");
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{std::string(kOwnSeriesFolderMessage)});
  EXPECT_EQ(file_list_.ListCount(), 2);  // the list no longer shows a.gns.car
}

TEST_F(ConvertCommandTest, ModifyAllRefusesAtOnceWhenTheFirstFileIsOwnSeries) {
  Add("a.cup.car", "car_class=1");
  Add("b.gns.car", "car_class=2");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.cup.car")), "car_class=1");
  EXPECT_EQ(ReadFile(File("b.gns.car")), "car_class=2");
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{
                "You can't modify car files in their original Series Folder. "
                "Please Copy them to the destination Series Folder and modify "
                "them there."});
}

TEST_F(ConvertCommandTest, OwnSeriesTestIsCaseSensitive) {
  Add("a.CUP.car", "car_class=1");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");
  EXPECT_EQ(messages_.shown_.back(), kDoneMessage);
}

TEST_F(ConvertCommandTest,
       ModifyAllPassesOverFilesItCannotConvertAndNamesThem) {
  Add("a.gns.car", "no class here");
  Add("b.gns.car", "car_class=2");
  std::filesystem::create_directory(Utf8Path(File("c.pta.car")));
  Add("c.gns.car", "car_class=2");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.gns.car")), "no class here");
  EXPECT_EQ(ReadFile(File("b.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("c.gns.car")), "car_class=2");
  ASSERT_EQ(messages_.shown_.size(), 2u);
  const std::string& report = messages_.shown_[0];
  EXPECT_EQ(report.rfind(kNotConvertedHeading, 0), 0u) << report;
  EXPECT_NE(report.find("a.gns.car: it has no \"car_class=\" entry"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("c.gns.car: "), std::string::npos) << report;
  EXPECT_EQ(report.find("b.gns.car"), std::string::npos) << report;
  EXPECT_EQ(messages_.shown_[1], kDoneMessage);
  EXPECT_EQ(file_list_.ListCount(), 2);
}

TEST_F(ConvertCommandTest, ModifyAllNeverReplacesAFileItJustConverted) {
  Add("a.cts.car", "car_class=3");
  Add("a.gns.car", "car_class=2");
  WriteFile(File("a.pta.car"), "older conversion");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");  // from a.cts.car
  EXPECT_EQ(ReadFile(File("a.gns.car")), "car_class=2");
  ASSERT_EQ(messages_.shown_.size(), 2u);
  EXPECT_NE(
      messages_.shown_[0].find("a.gns.car: its new name, " + File("a.pta.car") +
                               ", is also that of a.cts.car"),
      std::string::npos)
      << messages_.shown_[0];
}

TEST_F(ConvertCommandTest, ReportNamesTheFirstFilesAndCountsTheRest) {
  const int files = kMaxReportedFiles + 3;
  for (int i = 0; i < files; ++i)
    Add("f" + std::to_string(100 + i) + ".gns.car", "-");
  Run(1);
  ASSERT_EQ(messages_.shown_.size(), 2u);
  const auto name = [](int i) { return "f" + std::to_string(i) + ".gns.car"; };
  EXPECT_NE(messages_.shown_[0].find(name(100 + kMaxReportedFiles - 1)),
            std::string::npos);
  EXPECT_EQ(messages_.shown_[0].find(name(100 + kMaxReportedFiles)),
            std::string::npos);
  EXPECT_NE(messages_.shown_[0].find("and 3 more"), std::string::npos);
}

// A name that holds a line break is reported on one line: the rest of the
// name never reads as another file, here one that was converted.
TEST_F(ConvertCommandTest, ReportKeepsEachNameOnOneLine) {
#ifdef _WIN32
  // Windows names hold no control characters.
  const std::vector<std::string> line_breaks = {"\xE2\x80\xA8"};
#else
  const std::vector<std::string> line_breaks = {"\n", "\r", "\xE2\x80\xA8"};
#endif
  for (const std::string& breaks : line_breaks) {
    SCOPED_TRACE(::testing::PrintToString(breaks));
    messages_.shown_.clear();
    Add("old" + breaks + "a.gns.car", "-");
    Add("a.gns.car", "car_class=2");
    Run(1);
    ASSERT_EQ(messages_.shown_.size(), 2u);
    EXPECT_NE(messages_.shown_[0].find("\nold?a.gns.car: "), std::string::npos)
        << messages_.shown_[0];
    std::filesystem::remove(Utf8Path(File("old" + breaks + "a.gns.car")));
    std::filesystem::remove(Utf8Path(File("a.pta.car")));
  }
}

// Cancel stops the run before the next file, and inside the scan of a big
// file; every file is whole, and the message counts what was done.
TEST_F(ConvertCommandTest, CancelStopsAfterTheFileInHandAndCounts) {
  for (const char* name : {"a.gns.car", "b.gns.car", "c.gns.car"}) {
    Add(name, "car_class=2");
  }
  Add("b.cts.car", "bad");
  progress_.cancel_at_ = 4;  // asked before each file
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("c.gns.car")), "car_class=2");
  ASSERT_EQ(messages_.shown_.size(), 2u);
  EXPECT_EQ(messages_.shown_[1],
            "The run was cancelled.\n\n2 car files converted, 1 not "
            "converted, 1 not tried.");

  // The big file is asked about once it has been read for a while.
  messages_.shown_.clear();
  Add("big.gns.car", std::string(8 << 20, 'x') + "car_class=2");
  progress_.asked_ = 0;
  progress_.cancel_at_ = 2;
  Run(0, 1);  // after b.cts.car
  ASSERT_EQ(file_list_.FileName(), "big.gns.car");
  EXPECT_EQ(ReadFile(File("big.gns.car")).substr(8 << 20), "car_class=2");
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{"The run was cancelled.\n\n0 car files "
                                     "converted, 0 not converted, 1 not "
                                     "tried."});
}

TEST_F(ConvertCommandTest, ModifyAllOnAnEmptyListOnlyFinishes) {
  Run(1);
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{std::string(kDoneMessage)});
  Add("a.gns.car", "car_class=2");
  Run(1);
  Run(1);  // pressed again once the list is empty
  EXPECT_EQ(messages_.shown_.size(), 3u);
  EXPECT_EQ(messages_.shown_.back(), kDoneMessage);
}

TEST_F(ConvertCommandTest, SingleFileConvertsOnlyTheHighlightedFile) {
  Add("a.gns.car", "car_class=2");
  Add("b.gns.car", "car_class=2");
  Run(0, /*highlight=*/1);
  EXPECT_EQ(ReadFile(File("a.gns.car")), "car_class=2");
  EXPECT_EQ(ReadFile(File("b.pta.car")), "car_class=4");
  EXPECT_EQ(file_list_.names_, std::vector<std::string>{"a.gns.car"});
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{std::string(kDoneMessage)});
}

TEST_F(ConvertCommandTest, SingleFileReportsAFileWithoutMarker) {
  Add("a.gns.car", "car_class");
  Run(0);
  ASSERT_EQ(messages_.shown_.size(), 2u);
  EXPECT_NE(messages_.shown_[0].find("a.gns.car"), std::string::npos);
  EXPECT_EQ(messages_.shown_[1], kDoneMessage);
}

TEST_F(ConvertCommandTest, SingleFileRefusesAFileOfTheFolderSeries) {
  Add("a.cup.car", "car_class=1");
  Run(0);
  EXPECT_EQ(ReadFile(File("a.cup.car")), "car_class=1");
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{std::string(kOwnSeriesFolderMessage)});
}

TEST_F(ConvertCommandTest, SingleFileWithNothingHighlightedConvertsNothing) {
  Add("a.gns.car", "car_class=2");
  Run(0, /*highlight=*/-1);
  EXPECT_EQ(ReadFile(File("a.gns.car")), "car_class=2");
  EXPECT_EQ(messages_.shown_,
            std::vector<std::string>{
                "No car file is highlighted. Click a car file in the list to "
                "convert it, or check \"Modify All?\" to convert every listed "
                "file."});
}

TEST_F(ConvertCommandTest, FolderOfNoKnownSeriesRefusesNothing) {
  folder_ = Utf8String(root_.path() / "xyz" / "cars");
  std::filesystem::create_directories(Utf8Path(folder_));
  dir_list_.path_ = folder_;
  Add("a.cup.car", "car_class=1");
  Add("b.gns.car", "car_class=2");
  Run(1);
  EXPECT_EQ(ReadFile(File("a.pta.car")), "car_class=4");
  EXPECT_EQ(ReadFile(File("b.pta.car")), "car_class=4");
  EXPECT_EQ(messages_.shown_.back(), kDoneMessage);
}

}  // namespace
}  // namespace olvesk

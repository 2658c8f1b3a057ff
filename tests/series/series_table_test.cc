#include "series/series_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_controls.h"

namespace olvesk {
namespace {

// A file list that writes each pattern it is given to the shared log.
class PatternLoggingFileList : public FakeFileList {
 public:
  explicit PatternLoggingFileList(std::vector<std::string>* log) : log_(log) {}
  void SetPattern(const std::string& pattern) override {
    log_->push_back("Pattern=" + pattern);
    FakeFileList::SetPattern(pattern);
  }
  std::vector<std::string>* log_;
};

class SeriesSelectionTest : public ::testing::Test {
 protected:
  SeriesSelectionTest()
      : options_{FakeOptionButton("Option1", &log_),
                 FakeOptionButton("Option2", &log_),
                 FakeOptionButton("Option3", &log_),
                 FakeOptionButton("Option4", &log_)},
        file_list_(&log_),
        selection_({&options_[0], &options_[1], &options_[2], &options_[3]},
                   file_list_) {}

  int OptionsSet() const {
    int set = 0;
    for (const FakeOptionButton& option : options_) set += option.value_;
    return set;
  }

  std::vector<std::string> log_;
  FakeOptionButton options_[4];
  PatternLoggingFileList file_list_;
  SeriesSelection selection_;
};

// Every field of the four rows, word for word: a wrong digit would write a
// wrong class into every file converted to that series.
TEST(SeriesTableTest, HoldsTheFourSeriesWordForWord) {
  const SeriesInfo expected[] = {
      {"Option1", "cup", '1', "*.gns.car;*.cts.car;*.pta.car"},
      {"Option2", "gns", '2', "*.cup.car;*.cts.car;*.pta.car"},
      {"Option3", "cts", '3', "*.cup.car;*.gns.car;*.pta.car"},
      {"Option4", "pta", '4', "*.cup.car;*.gns.car;*.cts.car"},
  };
  ASSERT_EQ(kSeriesTable.size(), std::size(expected));
  for (std::size_t row = 0; row < kSeriesTable.size(); ++row) {
    EXPECT_EQ(kSeriesTable[row].option, expected[row].option);
    EXPECT_EQ(kSeriesTable[row].code, expected[row].code);
    EXPECT_EQ(kSeriesTable[row].digit, expected[row].digit);
    EXPECT_EQ(kSeriesTable[row].pattern, expected[row].pattern);
  }
}

TEST_F(SeriesSelectionTest, StartsOnPtaBeforeAnyClick) {
  selection_.SelectAtStartup();
  EXPECT_EQ(selection_.TargetSeriesCode(), "pta");
  EXPECT_EQ(selection_.TargetSeriesDigit(), '4');
  EXPECT_EQ(file_list_.Pattern(), "*.cup.car;*.gns.car;*.cts.car");
  EXPECT_TRUE(options_[3].value_);
  EXPECT_EQ(OptionsSet(), 1);
}

TEST_F(SeriesSelectionTest, SelectClearsTheOtherOptionsInOrderThenFilters) {
  selection_.Select(2);
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Option1=0", "Option2=0", "Option4=0",
                      "Pattern=*.cup.car;*.gns.car;*.pta.car"}));
  EXPECT_EQ(selection_.TargetSeriesCode(), "cts");
  EXPECT_EQ(selection_.TargetSeriesDigit(), '3');
}

TEST_F(SeriesSelectionTest, ExactlyOneOptionIsSetAfterEveryClick) {
  selection_.SelectAtStartup();
  for (int row : {0, 0, 2, 1, 3, 3, 2}) {
    options_[row].value_ = true;  // what the click itself does
    selection_.Select(row);
    EXPECT_EQ(OptionsSet(), 1) << "after clicking row " << row;
    EXPECT_EQ(selection_.TargetSeriesCode(), kSeriesTable[row].code);
    EXPECT_EQ(selection_.TargetSeriesDigit(), kSeriesTable[row].digit);
    EXPECT_EQ(file_list_.Pattern(), kSeriesTable[row].pattern);
  }
}

TEST_F(SeriesSelectionTest, ClickingTheChosenOptionReReadsTheList) {
  selection_.Select(0);
  const int refreshes = file_list_.refreshes_;
  selection_.Select(0);
  EXPECT_EQ(file_list_.refreshes_, refreshes + 1);
  EXPECT_EQ(selection_.TargetSeriesCode(), "cup");
}

}  // namespace
}  // namespace olvesk

#include <gtest/gtest.h>

#include <string>

#include "series/car_file.h"
#include "series/real_file_system.h"
#include "support/fault_injecting_file_system.h"
#include "support/folder_run.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

struct FaultCase {
  const char* name;
  std::string before;
  std::string after;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

// Fails each file-system call of one conversion in turn, onto a folder
// where a file already stands at the new path.
class FailEachCallTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  void Reset() {
    WriteFile(source_, GetParam().before);
    WriteFile(target_, "the old target");
  }
  // The number of file-system calls of one conversion that goes through.
  int CallsOfOneConversion() {
    Reset();
    FaultInjectingFileSystem counting(real_);
    EXPECT_TRUE(ConvertCarFile(counting, source_, "pta", '4').converted());
    return counting.calls_;
  }

  TempDir dir_;
  const std::string source_ = dir_.File("mustang.gns.car");
  const std::string target_ = dir_.File("mustang.pta.car");
  RealFileSystem real_;
};

TEST_P(FailEachCallTest, LeavesTheFileConvertedOrAsItWas) {
  const FaultCase& c = GetParam();
  const int calls = CallsOfOneConversion();
  ASSERT_GE(calls, 7);

  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    Reset();
    FaultInjectingFileSystem fs(real_);
    fs.fail_at_ = n;
    const ConvertResult result = ConvertCarFile(fs, source_, "pta", '4');
    EXPECT_EQ(fs.failures_, 1);
    if (result.converted()) {
      EXPECT_EQ(ReadFile(target_), c.after);
      EXPECT_EQ(ReadFile(source_), "<missing>");
    } else {
      EXPECT_EQ(result.outcome, ConvertResult::Outcome::kFailed);
      EXPECT_EQ(result.status.reason().rfind("injected fault", 0), 0u)
          << result.status.ToString();
      EXPECT_EQ(ReadFile(source_), c.before);
      EXPECT_EQ(ReadFile(target_), "the old target");
    }
  }
}

// With every call failing from the Nth on, the undo can fail too: the file
// may keep the new digit under its old name, and the report says so exactly
// when that is what happened.
TEST_P(FailEachCallTest, SaysTheDigitStayedOnlyWhenItDid) {
  const FaultCase& c = GetParam();
  const int calls = CallsOfOneConversion();

  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE("failing from call " + std::to_string(n));
    Reset();
    FaultInjectingFileSystem fs(real_);
    fs.fail_at_ = n;
    fs.mode_ = FaultInjectingFileSystem::Mode::kAlways;
    const ConvertResult result = ConvertCarFile(fs, source_, "pta", '4');
    if (result.converted()) continue;
    const bool says_stayed =
        result.status.reason().find(kNotPutBack) != std::string::npos;
    const std::string source = ReadFile(source_);
    EXPECT_TRUE(source == c.before || source == c.after) << source;
    EXPECT_EQ(says_stayed, source != c.before) << result.status.ToString();
    EXPECT_EQ(ReadFile(target_), "the old target");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FailEachCallTest,
    ::testing::Values(FaultCase{"Overwrite", "a\ncar_class=2\nb",
                                "a\ncar_class=4\nb"},
                      FaultCase{"Append", "a\ncar_class=", "a\ncar_class=4"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace olvesk

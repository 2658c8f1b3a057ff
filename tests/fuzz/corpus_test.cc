// Replays every input of the checked-in fuzz corpus in every build, so the
// rules the fuzzer checks hold without clang too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "car_file_properties.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(OLVESK_FUZZ_CORPUS_DIR)) {
    if (entry.is_regular_file()) files.push_back(Utf8String(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, InputKeepsTheConversionRules) {
  const std::string input = ReadFile(GetParam());
  EXPECT_EQ(CarFileProblems(input), "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, CorpusTest, ::testing::ValuesIn(CorpusFiles()),
                         [](const auto& test) {
                           std::string name = Utf8String(
                               std::filesystem::path(test.param).filename());
                           std::replace_if(
                               name.begin(), name.end(),
                               [](unsigned char c) { return !std::isalnum(c); },
                               '_');
                           return name;
                         });

TEST(CorpusTest, HoldsTheInputsItWasGiven) {
  EXPECT_GE(CorpusFiles().size(), 12u);
}

}  // namespace
}  // namespace olvesk

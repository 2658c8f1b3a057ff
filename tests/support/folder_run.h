#ifndef OLVESK_TESTS_SUPPORT_FOLDER_RUN_H_
#define OLVESK_TESTS_SUPPORT_FOLDER_RUN_H_

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "series/file_system.h"
#include "support/fake_controls.h"

namespace olvesk {

// What a report says of a file left with the new digit under its old name.
inline constexpr std::string_view kNotPutBack =
    "the class digit could not be put back";

// What one press of the convert button showed the user.
struct ButtonPress {
  std::vector<std::string> messages;
  std::vector<std::string> progress;
};

// Lists the car files of |folder| as the window does with target "pta"
// chosen, runs |after_listing| if given, then presses the convert button with
// "Modify All?" checked, or with only |highlight| highlighted when it is not
// empty. Every file call goes through |fs|.
ButtonPress PressConvert(FileSystem& fs, const std::string& folder,
                         const std::string& highlight = "",
                         const std::function<void()>& after_listing = {});

// Presses the convert button with "Modify All?" checked on |folder| of
// |fs|, whose list shows |names|, converting to |code| and |digit|, and
// returns the messages shown. Every file call goes through |fs|; the run's
// progress goes to |progress| and its messages to |messages| when given.
std::vector<std::string> ModifyAll(FileSystem& fs, const std::string& folder,
                                   std::vector<std::string> names,
                                   const std::string& code = "pta",
                                   char digit = '4',
                                   FakeProgress* progress = nullptr,
                                   FakeMessageBox* messages = nullptr);

// One plain file of a folder before a run, and what the run must make of it.
struct PlannedFile {
  std::string name;
  std::string before;
  // The run tries this file, so it must either convert it or name it in its
  // report.
  bool listed = false;
  // For a file the run converts: its new name and its bytes once converted.
  // Empty for a file that must stay as it is; such a file may still be
  // replaced by another planned file converted onto its name.
  std::string new_name;
  std::string after;

  bool convertible() const { return !new_name.empty(); }
};

// Writes the files of |plan| into |folder|, which must exist.
void WritePlan(const std::string& folder, const std::vector<PlannedFile>& plan);

// What a run may leave behind besides files unchanged or converted.
struct EndStateRules {
  // The run returned (it was not killed): every listed file that is not
  // converted is named in a message, and the last message says it is done.
  bool run_ended = true;
  // Every convertible file must be converted.
  bool all_converted = false;
  // The files whose digits were written but not yet renamed when the
  // process was killed, the batch in flight: they alone may keep their old
  // names with the new digit without being reported. A file reported with
  // "the class digit could not be put back" may always be in that state.
  std::set<std::string> in_flight;
  // When not empty, a message must name this path with the injected reason.
  std::string injected_fault_path;
};

// What became of the planned files.
struct EndState {
  int converted = 0;
  int unchanged = 0;
  int patched = 0;   // the digit written, still under the old name
  int replaced = 0;  // an existing file replaced by a converted one
  int lost = 0;
};

// Compares the entries of |folder| with |plan| and the messages of the run:
// every planned file is unchanged under its old name, or converted under its
// new one, or in a state |rules| allow; an existing file at a new name is
// gone only where the converted file took its place; the folder holds
// nothing else. Adds the counts to |*state|.
::testing::AssertionResult CheckEndState(
    const std::string& folder, const std::vector<PlannedFile>& plan,
    const std::vector<std::string>& messages, const EndStateRules& rules,
    EndState* state);

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_FOLDER_RUN_H_

#include "support/folder_run.h"

#include <filesystem>
#include <map>
#include <set>
#include <string_view>

#include "series/car_file.h"
#include "series/convert_command.h"
#include "series/series_table.h"
#include "support/fake_controls.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

// The report line "<name>: <reason>" of the file |name|, or "" when no
// message names it.
std::string ReportLine(const std::vector<std::string>& messages,
                       const std::string& name) {
  const std::string key = "\n" + name + ": ";
  for (const std::string& message : messages) {
    const std::size_t at = message.find(key);
    if (at == std::string::npos) continue;
    const std::size_t end = message.find('\n', at + 1);
    return message.substr(
        at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
  }
  return "";
}

}  // namespace

ButtonPress PressConvert(FileSystem& fs, const std::string& folder,
                         const std::string& highlight,
                         const std::function<void()>& after_listing) {
  FakeDirectoryList dir_list;
  dir_list.path_ = folder;
  FakeFileList file_list;
  file_list.pattern_ = std::string(kSeriesTable[3].pattern);
  file_list.SetPath(folder);
  FakeCheckBox modify_all;
  modify_all.value_ = highlight.empty() ? 1 : 0;
  for (int i = 0; i < file_list.ListCount(); ++i) {
    if (file_list.List(i) == highlight) file_list.SetListIndex(i);
  }
  if (after_listing) after_listing();
  FakeMessageBox messages;
  FakeProgress progress;
  ConvertCommand(fs, dir_list, file_list, modify_all, messages, progress)
      .Run(std::string(kSeriesTable[3].code), kSeriesTable[3].digit);
  return ButtonPress{messages.shown_, progress.log_};
}

std::vector<std::string> ModifyAll(FileSystem& fs, const std::string& folder,
                                   std::vector<std::string> names,
                                   const std::string& code, char digit,
                                   FakeProgress* progress,
                                   FakeMessageBox* messages) {
  FakeDirectoryList dir_list;
  dir_list.path_ = folder;
  FakeFileList file_list;
  file_list.names_ = std::move(names);
  FakeCheckBox modify_all;
  modify_all.value_ = 1;
  FakeMessageBox own_messages;
  FakeMessageBox& shown = messages ? *messages : own_messages;
  FakeProgress own_progress;
  ConvertCommand(fs, dir_list, file_list, modify_all, shown,
                 progress ? *progress : own_progress)
      .Run(code, digit);
  return shown.shown_;
}

void WritePlan(const std::string& folder,
               const std::vector<PlannedFile>& plan) {
  for (const PlannedFile& file : plan) {
    WriteFile(CarFilePath(folder, file.name), file.before);
  }
}

::testing::AssertionResult CheckEndState(
    const std::string& folder, const std::vector<PlannedFile>& plan,
    const std::vector<std::string>& messages, const EndStateRules& rules,
    EndState* state) {
  std::vector<std::string> problems;
  auto problem = [&](const std::string& name, const std::string& what) {
    problems.push_back(name + ": " + what);
  };

  std::map<std::string, std::string> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(Utf8Path(folder))) {
    const std::string name = Utf8String(entry.path().filename());
    if (entry.is_symlink() || !entry.is_regular_file()) {
      problem(name, "left behind, and it is not a plain file");
      continue;
    }
    files[name] = ReadFile(Utf8String(entry.path()));
  }
  auto bytes_of = [&](const std::string& name) -> const std::string* {
    const auto it = files.find(name);
    return it == files.end() ? nullptr : &it->second;
  };

  std::set<std::string> explained;
  for (const PlannedFile& file : plan) {
    const std::string* old_bytes = bytes_of(file.name);
    const std::string line = ReportLine(messages, file.name);
    if (!file.convertible()) {
      // Unchanged, or replaced by a planned file converted onto its name.
      const PlannedFile* replacer = nullptr;
      for (const PlannedFile& other : plan) {
        if (other.new_name == file.name && !bytes_of(other.name) && old_bytes &&
            *old_bytes == other.after) {
          replacer = &other;
        }
      }
      if (old_bytes && *old_bytes == file.before) {
        ++state->unchanged;
      } else if (replacer) {
        ++state->replaced;
      } else if (!old_bytes) {
        ++state->lost;
        problem(file.name, "is gone");
      } else {
        problem(file.name, "changed though nothing may change it");
      }
      explained.insert(file.name);
      if (file.listed && rules.run_ended && line.empty()) {
        problem(file.name, "was not converted, and no message names it");
      }
      continue;
    }

    const std::string* new_bytes = bytes_of(file.new_name);
    if (!old_bytes && new_bytes && *new_bytes == file.after) {
      ++state->converted;
      explained.insert(file.new_name);
      continue;
    }
    if (!old_bytes) {
      ++state->lost;
      problem(file.name,
              "is gone: it is neither under its old name nor converted under " +
                  file.new_name);
      continue;
    }
    explained.insert(file.name);
    if (rules.all_converted) problem(file.name, "was not converted");
    if (rules.run_ended && line.empty()) {
      problem(file.name, "was not converted, and no message names it");
    }
    if (*old_bytes == file.before) {
      ++state->unchanged;
    } else if (*old_bytes == file.after) {
      ++state->patched;
      if (line.find(kNotPutBack) == std::string::npos &&
          rules.in_flight.count(file.name) == 0) {
        problem(file.name,
                "keeps its old name with the new class digit, and no message "
                "says the digit could not be put back");
      }
    } else {
      problem(file.name, "holds neither its old nor its converted bytes");
    }
  }

  for (const auto& [name, bytes] : files) {
    if (!explained.count(name)) problem(name, "was left behind");
  }
  if (rules.run_ended &&
      (messages.empty() || messages.back() != kDoneMessage)) {
    problems.push_back("the run did not end with \"" +
                       std::string(kDoneMessage) + "\"");
  }
  if (!rules.injected_fault_path.empty()) {
    const std::string named = rules.injected_fault_path + ": injected fault";
    bool found = false;
    for (const std::string& message : messages) {
      found = found || message.find(named) != std::string::npos;
    }
    if (!found) problems.push_back("no message reports \"" + named + "\"");
  }

  if (problems.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  for (const std::string& line : problems) failure << "\n  " << line;
  failure << "\nmessages:";
  for (const std::string& message : messages)
    failure << "\n  [" << message << "]";
  return failure;
}

}  // namespace olvesk

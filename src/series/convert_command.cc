#include "series/convert_command.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>
#include <vector>

#include "series/car_file.h"

namespace olvesk {
namespace {

// The files of one run that were not converted, each with the reason.
class NotConverted {
 public:
  void Add(const std::string& name, const ConvertResult& result) {
    if (result.outcome == ConvertResult::Outcome::kNoMarker) {
      Add(name, "it has no \"car_class=\" entry");
    } else {
      Add(name, result.status.ToString());
    }
  }
  void Add(const std::string& name, const std::string& reason) {
    if (count_++ < kMaxReportedFiles) lines_ += "\n" + name + ": " + reason;
  }

  // Shows the report, if there is anything to report.
  void ShowIn(MessageBox& messages) const {
    if (count_ == 0) return;
    std::string text = std::string(kNotConvertedHeading) + "\n" + lines_;
    if (count_ > kMaxReportedFiles) {
      text +=
          "\n... and " + std::to_string(count_ - kMaxReportedFiles) + " more.";
    }
    messages.Show(text);
  }

 private:
  int count_ = 0;
  std::string lines_;
};

// How the file system tells names apart: Windows ignores letter case.
std::string NameKey(std::string path) {
#ifdef _WIN32
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return std::tolower(c); });
#endif
  return path;
}

}  // namespace

ConvertCommand::ConvertCommand(FileSystem& fs, const DirectoryList& dir_list,
                               FileList& file_list, const CheckBox& modify_all,
                               MessageBox& messages, ProgressReport& progress)
    : fs_(fs),
      dir_list_(dir_list),
      file_list_(file_list),
      modify_all_(modify_all),
      messages_(messages),
      progress_(progress) {}

void ConvertCommand::Run(std::string target_code, char target_digit) {
  const std::string folder = dir_list_.Path();
  const std::string folder_code = FolderSeriesCode(folder);
  NotConverted not_converted;
  bool converted_any = false;
  // The new names given in this run. Two listed files may map to the same
  // new name (a.gns.car and a.cts.car both become a.pta.car); the second
  // must not replace what the first became.
  std::unordered_set<std::string> made;

  // Converts one listed file; false when it lies in its own series' folder.
  auto convert = [&](const std::string& name) {
    const std::string path = CarFilePath(folder, name);
    if (FileSeriesCode(path) == folder_code) return false;
    const std::string new_path = NewCarFilePath(path, target_code);
    if (made.count(NameKey(new_path)) > 0) {
      not_converted.Add(
          name, "another car file of this run was just renamed to " + new_path +
                    ", which this one would replace");
      return true;
    }
    const ConvertResult result =
        ConvertCarFile(fs_, path, target_code, target_digit);
    if (result.converted()) {
      converted_any = true;
      made.insert(NameKey(new_path));
    } else {
      not_converted.Add(name, result);
    }
    return true;
  };
  // The renames of this run survive a power cut once the folder is synced.
  auto sync_renames = [&] {
    if (!converted_any) return;
    const Status synced = fs_.SyncDir(folder);
    if (!synced.ok()) {
      messages_.Show(std::string(kNotSyncedMessage) + "\n\n" +
                     synced.ToString());
    }
  };
  // Stops the run at a file in its own series' folder. Files converted
  // before it stay converted.
  auto refuse = [&] {
    if (converted_any) file_list_.Refresh();
    not_converted.ShowIn(messages_);
    sync_renames();
    messages_.Show(std::string(kOwnSeriesFolderMessage));
  };

  const int modify_all = modify_all_.Value();
  if (modify_all == 1) {
    // Take the listed names once, in the list's order: every file is tried
    // once, and the run costs one listing however many files there are.
    std::vector<std::string> names(file_list_.ListCount());
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
      names[i] = file_list_.List(i);
    }
    if (!names.empty()) file_list_.SetListIndex(0);
    progress_.Begin(static_cast<int>(names.size()));
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
      if (!convert(names[i])) {
        progress_.End();
        refuse();
        return;
      }
      progress_.Advance(i + 1);
    }
    progress_.End();
  } else if (modify_all == 0) {
    const std::string name = file_list_.FileName();
    if (name.empty()) {
      messages_.Show(std::string(kNothingHighlightedMessage));
      return;
    }
    if (!convert(name)) {
      refuse();
      return;
    }
  }

  file_list_.Refresh();
  not_converted.ShowIn(messages_);
  sync_renames();
  messages_.Show(std::string(kDoneMessage));
}

}  // namespace olvesk

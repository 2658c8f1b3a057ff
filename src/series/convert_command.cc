#include "series/convert_command.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <future>
#include <set>
#include <unordered_set>
#include <vector>

#include "series/car_file.h"

namespace olvesk {
namespace {

// What one run reports file by file: the files that were not converted,
// each with the reason, and the converted files whose new name the system
// could not confirm.
class RunReport {
 public:
  void Add(const std::string& name, const ConvertResult& result) {
    if (result.converted()) {
      unconfirmed_.Add(name, result.status.ToString());
    } else if (result.outcome == ConvertResult::Outcome::kNoMarker) {
      not_converted_.Add(name, "it has no \"car_class=\" entry");
    } else {
      not_converted_.Add(name, result.status.ToString());
    }
  }
  void AddNotConverted(const std::string& name, const std::string& reason) {
    not_converted_.Add(name, reason);
  }

  int not_converted() const { return not_converted_.count; }

  // Shows the report, if there is anything to report.
  void ShowIn(MessageBox& messages) const {
    std::string text;
    not_converted_.AppendTo(kNotConvertedHeading, &text);
    unconfirmed_.AppendTo(kUnconfirmedHeading, &text);
    if (!text.empty()) messages.Show(text);
  }

 private:
  struct Section {
    int count = 0;
    std::string lines;

    void Add(const std::string& name, const std::string& reason) {
      if (count++ < kMaxReportedFiles) lines += "\n" + name + ": " + reason;
    }
    void AppendTo(std::string_view heading, std::string* text) const {
      if (count == 0) return;
      if (!text->empty()) *text += "\n\n";
      *text += std::string(heading) + "\n" + lines;
      if (count > kMaxReportedFiles) {
        *text +=
            "\n... and " + std::to_string(count - kMaxReportedFiles) + " more.";
      }
    }
  };
  Section not_converted_;
  Section unconfirmed_;
};

// The name as a file system that ignores letter case sees it. Every run
// compares names this way, whatever the system: a FAT or exFAT drive ignores
// case on any system, and two names that differ only in case are rare
// enough in one folder to be worth refusing.
std::string NameKey(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return path;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return c < 0x80; });
}

// "1 car file" or "3 car files".
std::string CarFiles(int count) {
  return std::to_string(count) + (count == 1 ? " car file" : " car files");
}

}  // namespace

std::string StoppedRunMessage(std::string_view heading, int converted,
                              int not_converted, int not_tried) {
  return std::string(heading) + "\n\n" + CarFiles(converted) + " converted, " +
         std::to_string(not_converted) + " not converted, " +
         std::to_string(not_tried) + " not tried.";
}

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
  // Everything the run works on is taken now, once.
  const std::string folder = dir_list_.Path();
  const std::string folder_code = FolderSeriesCode(folder);
  const int modify_all = modify_all_.Value();
  std::vector<std::string> names;
  if (modify_all == 1) {
    // Take the listed names once, in the list's order: every file is tried
    // once, and the run costs one listing however many files there are.
    names.resize(file_list_.ListCount());
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
      names[i] = file_list_.List(i);
    }
    if (!names.empty()) file_list_.SetListIndex(0);
  } else if (modify_all == 0) {
    names.push_back(file_list_.FileName());
    if (names.front().empty()) {
      messages_.Show(std::string(kNothingHighlightedMessage));
      return;
    }
  }
  // Tells a file that went away from a folder that did.
  auto folder_gone = [&] {
    FileInfo now;
    return fs_.Stat(folder, &now).ok() &&
           now.kind != FileInfo::Kind::kDirectory;
  };

  RunReport report;
  int converted = 0;
  // The new names and the files this run has made. Two listed files may map
  // to the same new name (a.gns.car and a.cts.car both become a.pta.car, or
  // A.gns.car and a.cts.car on a drive that ignores case); the second must
  // not replace what the first became.
  std::unordered_set<std::string> made_names;
  std::set<FileId> made_files;
  ConvertOptions options;
  options.keep = &made_files;
  options.stop = [this] { return progress_.Cancelled(); };

  enum class Stop { kNone, kOwnSeries, kCancelled, kFolderGone };
  Stop stop = Stop::kNone;
  int tried = 0;       // files taken from |names|
  int done_count = 0;  // files the run is through with
  int left_alone = 0;  // taken, but put back as they were when the run stopped
  const Status gone =
      Status::Error("rename", folder, "the folder is no longer there");
  if (!names.empty()) progress_.Begin(static_cast<int>(names.size()));
  // Files go in batches: each file of a batch is checked, opened and given
  // its digit; one sync makes all those digits durable; only then is each
  // renamed. While one batch syncs the next is prepared, so the disk and the
  // checks work at once. The first batches are small, so the first files
  // are not held back; the two batches never hold more files open than the
  // system allows.
  const std::size_t budget = std::max<std::size_t>(1, fs_.OpenFileBudget());
  const std::size_t max_batch =
      std::min(kMaxBatch, std::max<std::size_t>(1, budget / 2));
  std::size_t batch_size = std::min(kFirstBatch, max_batch);
  // A name that differs from another only in letters beyond ASCII may name
  // the same file on a drive that ignores case; the names alone rule that
  // out for a run without such names, and the renames then skip the check.
  const bool ascii_names =
      std::all_of(names.begin(), names.end(), IsAscii) && IsAscii(target_code);
  const std::set<FileId>* rename_keep = ascii_names ? nullptr : &made_files;
  struct Batch {
    std::vector<PendingFile> files;
    std::vector<int> names;  // each file's index in |names|
  };
  Batch batch;
  Batch syncing;  // the batch whose sync has started
  std::future<Status> synced;

  // Renames the files of |done| once |status| says they are durable, or
  // puts them back; every file ends converted or as it was.
  auto finish = [&](Batch& done, const Status& status) {
    for (std::size_t i = 0; i < done.files.size(); ++i) {
      if (stop == Stop::kFolderGone) {
        // Nothing can be renamed in a folder that is gone: the digit is
        // put back, and the file counts as not tried.
        FinishCarFile(fs_, &done.files[i], gone, rename_keep);
        ++left_alone;
        continue;
      }
      const ConvertResult result =
          FinishCarFile(fs_, &done.files[i], status, rename_keep);
      const std::string& name = names[done.names[i]];
      if (result.converted()) {
        ++converted;
        made_files.insert(result.id);
        if (!result.status.ok()) report.Add(name, result);
      } else if (folder_gone()) {
        stop = Stop::kFolderGone;
        ++left_alone;
        continue;
      } else {
        report.Add(name, result);
      }
      progress_.Advance(++done_count);
    }
    done.files.clear();
    done.names.clear();
  };
  auto finish_syncing = [&] {
    if (synced.valid()) finish(syncing, synced.get());
  };

  while (stop == Stop::kNone && tried < static_cast<int>(names.size())) {
    if (syncing.files.size() + batch_size > budget) finish_syncing();
    while (batch.files.size() < batch_size &&
           tried < static_cast<int>(names.size())) {
      if (progress_.Cancelled()) {
        stop = Stop::kCancelled;
        break;
      }
      const std::string& name = names[tried];
      const std::string path = CarFilePath(folder, name);
      if (FileSeriesCode(path) == folder_code) {
        stop = Stop::kOwnSeries;
        break;
      }
      const std::string new_path = NewCarFilePath(path, target_code);
      if (made_names.count(NameKey(new_path)) > 0) {
        report.AddNotConverted(name,
                               "another car file of this run was just renamed "
                               "to " +
                                   new_path + ", which this one would replace");
        ++tried;
        progress_.Advance(++done_count);
        continue;
      }
      PendingFile pending;
      const ConvertResult result =
          BeginCarFile(fs_, path, target_code, target_digit, options, &pending);
      if (result.outcome == ConvertResult::Outcome::kPending) {
        made_names.insert(NameKey(new_path));
        batch.files.push_back(std::move(pending));
        batch.names.push_back(tried++);
        continue;
      }
      if (result.outcome == ConvertResult::Outcome::kStopped) {
        stop = Stop::kCancelled;
        break;
      }
      if (result.outcome == ConvertResult::Outcome::kFailed && folder_gone()) {
        stop = Stop::kFolderGone;
        break;
      }
      report.Add(name, result);
      ++tried;
      progress_.Advance(++done_count);
    }
    // The batch before is renamed while this one syncs; each batch is
    // finished however the run goes on.
    finish_syncing();
    if (!batch.files.empty()) {
      std::vector<const OpenFile*> files;
      files.reserve(batch.files.size());
      for (const PendingFile& pending : batch.files) {
        files.push_back(&pending.file);
      }
      synced = fs_.StartSyncFiles(std::move(files));
      std::swap(batch, syncing);
    }
    batch_size = std::min(batch_size * 2, max_batch);
  }
  finish_syncing();
  if (!names.empty()) progress_.End();

  // Finish: the list shows what is there now, files left over are named,
  // the renames are made durable, and the user learns how the run ended.
  if (stop == Stop::kNone || converted > 0) file_list_.Refresh();
  report.ShowIn(messages_);
  if (converted > 0 && stop != Stop::kFolderGone) {
    const Status dir_synced = fs_.SyncDir(folder);
    if (!dir_synced.ok()) {
      messages_.Show(NotSyncedMessage(converted) + "\n\n" +
                     dir_synced.ToString());
    }
  }
  const int not_tried = static_cast<int>(names.size()) - tried + left_alone;
  switch (stop) {
    case Stop::kNone:
      messages_.Show(std::string(kDoneMessage));
      break;
    case Stop::kOwnSeries:
      messages_.Show(std::string(kOwnSeriesFolderMessage));
      break;
    case Stop::kCancelled:
      messages_.Show(StoppedRunMessage(kCancelledHeading, converted,
                                       report.not_converted(), not_tried));
      break;
    case Stop::kFolderGone:
      messages_.Show(StoppedRunMessage(
          "The folder " + folder +
              " was renamed or removed while its car files were being "
              "converted, so the run stopped there.",
          converted, report.not_converted(), not_tried));
      break;
  }
}

std::string NotSyncedMessage(int converted) {
  return CarFiles(converted) +
         " converted, but the system could not confirm that the new names "
         "are safely on disk: if the power fails now, some may come back "
         "under their old names with the new class digit. Converting them "
         "again finishes them.";
}

}  // namespace olvesk

#include "series/convert_command.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <deque>
#include <future>
#include <set>
#include <unordered_set>
#include <utility>
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
  // renamed. Where the system works on threads of its own, one batch is
  // renamed while the next syncs and the one after is prepared. The first
  // batches are small, so the first files are not held back; the batches
  // under way never hold more files open than the system allows.
  //
  // A name that differs from another only in letters beyond ASCII may name
  // the same file on a drive that ignores case, so such a run checks each
  // new name against the files it has converted before it renames: its
  // renames wait for the batch before to be taken in. A run of ASCII names
  // rules that out by comparing names, and skips the check.
  const bool ascii_names =
      std::all_of(names.begin(), names.end(), IsAscii) && IsAscii(target_code);
  const std::set<FileId>* rename_keep = ascii_names ? nullptr : &made_files;
  const std::size_t most_under_way = ascii_names ? 2 : 1;
  const std::size_t budget = std::max<std::size_t>(1, fs_.OpenFileBudget());
  const std::size_t max_batch = std::min(
      kMaxBatch, std::max<std::size_t>(1, budget / (most_under_way + 1)));
  std::size_t batch_size = std::min(kFirstBatch, max_batch);
  struct Batch {
    std::vector<PendingFile> files;
    std::vector<int> names;  // each file's index in |names|
    std::vector<ConvertResult> results;
    // The files from here on were put back: the folder was gone.
    std::size_t left_alone_from = 0;
    std::shared_future<void> renamed;
  };
  Batch batch;
  std::deque<Batch> under_way;  // synced and renamed, oldest first
  std::size_t open_under_way = 0;

  // Renames each file of |done| once |synced| says the batch is durable, or
  // puts it back: every file ends converted or as it was. It may run beside
  // the checks of the next batch, so it changes nothing but |done|.
  auto rename_batch = [&](Batch& done, const Status& synced) {
    done.results.resize(done.files.size());
    done.left_alone_from = done.files.size();
    for (std::size_t i = 0; i < done.files.size(); ++i) {
      if (i > done.left_alone_from) {
        // Nothing can be renamed in a folder that is gone.
        FinishCarFile(fs_, &done.files[i], gone, rename_keep);
        continue;
      }
      done.results[i] = FinishCarFile(fs_, &done.files[i], synced, rename_keep);
      if (!done.results[i].converted() && folder_gone()) {
        done.left_alone_from = i;
      }
    }
  };
  // Waits for the oldest batch under way and takes in what became of it.
  auto take_oldest = [&] {
    Batch& done = under_way.front();
    done.renamed.get();
    for (std::size_t i = 0; i < done.files.size(); ++i) {
      if (i >= done.left_alone_from) {
        // Put back as it was: counted as not tried.
        stop = Stop::kFolderGone;
        ++left_alone;
        continue;
      }
      const ConvertResult& result = done.results[i];
      const std::string& name = names[done.names[i]];
      if (result.converted()) {
        ++converted;
        made_files.insert(result.id);
        if (!result.status.ok()) report.Add(name, result);
      } else {
        report.Add(name, result);
      }
      progress_.Advance(++done_count);
    }
    open_under_way -= done.files.size();
    under_way.pop_front();
  };

  while (stop == Stop::kNone && tried < static_cast<int>(names.size())) {
    while (!under_way.empty() && (under_way.size() > most_under_way ||
                                  open_under_way + batch_size > budget)) {
      take_oldest();
    }
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
      std::string new_key = NameKey(new_path);
      if (made_names.count(new_key) > 0) {
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
        made_names.insert(std::move(new_key));
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
    if (!batch.files.empty()) {
      std::vector<const OpenFile*> files;
      files.reserve(batch.files.size());
      for (const PendingFile& pending : batch.files) {
        files.push_back(&pending.file);
      }
      // Its renames follow those of the batch before, and, in a run that
      // checks new names against the files converted, follow taking it in.
      if (!ascii_names) {
        while (!under_way.empty()) take_oldest();
      }
      std::shared_future<void> before;
      if (!under_way.empty()) before = under_way.back().renamed;
      open_under_way += batch.files.size();
      Batch& started = under_way.emplace_back(std::move(batch));
      batch = Batch();
      Batch* const to_rename = &started;
      started.renamed = fs_.StartSyncFiles(std::move(files),
                                           [&rename_batch, to_rename,
                                            before](const Status& synced) {
                                             if (before.valid()) before.wait();
                                             rename_batch(*to_rename, synced);
                                           })
                            .share();
    }
    // Batches grow, then shrink towards the end of the run, so that little
    // is left to sync and rename once the last digit is written.
    const auto left = static_cast<std::size_t>(names.size()) - tried;
    batch_size =
        std::min({batch_size * 2, max_batch, std::max(kFirstBatch, left / 3)});
  }
  // Every batch is finished, however the run ended.
  while (!under_way.empty()) take_oldest();
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

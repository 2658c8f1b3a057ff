#include "series/convert_command.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <deque>
#include <future>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "series/ascii.h"
#include "series/car_file.h"

namespace olvesk {
namespace {

// How often the window is let answer while a run waits for a batch.
constexpr std::chrono::milliseconds kAnswerEvery{50};

// |line| with each character that would break it, a control character or a
// Unicode line or paragraph separator, shown as "?": a file's name may hold
// one, and the rest of its name would read as a line, and a file, of its own.
std::string OneLine(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const std::string_view next = line.substr(i + 1, 2);
    if (c < 0x20 || c == 0x7F) {
      shown += '?';
    } else if (c == 0xE2 && (next == "\x80\xA8" || next == "\x80\xA9")) {
      shown += '?';
      i += 2;
    } else {
      shown += line[i];
    }
  }
  return shown;
}

// What one run reports file by file: the files left with the new digit
// under their old names first, as the ones to see to, then the files that
// were not converted, each with the reason, and the converted files whose
// new name the system could not confirm. It names kMaxReportedFiles files
// in all, one at least of each kind, so that its message fits on the
// screen, and counts the rest.
class RunReport {
 public:
  void Add(const std::string& name, const ConvertResult& result) {
    if (result.converted()) {
      unconfirmed_.Add(name, result.status.ToString());
    } else if (result.outcome == ConvertResult::Outcome::kNoMarker) {
      not_converted_.Add(name, "it has no \"car_class=\" entry");
    } else if (result.unrestored) {
      unrestored_.Add(name, result.status.ToString());
    } else {
      not_converted_.Add(name, result.status.ToString());
    }
  }
  void AddNotConverted(const std::string& name, const std::string& reason) {
    not_converted_.Add(name, reason);
  }

  int not_converted() const { return unrestored_.count + not_converted_.count; }

  // Shows the report, if there is anything to report.
  void ShowIn(MessageBox& messages) const {
    std::string text;
    int room = kMaxReportedFiles;
    unrestored_.AppendTo(kUnrestoredHeading, kUnrestoredOneHeading, &room,
                         &text);
    not_converted_.AppendTo(kNotConvertedHeading, kNotConvertedOneHeading,
                            &room, &text);
    unconfirmed_.AppendTo(kUnconfirmedHeading, kUnconfirmedOneHeading, &room,
                          &text);
    if (!text.empty()) messages.Show(text);
  }

 private:
  struct Section {
    int count = 0;
    std::vector<std::string> lines;  // the first kMaxReportedFiles

    void Add(const std::string& name, const std::string& reason) {
      if (count++ < kMaxReportedFiles) {
        lines.push_back(OneLine(name + ": " + reason));
      }
    }
    // Names as many files as there is |*room| for, one at least.
    void AppendTo(std::string_view heading, std::string_view one_heading,
                  int* room, std::string* text) const {
      if (count == 0) return;
      if (!text->empty()) *text += "\n\n";
      *text += std::string(count == 1 ? one_heading : heading) + "\n";
      const int named = std::max(1, std::min(count, *room));
      for (int i = 0; i < named; ++i) *text += "\n" + lines[i];
      *room = std::max(0, *room - named);
      if (count > named) {
        *text += "\n... and " + std::to_string(count - named) + " more.";
      }
    }
  };
  Section unrestored_;
  Section not_converted_;
  Section unconfirmed_;
};

// The name as a file system that ignores letter case sees it. Every run
// compares names this way, whatever the system: a FAT or exFAT drive ignores
// case on any system, and two names that differ only in case are rare
// enough in one folder to be worth refusing.
std::string NameKey(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(), AsciiLower);
  return path;
}

// What may become of converted files whose new names are not known to be
// on disk, and what to do about it.
constexpr std::string_view kNotSyncedRisk =
    " safely on disk: if the power fails now, some may come back under their "
    "old names with the new class digit. Converting them again finishes them.";

// "1 car file" or "3 car files".
std::string CarFiles(int count) {
  return std::to_string(count) + (count == 1 ? " car file" : " car files");
}

// How a run ended.
enum class Stop { kNone, kOwnSeries, kCancelled, kFolderGone };

// Converts a fixed list of names in one folder, in batches: each file of a
// batch is checked, opened and given its digit; one sync makes all those
// digits durable; only then is each renamed. Where the system works on
// threads of its own, one batch is renamed while the next syncs and the one
// after is prepared. The first batches are small, so the first files are
// not held back; the batches under way never hold more files open than the
// system allows, and they shrink towards the end of the run, so that little
// is left to sync and rename once the last digit is written.
class BatchedRun {
 public:
  BatchedRun(FileSystem& fs, ProgressReport& progress, std::string folder,
             const std::vector<std::string>& names, std::string target_code,
             char target_digit)
      : fs_(fs),
        progress_(progress),
        folder_(std::move(folder)),
        folder_code_(FolderSeriesCode(folder_)),
        names_(names),
        target_code_(std::move(target_code)),
        target_digit_(target_digit),
        gone_(
            Status::Error("rename", folder_, "the folder is no longer there")) {
    options_.stop = [this] { return progress_.Cancelled(); };
    // A name that differs from another only in letters beyond ASCII may
    // name the same file on a drive that ignores case, so such a run checks
    // each new name against the files it has converted before it renames:
    // its renames wait for the batch before to be taken in. A run of ASCII
    // names rules that out by comparing names, and skips the check.
    ascii_names_ = std::all_of(names_.begin(), names_.end(), IsAscii) &&
                   IsAscii(target_code_);
    most_under_way_ = ascii_names_ ? 2 : 1;
    budget_ = std::max<std::size_t>(1, fs_.OpenFileBudget());
    max_batch_ = std::min(
        kMaxBatch, std::max<std::size_t>(1, budget_ / (most_under_way_ + 1)));
    batch_size_ = std::min(kFirstBatch, max_batch_);
  }
  // Batches under way point back at it, and each one's renames wait for the
  // one before: however the run is left, none may outlive it.
  ~BatchedRun() {
    for (const Batch& batch : under_way_) {
      if (batch.renamed.valid()) batch.renamed.wait();
    }
  }
  BatchedRun(const BatchedRun&) = delete;
  BatchedRun& operator=(const BatchedRun&) = delete;

  // Goes through the names until they are done or the run stops; every
  // batch is finished before it returns, however the run ended.
  Stop Convert() {
    while (stop_ == Stop::kNone && tried_ < names_.size()) {
      while (!under_way_.empty() && (under_way_.size() > most_under_way_ ||
                                     open_under_way_ + batch_size_ > budget_)) {
        TakeOldest();
      }
      PrepareBatch();
      if (!batch_.files.empty()) StartBatch();
      const std::size_t left = names_.size() - tried_;
      batch_size_ = std::min(
          {batch_size_ * 2, max_batch_, std::max(kFirstBatch, left / 3)});
    }
    while (!under_way_.empty()) TakeOldest();
    return stop_;
  }

  int converted() const { return converted_; }
  int not_tried() const {
    return static_cast<int>(names_.size() - tried_) + left_alone_;
  }
  const RunReport& report() const { return report_; }

 private:
  struct Batch {
    std::vector<PendingFile> files;
    std::vector<std::size_t> names;  // each file's index in |names_|
    std::vector<ConvertResult> results;
    // The files from here on were put back: the folder was gone.
    std::size_t left_alone_from = 0;
    std::shared_future<void> renamed;
  };

  // The files a rename must not replace, where names alone cannot tell.
  const MadeFiles* RenameKeep() const {
    return ascii_names_ ? nullptr : &made_files_;
  }

  // Tells a file that went away from a folder that did. A folder reached
  // through a link is there while the link leads to a folder.
  bool FolderGone() {
    FileInfo now;
    if (!fs_.Stat(folder_, &now).ok()) return false;
#ifndef _WIN32
    // "." in it is the folder the link leads to, or nothing once that
    // folder was renamed or removed. Windows takes "." in a path as a
    // name, so there a junction counts as the folder.
    if (now.kind == FileInfo::Kind::kSymlink &&
        !fs_.Stat(CarFilePath(folder_, "."), &now).ok()) {
      return false;
    }
#endif
    return now.kind != FileInfo::Kind::kDirectory &&
           now.kind != FileInfo::Kind::kSymlink;
  }

  // Checks the next names and writes their digits into |batch_|, until it
  // holds |batch_size_| files or the run stops.
  void PrepareBatch() {
    while (stop_ == Stop::kNone && batch_.files.size() < batch_size_ &&
           tried_ < names_.size()) {
      if (progress_.Cancelled()) {
        stop_ = Stop::kCancelled;
        return;
      }
      const std::string& name = names_[tried_];
      const std::string path = CarFilePath(folder_, name);
      if (FileSeriesCode(path) == folder_code_) {
        stop_ = Stop::kOwnSeries;
        return;
      }
      // Two listed files may map to the same new name (a.gns.car and
      // a.cts.car both become a.pta.car, or A.gns.car and a.cts.car on a
      // drive that ignores case); the second must not replace what the
      // first became.
      const std::string new_path = NewCarFilePath(path, target_code_);
      std::string new_key = NameKey(new_path);
      if (const auto first = made_names_.find(new_key);
          first != made_names_.end()) {
        report_.AddNotConverted(
            name, "its new name, " + new_path + ", is also that of " +
                      first->second +
                      " in this run; it was left as it is, so that one "
                      "cannot replace the other");
        ++tried_;
        progress_.Advance(++done_count_);
        continue;
      }
      PendingFile pending;
      const ConvertResult result = BeginCarFile(
          fs_, path, target_code_, target_digit_, options_, &pending);
      if (result.outcome == ConvertResult::Outcome::kPending) {
        made_names_.emplace(std::move(new_key), name);
        batch_.files.push_back(std::move(pending));
        batch_.names.push_back(tried_++);
        continue;
      }
      if (result.outcome == ConvertResult::Outcome::kStopped) {
        stop_ = Stop::kCancelled;
        return;
      }
      if (result.outcome == ConvertResult::Outcome::kFailed && FolderGone()) {
        stop_ = Stop::kFolderGone;
        return;
      }
      report_.Add(name, result);
      ++tried_;
      progress_.Advance(++done_count_);
    }
  }

  // Hands |batch_| to the file system to be synced, then renamed after the
  // batch before it.
  void StartBatch() {
    std::vector<const OpenFile*> files;
    files.reserve(batch_.files.size());
    for (const PendingFile& pending : batch_.files) {
      files.push_back(&pending.file);
    }
    // A run that checks new names against the files converted takes in
    // every batch before this one is renamed.
    if (!ascii_names_) {
      while (!under_way_.empty()) TakeOldest();
    }
    std::shared_future<void> before;
    if (!under_way_.empty()) before = under_way_.back().renamed;
    open_under_way_ += batch_.files.size();
    Batch* const started = &under_way_.emplace_back(std::move(batch_));
    batch_ = Batch();
    started->renamed =
        fs_.StartSyncFiles(std::move(files),
                           [this, started, before](const Status& synced) {
                             if (before.valid()) before.wait();
                             RenameBatch(*started, synced);
                           })
            .share();
  }

  // Renames each file of |done| once |synced| says the batch is durable, or
  // puts it back: every file ends converted or as it was. It may run beside
  // PrepareBatch() on another thread, so it changes nothing but |done| and,
  // in a run that checks new names against the files it converted,
  // |made_files_|: such a run renames one batch at a time and only after
  // taking in the one before, so nothing else touches them meanwhile.
  void RenameBatch(Batch& done, const Status& synced) {
    done.results.resize(done.files.size());
    done.left_alone_from = done.files.size();
    for (std::size_t i = 0; i < done.files.size(); ++i) {
      if (i > done.left_alone_from) {
        // Nothing can be renamed in a folder that is gone.
        done.results[i] =
            FinishCarFile(fs_, &done.files[i], gone_, RenameKeep());
        continue;
      }
      done.results[i] =
          FinishCarFile(fs_, &done.files[i], synced, RenameKeep());
      // The next file of this very batch may be the one that would take
      // this one's name.
      if (!ascii_names_ && done.results[i].converted()) {
        made_files_.Add(done.results[i].made);
      }
      if (!done.results[i].converted() && FolderGone()) {
        done.left_alone_from = i;
      }
    }
  }

  // Waits for the oldest batch under way and takes in what became of it.
  void TakeOldest() {
    Batch& done = under_way_.front();
    // A batch syncs for seconds on a slow disk: the window keeps answering
    // meanwhile, and a Cancel pressed then stops the run at the next batch.
    while (done.renamed.wait_for(kAnswerEvery) == std::future_status::timeout) {
      progress_.Cancelled();
    }
    done.renamed.get();
    for (std::size_t i = 0; i < done.files.size(); ++i) {
      const ConvertResult& result = done.results[i];
      if (i >= done.left_alone_from) {
        stop_ = Stop::kFolderGone;
        if (!result.unrestored) {
          // Put back as it was: counted as not tried.
          ++left_alone_;
          continue;
        }
      }
      const std::string& name = names_[done.names[i]];
      if (result.converted()) {
        ++converted_;
        if (!result.status.ok()) report_.Add(name, result);
      } else {
        report_.Add(name, result);
      }
      progress_.Advance(++done_count_);
    }
    open_under_way_ -= done.files.size();
    under_way_.pop_front();
  }

  FileSystem& fs_;
  ProgressReport& progress_;
  const std::string folder_;
  const std::string folder_code_;
  const std::vector<std::string>& names_;
  const std::string target_code_;
  const char target_digit_;
  const Status gone_;
  ConvertOptions options_;

  bool ascii_names_ = true;
  std::size_t most_under_way_ = 2;
  std::size_t budget_ = 1;
  std::size_t max_batch_ = 1;
  std::size_t batch_size_ = 1;

  Stop stop_ = Stop::kNone;
  std::size_t tried_ = 0;  // names taken from |names_|
  int done_count_ = 0;     // files the run is through with
  int left_alone_ = 0;  // taken, but put back as they were when the run stopped
  int converted_ = 0;
  RunReport report_;
  // The new names this run gives, each with the name it gives it to, and
  // the files it has made.
  std::unordered_map<std::string, std::string> made_names_;
  MadeFiles made_files_;

  Batch batch_;                  // being prepared
  std::deque<Batch> under_way_;  // synced and renamed, oldest first
  std::size_t open_under_way_ = 0;
};

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

  BatchedRun run(fs_, progress_, folder, names, std::move(target_code),
                 target_digit);
  if (!names.empty()) progress_.Begin(static_cast<int>(names.size()));
  const Stop stop = run.Convert();
  if (!names.empty()) progress_.End();

  // Finish: the renames are made durable before any message waits on the
  // user, the list shows what is there now, files left over are named, and
  // the user learns how the run ended.
  const int converted = run.converted();
  Status dir_synced;
  if (converted > 0 && stop != Stop::kFolderGone) {
    dir_synced = fs_.SyncDir(folder);
  }
  if (stop == Stop::kNone || converted > 0) file_list_.Refresh();
  run.report().ShowIn(messages_);
  if (!dir_synced.ok()) {
    messages_.Show(NotSyncedMessage(converted) + "\n\n" +
                   dir_synced.ToString());
  }
  switch (stop) {
    case Stop::kNone:
      messages_.Show(std::string(kDoneMessage));
      break;
    case Stop::kOwnSeries:
      messages_.Show(std::string(kOwnSeriesFolderMessage));
      break;
    case Stop::kCancelled:
      messages_.Show(StoppedRunMessage(kCancelledHeading, converted,
                                       run.report().not_converted(),
                                       run.not_tried()));
      break;
    case Stop::kFolderGone: {
      std::string text = StoppedRunMessage(
          "The folder " + folder +
              " was renamed or removed while its car files were being "
              "converted, so the run stopped there.",
          converted, run.report().not_converted(), run.not_tried());
      // The folder cannot be synced where it went, so its new names may
      // not be on disk yet.
      if (converted > 0) {
        text.append(
                "\n\nThe system could not confirm that the new names of the "
                "converted files are")
            .append(kNotSyncedRisk);
      }
      messages_.Show(text);
      break;
    }
  }
}

std::string NotSyncedMessage(int converted) {
  return CarFiles(converted) +
         " converted, but the system could not confirm that the new names "
         "are" +
         std::string(kNotSyncedRisk);
}

}  // namespace olvesk

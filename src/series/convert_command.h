#ifndef OLVESK_SERIES_CONVERT_COMMAND_H_
#define OLVESK_SERIES_CONVERT_COMMAND_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "series/controls.h"
#include "series/file_system.h"

namespace olvesk {

inline constexpr std::string_view kOwnSeriesFolderMessage =
    "You can't modify car files in their original Series Folder. Please Copy "
    "them to the destination Series Folder and modify them there.";
inline constexpr std::string_view kDoneMessage = "Done Converting Car files";
inline constexpr std::string_view kNothingHighlightedMessage =
    "No car file is highlighted. Click a car file in the list to convert it, "
    "or check \"Modify All?\" to convert every listed file.";
// The first line of what a cancelled run says; the counts follow.
inline constexpr std::string_view kCancelledHeading = "The run was cancelled.";
// The headings of a run's report, for several files and for one.
inline constexpr std::string_view kUnrestoredHeading =
    "These car files keep their old names, but may hold the new class digit "
    "already; converting them again finishes them:";
inline constexpr std::string_view kUnrestoredOneHeading =
    "This car file keeps its old name, but may hold the new class digit "
    "already; converting it again finishes it:";
inline constexpr std::string_view kNotConvertedHeading =
    "These car files were not converted:";
inline constexpr std::string_view kNotConvertedOneHeading =
    "This car file was not converted:";
inline constexpr std::string_view kUnconfirmedHeading =
    "These car files were converted, but the system reported a problem:";
inline constexpr std::string_view kUnconfirmedOneHeading =
    "This car file was converted, but the system reported a problem:";

// What a run that converted |converted| files says when the folder could
// not be synced after their renames.
std::string NotSyncedMessage(int converted);

// What a run says when it stops before its end: |heading|, then how many
// files were converted, how many were tried but not converted, and how many
// were not tried.
std::string StoppedRunMessage(std::string_view heading, int converted,
                              int not_converted, int not_tried);

// A run converts files in batches of at most kMaxBatch, starting with
// kFirstBatch, doubling, and shrinking again towards the end of the run.
inline constexpr std::size_t kFirstBatch = 16;
inline constexpr std::size_t kMaxBatch = 4096;

// At most this many files are named one by one in the report of a run.
inline constexpr int kMaxReportedFiles = 10;

// What the convert button does: converts the highlighted car file, or with
// "Modify All?" checked every listed one, to the target series, refusing
// files that lie in the folder of their own series.
class ConvertCommand {
 public:
  ConvertCommand(FileSystem& fs, const DirectoryList& dir_list,
                 FileList& file_list, const CheckBox& modify_all,
                 MessageBox& messages, ProgressReport& progress);

  // Runs with the target given by value: what the window shows may change
  // while the run goes on, the run does not.
  void Run(std::string target_code, char target_digit);

 private:
  FileSystem& fs_;
  const DirectoryList& dir_list_;
  FileList& file_list_;
  const CheckBox& modify_all_;
  MessageBox& messages_;
  ProgressReport& progress_;
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_CONVERT_COMMAND_H_

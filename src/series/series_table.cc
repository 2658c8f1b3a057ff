#include "series/series_table.h"

namespace olvesk {

SeriesSelection::SeriesSelection(const std::array<OptionButton*, 4>& options,
                                 FileList& file_list)
    : options_(options), file_list_(file_list) {}

void SeriesSelection::Select(int row) {
  const SeriesInfo& series = kSeriesTable.at(row);
  for (int other = 0; other < static_cast<int>(options_.size()); ++other) {
    if (other != row) options_[other]->SetValue(false);
  }
  file_list_.SetPattern(std::string(series.pattern));
  target_series_digit_ = series.digit;
  target_series_code_ = std::string(series.code);
}

void SeriesSelection::SelectAtStartup() {
  options_[kStartupRow]->SetValue(true);
  Select(kStartupRow);
}

}  // namespace olvesk

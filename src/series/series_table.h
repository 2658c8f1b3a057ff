#ifndef OLVESK_SERIES_SERIES_TABLE_H_
#define OLVESK_SERIES_SERIES_TABLE_H_

#include <array>
#include <string>
#include <string_view>

#include "series/controls.h"

namespace olvesk {

// One racing series: its option button, its code (also the button's caption),
// the class digit its car files carry, and the file-list filter that shows
// the car files of the three other series.
struct SeriesInfo {
  std::string_view option;
  std::string_view code;
  char digit;
  std::string_view pattern;
};

inline constexpr std::array<SeriesInfo, 4> kSeriesTable = {{
    {"Option1", "cup", '1', "*.gns.car;*.cts.car;*.pta.car"},
    {"Option2", "gns", '2', "*.cup.car;*.cts.car;*.pta.car"},
    {"Option3", "cts", '3', "*.cup.car;*.gns.car;*.pta.car"},
    {"Option4", "pta", '4', "*.cup.car;*.gns.car;*.cts.car"},
}};

// The row chosen when the window opens: "pta".
inline constexpr int kStartupRow = 3;

// The target series the user has chosen, kept in step with the option
// buttons and the file list's filter.
class SeriesSelection {
 public:
  // |options| are the buttons of the four rows, in table order.
  SeriesSelection(const std::array<OptionButton*, 4>& options,
                  FileList& file_list);

  // The user clicked the option of |row| (0 to 3): clears the other three
  // options, filters the file list for the other series, then takes the
  // row's digit and code.
  void Select(int row);

  // What the window does while it loads: selects the start-up row.
  void SelectAtStartup();

  const std::string& TargetSeriesCode() const { return target_series_code_; }
  char TargetSeriesDigit() const { return target_series_digit_; }

 private:
  std::array<OptionButton*, 4> options_;
  FileList& file_list_;
  std::string target_series_code_;
  char target_series_digit_ = ' ';
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_SERIES_TABLE_H_

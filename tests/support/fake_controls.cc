#include "support/fake_controls.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "support/temp_dir.h"

namespace olvesk {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

void FakeFileList::SetPath(const std::string& path) {
  path_ = path;
  Refresh();
}

void FakeFileList::SetPattern(const std::string& pattern) {
  pattern_ = pattern;
  Refresh();
}

std::string FakeFileList::FileName() const {
  return index_ >= 0 && index_ < ListCount() ? names_[index_] : "";
}

void FakeFileList::Refresh() {
  ++refreshes_;
  names_.clear();
  index_ = -1;
  if (path_.empty()) return;
  std::vector<std::string> suffixes;
  std::istringstream patterns(pattern_);
  for (std::string pattern; std::getline(patterns, pattern, ';');) {
    suffixes.push_back(Lower(pattern.substr(pattern.find('*') + 1)));
  }
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(Utf8Path(path_), error)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = Utf8String(entry.path().filename());
    const std::string lower = Lower(name);
    for (const std::string& suffix : suffixes) {
      if (lower.size() > suffix.size() && lower.ends_with(suffix)) {
        names_.push_back(name);
        break;
      }
    }
  }
  std::sort(names_.begin(), names_.end(),
            [](const std::string& a, const std::string& b) {
              return Lower(a) < Lower(b);
            });
}

void FakeOptionButton::SetValue(bool value) {
  value_ = value;
  log_->push_back(name_ + "=" + (value ? "1" : "0"));
}

}  // namespace olvesk

#ifndef OLVESK_TESTS_SUPPORT_FAKE_CONTROLS_H_
#define OLVESK_TESTS_SUPPORT_FAKE_CONTROLS_H_

#include <atomic>
#include <string>
#include <vector>

#include "series/controls.h"

namespace olvesk {

// Controls made of plain fields, for driving the conversion code in tests.

class FakeDirectoryList : public DirectoryList {
 public:
  std::string Path() const override { return path_; }
  std::string path_;
};

// Lists the plain files of a real folder whose names end, in any letter
// case, in what follows the "*" of one of the patterns, sorted by name.
class FakeFileList : public FileList {
 public:
  std::string Path() const override { return path_; }
  void SetPath(const std::string& path) override;
  std::string Pattern() const override { return pattern_; }
  void SetPattern(const std::string& pattern) override;
  std::string FileName() const override;
  int ListIndex() const override { return index_; }
  void SetListIndex(int index) override { index_ = index; }
  int ListCount() const override { return static_cast<int>(names_.size()); }
  std::string List(int index) const override { return names_.at(index); }
  void Refresh() override;

  std::string path_;
  std::string pattern_;
  std::vector<std::string> names_;
  int index_ = -1;
  int refreshes_ = 0;
};

class FakeCheckBox : public CheckBox {
 public:
  int Value() const override { return value_; }
  int value_ = 0;
};

// Writes "<name>=<value>" to a shared log whenever it is set.
class FakeOptionButton : public OptionButton {
 public:
  FakeOptionButton(std::string name, std::vector<std::string>* log)
      : name_(std::move(name)), log_(log) {}
  bool Value() const override { return value_; }
  void SetValue(bool value) override;

  std::string name_;
  std::vector<std::string>* log_;
  bool value_ = false;
};

class FakeMessageBox : public MessageBox {
 public:
  void Show(const std::string& text) override {
    shown_.push_back(text);
    if (log_) log_->push_back("message");
  }
  std::vector<std::string> shown_;
  // Where set, each message is noted there too, among the file calls.
  std::vector<std::string>* log_ = nullptr;
};

class FakeProgress : public ProgressReport {
 public:
  void Begin(int total) override {
    log_.push_back("begin " + std::to_string(total));
  }
  void Advance(int done) override { last_ = done; }
  void End() override { log_.push_back("end " + std::to_string(last_)); }
  // Says the run is cancelled from the |cancel_at_|-th question on (counting
  // from 1); never when it is 0. Counts the questions either way.
  bool Cancelled() override {
    ++asked_;
    return cancel_at_ > 0 && asked_ >= cancel_at_;
  }
  std::vector<std::string> log_;
  int last_ = 0;
  int cancel_at_ = 0;
  std::atomic<int> asked_{0};  // also read by a test's sync thread
};

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_FAKE_CONTROLS_H_

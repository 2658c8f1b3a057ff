#ifndef OLVESK_SERIES_CONTROLS_H_
#define OLVESK_SERIES_CONTROLS_H_

#include <string>

namespace olvesk {

// The window's controls as the conversion code sees them. The window
// implements these with real widgets; tests implement them with plain fields.
// Paths and names are UTF-8.

// The directory list.
class DirectoryList {
 public:
  virtual ~DirectoryList() = default;
  // The full path of the folder the list has open.
  virtual std::string Path() const = 0;
};

// The file list: the plain files of one folder whose names match a pattern.
class FileList {
 public:
  virtual ~FileList() = default;

  // The folder the list shows. Setting it re-reads the folder.
  virtual std::string Path() const = 0;
  virtual void SetPath(const std::string& path) = 0;

  // Wildcard patterns separated by ";", matched without regard to letter
  // case. Setting it re-reads the folder.
  virtual std::string Pattern() const = 0;
  virtual void SetPattern(const std::string& pattern) = 0;

  // The name, without folder, of the highlighted entry; empty when none is.
  virtual std::string FileName() const = 0;

  // The index of the highlighted entry, -1 when none is. Setting it
  // highlights that entry.
  virtual int ListIndex() const = 0;
  virtual void SetListIndex(int index) = 0;

  // The number of entries, and the name of entry |index| (0 <= index <
  // ListCount()), in the order the list shows them. A name is the system's
  // own bytes, which need not be valid UTF-8, so that it always reaches the
  // file it names.
  virtual int ListCount() const = 0;
  virtual std::string List(int index) const = 0;

  // Re-reads the folder with the current pattern.
  virtual void Refresh() = 0;
};

// The "Modify All?" check box.
class CheckBox {
 public:
  virtual ~CheckBox() = default;
  // 0 when unchecked, 1 when checked.
  virtual int Value() const = 0;
};

// One of the four series option buttons.
class OptionButton {
 public:
  virtual ~OptionButton() = default;
  // Whether the option is set.
  virtual bool Value() const = 0;
  // Sets or clears the option. Setting one clears the other three of its
  // group; clearing the one that is set may be ignored, as an exclusive
  // group of buttons ignores it.
  virtual void SetValue(bool value) = 0;
};

// Modal messages to the user: one text, a single OK button, no icon, titled
// "Olvesk". Show() returns once the user has closed the message.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual void Show(const std::string& text) = 0;
};

// Progress of a run. Begin() comes once before the first file, Advance()
// after each file, End() once when the run is over, also when it stops
// early. Cancelled() is asked between files, now and then while one large
// file is read or a batch of files is synced, only between Begin() and End().
class ProgressReport {
 public:
  virtual ~ProgressReport() = default;
  virtual void Begin(int total) = 0;
  virtual void Advance(int done) = 0;
  virtual void End() = 0;
  // True once the user has asked to stop the run; stays true until the next
  // Begin(). It may let the window handle the events that are waiting, so
  // it is cheap to ask often.
  virtual bool Cancelled() = 0;
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_CONTROLS_H_

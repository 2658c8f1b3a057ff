#ifndef OLVESK_WINDOW_MAIN_WINDOW_H_
#define OLVESK_WINDOW_MAIN_WINDOW_H_

#include <QWidget>
#include <array>
#include <memory>

#include "series/convert_command.h"
#include "series/file_system.h"
#include "series/series_table.h"
#include "window/widget_controls.h"

class QFrame;
class QLabel;
class QPushButton;

namespace olvesk {

class DirectoryListBox;
class FileListBox;

// The program's one window: the instructions, the target series, the
// "Modify All?" check box, the convert button, and the directory and file
// lists side by side.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Opens on |start_folder|; conversions go through |fs|.
  MainWindow(FileSystem& fs, const QString& start_folder,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  DirectoryListBox* directoryList() const { return dir1_; }
  FileListBox* fileList() const { return file1_; }
  const SeriesSelection& selection() const { return *selection_; }

 protected:
  // A folder dropped on the window, from a file manager say, opens in the
  // directory list.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Closing the window during a run cancels the run; the window closes once
  // the run has ended and said so.
  void closeEvent(QCloseEvent* event) override;
  // Coming back to the window, from a file manager say, finds the open
  // folder gone if it was renamed or removed meanwhile, and its files as
  // they are now.
  void changeEvent(QEvent* event) override;

 private:
  void createInstructions();
  void createSeriesOptions();
  void createConvertRow();
  void createLists(const QString& start_folder);
  void setTabOrder();
  void setAccessibleNames();

  // The option of |row| became set, by a click, a key or an assistive tool:
  // the target follows, except during a run, which keeps its own.
  void optionSet(int row);
  void convert();
  // When the open folder went away, moves the lists on to the nearest one
  // above it that is still there; returns whether it did.
  bool leaveGoneFolder();

  FileSystem& fs_;
  QPushButton* command1_ = nullptr;
  ModifyAllCheckBox* check1_ = nullptr;
  DirectoryListBox* dir1_ = nullptr;
  FileListBox* file1_ = nullptr;
  std::array<SeriesOptionButton*, 4> options_{};
  QFrame* frame1_ = nullptr;
  std::unique_ptr<SeriesSelection> selection_;
  MessageBoxes messages_{this};
  ProgressDialog progress_{this};
  bool converting_ = false;
  bool close_after_run_ = false;
  // The row that a click's own toggle has just selected, or -1.
  int selected_by_toggle_ = -1;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_MAIN_WINDOW_H_

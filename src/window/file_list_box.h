#ifndef OLVESK_WINDOW_FILE_LIST_BOX_H_
#define OLVESK_WINDOW_FILE_LIST_BOX_H_

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QListView>
#include <QString>
#include <QTimer>
#include <string>

#include "series/controls.h"
#include "window/folder_listing.h"

class QFileSystemWatcher;

namespace olvesk {

// The rows of the file list: each name is made into text only when the view
// asks for it, which with uniform rows is for the rows in sight.
class ListedFilesModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  const ListedFiles& files() const { return files_; }
  void setFiles(ListedFiles files);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  ListedFiles files_;
};

// The file list: the car files of one folder that match the pattern. It
// re-reads the folder at once whenever its path or pattern is set, so it is
// exact right after a conversion. Uniform rows whose text is made only when
// shown keep it quick with a hundred thousand names.
//
// It also follows its folder: when other programs add, remove or rename
// files there, it re-reads the folder once the burst of changes is over, or
// at the latest kLongestWaitMs into a burst that does not end, keeping the
// highlighted entry, unless following is paused.
class FileListBox : public QListView, public FileList {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  QString folder() const { return folder_; }
  void setFolder(const QString& folder);
  // The names as the list shows them; List() gives each one's bytes.
  QStringList names() const;

  // While paused, changes in the folder made by others are not followed;
  // a conversion run pauses it, since it re-reads the list itself. Changes
  // that came meanwhile are followed once it resumes.
  void pauseFollowing();
  void resumeFollowing();

  // How long the folder must be quiet before it is re-read.
  static constexpr int kSettleMs = 200;
  // How long a burst of changes that goes on may keep it from re-reading.
  static constexpr int kLongestWaitMs = 1000;

  // The folder's name no longer leads to a folder: it was renamed or
  // removed, or a folder above it was.
  bool folderGone() const;
  // Reads the folder again if it changed, or says that it went away, as
  // following it does; for when other programs may have changed it unseen.
  void recheck();

  // Why the folder could not be read when it was last read, or empty.
  QString unreadable() const { return model_->files().unreadable; }

  // FileList:
  std::string Path() const override;
  void SetPath(const std::string& path) override;
  std::string Pattern() const override;
  void SetPattern(const std::string& pattern) override;
  std::string FileName() const override;
  int ListIndex() const override;
  void SetListIndex(int index) override;
  int ListCount() const override;
  std::string List(int index) const override;
  void Refresh() override;

 signals:
  // Following the folder found it gone.
  void folderWentAway();

 protected:
  // With nothing highlighted, the first arrow key highlights the first file,
  // as in a classic list box, not the one below it.
  void focusInEvent(QFocusEvent* event) override;
  // A folder that cannot be read says so instead of looking empty.
  void paintEvent(QPaintEvent* event) override;

 private:
  void watch();
  void folderChanged();
  void followFolder();

  ListedFilesModel* model_;
  QFileSystemWatcher* watcher_;
  QTimer settle_timer_;
  QElapsedTimer burst_;  // since the first change not yet followed
  bool following_ = true;
  bool changed_while_paused_ = false;
  QString folder_;
  QString pattern_;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_FILE_LIST_BOX_H_

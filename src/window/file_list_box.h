#ifndef OLVESK_WINDOW_FILE_LIST_BOX_H_
#define OLVESK_WINDOW_FILE_LIST_BOX_H_

#include <QListView>
#include <QString>

#include "series/controls.h"

class QStringListModel;

namespace olvesk {

// The file list: the car files of one folder that match the pattern. It
// re-reads the folder at once whenever its path or pattern is set, so it is
// exact right after a conversion. A view over a string list with uniform
// rows stays quick with a hundred thousand names.
class FileListBox : public QListView, public FileList {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  QString folder() const { return folder_; }
  void setFolder(const QString& folder);
  QStringList names() const;

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

 private:
  QStringListModel* model_;
  QString folder_;
  QString pattern_;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_FILE_LIST_BOX_H_

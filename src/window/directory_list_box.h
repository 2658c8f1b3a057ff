#ifndef OLVESK_WINDOW_DIRECTORY_LIST_BOX_H_
#define OLVESK_WINDOW_DIRECTORY_LIST_BOX_H_

#include <QString>
#include <QTreeWidget>

#include "series/controls.h"

namespace olvesk {

// A classic directory list: the folders from the root of the drive down to
// the open one, drawn open, with the folders inside it indented below.
// Double-click or Enter on an entry opens it; a single click only
// highlights it.
class DirectoryListBox : public QTreeWidget, public DirectoryList {
  Q_OBJECT

 public:
  explicit DirectoryListBox(QWidget* parent = nullptr);

  // The open folder, with "/" separators.
  QString folder() const { return folder_; }
  // Opens |folder| and shows its surroundings; emits pathChanged(). A
  // folder that is gone opens the nearest folder above it that is there,
  // and an empty or relative one, as a working folder removed before start
  // gives, the home folder.
  void setFolder(const QString& folder);
  // Whether |folder| lies on the drive of the open folder, where the list
  // stays.
  bool onItsDrive(const QString& folder) const;

  // DirectoryList: the open folder with the system's separators.
  std::string Path() const override;

 signals:
  // The user, or setFolder(), opened another folder.
  void pathChanged();
  // The user clicked an entry; the open folder is unchanged.
  void entryClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void updateGeometries() override;
  // Every shown folder is open or a leaf: no expand arrows.
  void drawBranches(QPainter*, const QRect&,
                    const QModelIndex&) const override {}

 private:
  void open(QTreeWidgetItem* item);
  void fill();

  QString folder_;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_DIRECTORY_LIST_BOX_H_

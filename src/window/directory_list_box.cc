#include "window/directory_list_box.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "window/folder_listing.h"

#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "series/real_file_system.h"
#endif

namespace olvesk {
namespace {

constexpr int kPathRole = Qt::UserRole;

#if defined(Q_OS_WIN)
// The existing absolute |path| ("D:/CARS/GNS") with each folder's name as
// the disk spells it ("D:/cars/gns"), long names for short ones: a working
// folder keeps the spelling it was started with ("Start in", "start /d"),
// and the series code read from the path must be the folder's own.
QString AsOnDisk(const QString& path) {
  const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
  // The root: "C:" or, for "//server/share/...", the server and share.
  const bool unc = path.startsWith(u"//");
  const int root_parts = unc ? 2 : 1;
  if (parts.size() <= root_parts) return path;
  QString done = unc ? "//" + parts[0] + "/" + parts[1] : parts[0];
  for (int i = root_parts; i < parts.size(); ++i) {
    done += u'/';
    const std::wstring wide =
        SystemPath(SystemBytes(QDir::toNativeSeparators(done + parts[i])));
    WIN32_FIND_DATAW found;
    const HANDLE handle =
        wide.empty() ? INVALID_HANDLE_VALUE
                     : FindFirstFileExW(wide.c_str(), FindExInfoBasic, &found,
                                        FindExSearchNameMatch, nullptr, 0);
    if (handle == INVALID_HANDLE_VALUE) {
      done += parts[i];
    } else {
      FindClose(handle);
      done += QString::fromWCharArray(found.cFileName);
    }
  }
  return done;
}
#endif

// The folder that holds the existing |path|, or |path| itself at the root
// of its drive.
QString Above(const QString& path) {
#if defined(Q_OS_WIN)
  QDir dir(path);
  return dir.isRoot() || !dir.cdUp() ? path : dir.absolutePath();
#else
  // From the text alone: QDir cannot reach a folder whose name is not UTF-8.
  return QFileInfo(path).path();
#endif
}

// The folders from the root of the drive down to the existing |folder|.
QStringList ChainFromRoot(const QString& folder) {
  QStringList chain;
  for (QString path = QDir(folder).absolutePath();;) {
    chain.prepend(path);
    const QString up = Above(path);
    if (up == path) return chain;
    path = up;
  }
}

}  // namespace

DirectoryListBox::DirectoryListBox(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(12);
  setUniformRowHeights(true);
  // A deep folder scrolls sideways rather than cutting its names away.
  header()->setStretchLastSection(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { open(item); });
  connect(this, &QTreeWidget::itemClicked, this,
          &DirectoryListBox::entryClicked);
}

void DirectoryListBox::setFolder(const QString& folder) {
  QString path = folder.isEmpty() ? folder : QDir(folder).absolutePath();
  path = QDir::cleanPath(path);
  while (!path.isEmpty() && !IsFolder(path)) {
    const QString parent = QFileInfo(path).path();
    if (parent == path) break;
    path = parent;
  }
  if (!QDir::isAbsolutePath(path) || !IsFolder(path)) {
    path = QDir::homePath();
  }
#if defined(Q_OS_WIN)
  path = AsOnDisk(path);
#endif
  folder_ = path;
  fill();
  emit pathChanged();
}

bool DirectoryListBox::onItsDrive(const QString& folder) const {
  return QString::compare(ChainFromRoot(folder).first(),
                          ChainFromRoot(folder_).first(),
                          Qt::CaseInsensitive) == 0;
}

std::string DirectoryListBox::Path() const {
  return SystemBytes(QDir::toNativeSeparators(folder_));
}

void DirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (currentItem()) open(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void DirectoryListBox::updateGeometries() {
  QTreeWidget::updateGeometries();
  // The one column is as wide as its widest name and at least as the list,
  // so that a highlight spans the row.
  const int width = std::max(sizeHintForColumn(0), viewport()->width());
  if (header()->sectionSize(0) != width) header()->resizeSection(0, width);
}

void DirectoryListBox::open(QTreeWidgetItem* item) {
  // A folder that went away since the list was drawn opens the nearest one
  // above it that is still there.
  setFolder(item->data(0, kPathRole).toString());
}

void DirectoryListBox::fill() {
  clear();
  const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);

  QTreeWidgetItem* parent = nullptr;
  for (const QString& path : ChainFromRoot(folder_)) {
    const QString name =
        QDir(path).isRoot() ? ShownPath(path) : Shown(QDir(path).dirName());
    auto* item = parent ? new QTreeWidgetItem(parent, {name})
                        : new QTreeWidgetItem(this, {name});
    item->setIcon(0, open_icon);
    item->setData(0, kPathRole, path);
    // As text, even where a folder's name looks like markup.
    item->setToolTip(0, QStringLiteral("<p style='white-space:pre'>%1</p>")
                            .arg(ShownPath(path).toHtmlEscaped()));
    item->setExpanded(true);
    parent = item;
  }
  for (const QString& name : ListSubfolders(folder_)) {
    auto* item = new QTreeWidgetItem(parent, {Shown(name)});
    item->setIcon(0, closed_icon);
    item->setData(0, kPathRole, QDir(folder_).filePath(name));
  }
  expandAll();
  setCurrentItem(parent);
  scrollToItem(parent);
  // And the open folder's name in sight, once the rows are laid out.
  QTimer::singleShot(0, this, [this] {
    if (currentItem() == nullptr) return;
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() + visualItemRect(currentItem()).left() -
                  indentation());
  });
}

}  // namespace olvesk

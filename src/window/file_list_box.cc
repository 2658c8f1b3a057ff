#include "window/file_list_box.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QPainter>
#include <QStyle>
#include <utility>

namespace olvesk {

void ListedFilesModel::setFiles(ListedFiles files) {
  beginResetModel();
  files_ = std::move(files);
  endResetModel();
}

int ListedFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : files_.size();
}

QVariant ListedFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= files_.size() ||
      (role != Qt::DisplayRole && role != Qt::EditRole)) {
    return QVariant();
  }
  return files_.Shown(index.row());
}

FileListBox::FileListBox(QWidget* parent)
    : QListView(parent),
      model_(new ListedFilesModel(this)),
      watcher_(new QFileSystemWatcher(this)) {
  setModel(model_);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // A name too long to show keeps its end, with the series code, in sight.
  setTextElideMode(Qt::ElideMiddle);

  settle_timer_.setSingleShot(true);
  settle_timer_.setInterval(kSettleMs);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
          &FileListBox::folderChanged);
  connect(&settle_timer_, &QTimer::timeout, this, &FileListBox::followFolder);
}

void FileListBox::setFolder(const QString& folder) {
  folder_ = folder;
  watch();
  Refresh();
}

void FileListBox::focusInEvent(QFocusEvent* event) {
  QListView::focusInEvent(event);
  // Qt makes the first row current without highlighting it.
  if (!selectionModel()->hasSelection()) {
    selectionModel()->setCurrentIndex(QModelIndex(),
                                      QItemSelectionModel::NoUpdate);
  }
}

void FileListBox::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  if (unreadable().isEmpty()) return;
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::PlaceholderText));
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 2;
  painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, 0),
                   Qt::AlignTop | Qt::TextWordWrap,
                   tr("This folder cannot be read: %1").arg(unreadable()));
}

void FileListBox::pauseFollowing() {
  following_ = false;
  // A change that came just before the pause is followed after it.
  changed_while_paused_ = settle_timer_.isActive();
  settle_timer_.stop();
}

void FileListBox::recheck() {
  // Its folder may have been replaced by another of the same name, of which
  // the watch on the old one hears nothing.
  const QStringList watched = watcher_->directories();
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  watch();
  followFolder();
}

void FileListBox::resumeFollowing() {
  following_ = true;
  // A change may have come after the run's last re-read, while its message
  // was open: it is followed now.
  if (std::exchange(changed_while_paused_, false)) folderChanged();
}

void FileListBox::folderChanged() {
  if (!settle_timer_.isActive()) {
    burst_.start();
  } else if (burst_.elapsed() + kSettleMs >= kLongestWaitMs) {
    // A folder that never goes quiet, as when another program touches a
    // file in it every few moments, is still followed.
    return;
  }
  settle_timer_.start();
}

void FileListBox::watch() {
  const QStringList watched = watcher_->directories();
  if (watched == QStringList{folder_}) return;
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  if (!folder_.isEmpty()) watcher_->addPath(folder_);
}

bool FileListBox::folderGone() const {
  return !folder_.isEmpty() && !IsFolder(folder_);
}

void FileListBox::followFolder() {
  if (!following_) {
    changed_while_paused_ = true;
    return;
  }
  if (folderGone()) {
    emit folderWentAway();
    return;
  }
  ListedFiles files = ListMatchingFiles(folder_, pattern_);
  // Only files the list does not show changed: it stays as it is.
  if (files.SameAs(model_->files())) return;
  // Found again by their bytes: two names may be shown alike. The view
  // stays on the rows the user scrolled to, not on the highlighted one.
  const std::string highlighted = FileName();
  const QModelIndex top = indexAt(QPoint(0, 0));
  const std::string top_name = top.isValid() ? List(top.row()) : std::string();
  model_->setFiles(std::move(files));
  int top_row = -1;
  for (int row = 0; row < ListCount(); ++row) {
    const std::string_view name = model_->files().Name(row);
    if (!highlighted.empty() && name == highlighted) SetListIndex(row);
    if (!top_name.empty() && name == top_name) top_row = row;
  }
  if (top_row >= 0) scrollTo(model_->index(top_row), PositionAtTop);
}

QStringList FileListBox::names() const { return model_->files().AllShown(); }

std::string FileListBox::Path() const {
  return SystemBytes(QDir::toNativeSeparators(folder_));
}

void FileListBox::SetPath(const std::string& path) {
  setFolder(FromSystemBytes(path));
}

std::string FileListBox::Pattern() const { return pattern_.toStdString(); }

void FileListBox::SetPattern(const std::string& pattern) {
  pattern_ = QString::fromStdString(pattern);
  Refresh();
}

std::string FileListBox::FileName() const {
  const int index = ListIndex();
  return index < 0 ? std::string() : List(index);
}

int FileListBox::ListIndex() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void FileListBox::SetListIndex(int index) {
  if (index < 0 || index >= ListCount()) {
    clearSelection();
    return;
  }
  setCurrentIndex(model_->index(index));
}

int FileListBox::ListCount() const { return model_->rowCount(); }

std::string FileListBox::List(int index) const {
  return std::string(model_->files().Name(index));
}

void FileListBox::Refresh() {
  model_->setFiles(ListMatchingFiles(folder_, pattern_));
  // A folder that could not be read could not be watched either.
  if (unreadable().isEmpty()) watch();
}

}  // namespace olvesk

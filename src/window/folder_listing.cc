#include "window/folder_listing.h"

#include <QDir>

namespace olvesk {

QStringList ListMatchingFiles(const QString& folder, const QString& pattern) {
  if (folder.isEmpty()) return {};
  QDir dir(folder);
  dir.setNameFilters(pattern.split(u';', Qt::SkipEmptyParts));
  dir.setFilter(QDir::Files);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  return dir.entryList();
}

QStringList ListSubfolders(const QString& folder) {
  QDir dir(folder);
  dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  return dir.entryList();
}

}  // namespace olvesk

#ifndef OLVESK_WINDOW_FOLDER_LISTING_H_
#define OLVESK_WINDOW_FOLDER_LISTING_H_

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace olvesk {

// The files of a folder that a list shows, in its order, each name twice:
// |shown[i]| is the name as text, with a replacement character for each
// byte that is not valid UTF-8, and |names[i]| the same name as the system's
// own bytes (on Windows, the UTF-8 of its name), which always reaches the
// file however it is shown.
struct ListedFiles {
  QStringList shown;
  std::vector<std::string> names;
};

// The plain files in |folder| whose names match any of the wildcard patterns
// in |pattern| (separated by ";"), matched without regard to letter case and
// sorted by name, ignoring case. Hidden files are left out.
ListedFiles ListMatchingFiles(const QString& folder, const QString& pattern);

// The names of the folders directly inside |folder|, sorted as above.
QStringList ListSubfolders(const QString& folder);

}  // namespace olvesk

#endif  // OLVESK_WINDOW_FOLDER_LISTING_H_

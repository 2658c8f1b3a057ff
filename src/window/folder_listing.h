#ifndef OLVESK_WINDOW_FOLDER_LISTING_H_
#define OLVESK_WINDOW_FOLDER_LISTING_H_

#include <QString>
#include <QStringList>

namespace olvesk {

// The names of the plain files in |folder| that match any of the wildcard
// patterns in |pattern| (separated by ";"), matched without regard to letter
// case and sorted by name, ignoring case. Hidden files are left out.
QStringList ListMatchingFiles(const QString& folder, const QString& pattern);

// The names of the folders directly inside |folder|, sorted as above.
QStringList ListSubfolders(const QString& folder);

}  // namespace olvesk

#endif  // OLVESK_WINDOW_FOLDER_LISTING_H_

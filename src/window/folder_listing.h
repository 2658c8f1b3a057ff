#ifndef OLVESK_WINDOW_FOLDER_LISTING_H_
#define OLVESK_WINDOW_FOLDER_LISTING_H_

#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace olvesk {

// |text|, a path or a name, as the bytes the conversion core takes: the
// system's own on Linux; on Windows UTF-8 with any lone surrogate of a name
// kept as three bytes of its own, so that every name reaches its file.
std::string SystemBytes(const QString& text);

// The path or name whose SystemBytes() are |bytes|. On Linux each byte that
// is not UTF-8 is held as a lone surrogate of its own, which Qt's file
// classes cannot pass on: such a path reaches the system only through
// SystemBytes(), as in the functions below.
QString FromSystemBytes(std::string_view bytes);

// |text|, a path or name made by FromSystemBytes(), as it is shown.
QString Shown(const QString& text);

// |path|, made by FromSystemBytes(), as it is shown: with the system's own
// separators.
QString ShownPath(const QString& path);

// Whether |path| is a folder, or a link to one.
bool IsFolder(const QString& path);

// The process's working folder.
QString WorkingFolder();

// The text shown for a file name given as its SystemBytes(): a replacement
// character stands for each byte that is not valid UTF-8 (on Windows, for a
// lone surrogate).
QString ShownName(std::string_view bytes);

// The files of a folder that a list shows, in its order. Name(i) is a name
// as the system's own bytes, which always reach the file however it is
// shown; Shown(i) the same name as text, made only when asked for. The
// bytes of all names lie in one buffer.
struct ListedFiles {
  struct Span {
    std::size_t at = 0;
    std::size_t size = 0;
  };

  int size() const { return static_cast<int>(spans.size()); }
  std::string_view Name(int index) const {
    const Span& span = spans[static_cast<std::size_t>(index)];
    return std::string_view(bytes).substr(span.at, span.size);
  }
  QString Shown(int index) const { return ShownName(Name(index)); }
  QStringList AllShown() const;
  // The same names in the same order. The bytes alone, with the sizes, may
  // split into other names, so where each name starts counts too.
  bool SameAs(const ListedFiles& other) const {
    return unreadable == other.unreadable && bytes == other.bytes &&
           std::equal(spans.begin(), spans.end(), other.spans.begin(),
                      other.spans.end(), [](const Span& a, const Span& b) {
                        return a.at == b.at && a.size == b.size;
                      });
  }

  std::string bytes;
  std::vector<Span> spans;
  // The system's reason when the folder could not be read; empty when it
  // was.
  QString unreadable;
};

// The plain files in |folder| whose names match any of the wildcard patterns
// in |pattern| (separated by ";"), matched without regard to letter case and
// sorted by name, ignoring case. Hidden files are left out. A folder that
// cannot be read lists nothing and says why.
ListedFiles ListMatchingFiles(const QString& folder, const QString& pattern);

// The names of the folders directly inside |folder|, hidden ones too, sorted
// as above.
QStringList ListSubfolders(const QString& folder);

}  // namespace olvesk

#endif  // OLVESK_WINDOW_FOLDER_LISTING_H_

#include "window/folder_listing.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(Q_OS_LINUX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace olvesk {
namespace {

// One wildcard pattern, matched against a whole name without regard to
// letter case, as QDir's name filters match. The usual forms, "*", "*.car"
// and a plain name, are compared directly; the rest go through the regular
// expression QDir would build.
class NamePattern {
 public:
  explicit NamePattern(const QString& pattern) {
    const auto is_wildcard = [](QChar c) {
      return c == u'*' || c == u'?' || c == u'[';
    };
    const QStringView rest = QStringView(pattern).mid(1);
    if (pattern == u"*") {
      kind_ = Kind::kAny;
    } else if (pattern.startsWith(u'*') &&
               std::none_of(rest.begin(), rest.end(), is_wildcard)) {
      kind_ = Kind::kSuffix;
      literal_ = rest.toString();
    } else if (std::none_of(pattern.begin(), pattern.end(), is_wildcard)) {
      kind_ = Kind::kWhole;
      literal_ = pattern;
    } else {
      kind_ = Kind::kWildcard;
      expression_ = QRegularExpression(
          QRegularExpression::wildcardToRegularExpression(pattern),
          QRegularExpression::CaseInsensitiveOption);
    }
  }

  bool Matches(const QString& name) const {
    switch (kind_) {
      case Kind::kAny:
        return true;
      case Kind::kSuffix:
        return name.endsWith(literal_, Qt::CaseInsensitive);
      case Kind::kWhole:
        return name.compare(literal_, Qt::CaseInsensitive) == 0;
      case Kind::kWildcard:
        return expression_.match(name).hasMatch();
    }
    return false;
  }

 private:
  enum class Kind { kAny, kSuffix, kWhole, kWildcard };
  Kind kind_;
  QString literal_;
  QRegularExpression expression_;
};

// The ";"-separated patterns of the file list; no pattern matches every
// name.
class NameFilter {
 public:
  explicit NameFilter(const QString& patterns) {
    for (const QString& pattern : patterns.split(u';', Qt::SkipEmptyParts)) {
      patterns_.emplace_back(pattern);
    }
  }

  bool Matches(const QString& name) const {
    return patterns_.empty() ||
           std::any_of(patterns_.begin(), patterns_.end(),
                       [&](const NamePattern& p) { return p.Matches(name); });
  }

 private:
  std::vector<NamePattern> patterns_;
};

// The names to list, sorted by name ignoring case: by their lower-case
// forms, compared as QString::compare() compares them, unit by unit; names
// shown alike, by their bytes. Each key is made once per name, not once per
// comparison: every UTF-16 unit of
// the lower-case name as two bytes, high byte first, so that memcmp() gives
// that order. The keys lie back to back in one buffer, and the first eight
// units of each are also held as two integers next to it, so most
// comparisons touch neither the names nor the buffer.
class SortedNames {
 public:
  void Add(QString name, std::string_view bytes) {
    const QString lower = name.toLower();
    Item item;
    item.index = names_.size();
    item.key_at = keys_.size();
    item.key_size = static_cast<std::size_t>(lower.size()) * 2;
    keys_.resize(item.key_at + item.key_size);
    char* key = keys_.data() + item.key_at;
    for (qsizetype i = 0; i < lower.size(); ++i) {
      const char16_t unit = lower[i].unicode();
      *key++ = static_cast<char>(unit >> 8);
      *key++ = static_cast<char>(unit & 0xFF);
      // A name holds no U+0000, so the zeros after a short name sort it
      // before the longer names it begins.
      if (i < 8) item.head[i / 4] |= std::uint64_t{unit} << (48 - 16 * (i % 4));
    }
    names_.push_back(std::move(name));
    spans_.push_back({bytes_.size(), bytes.size()});
    bytes_.append(bytes);
    items_.push_back(item);
  }

  // Names that differ only in case keep a fixed order.
  ListedFiles Take() {
    std::sort(items_.begin(), items_.end(),
              [this](const Item& x, const Item& y) { return Less(x, y); });
    ListedFiles listed;
    listed.shown.reserve(static_cast<qsizetype>(items_.size()));
    listed.spans.reserve(items_.size());
    for (const Item& item : items_) {
      listed.shown.append(std::move(names_[item.index]));
      listed.spans.push_back(spans_[item.index]);
    }
    listed.bytes = std::move(bytes_);
    return listed;
  }

 private:
  static constexpr std::size_t kHeadBytes = 16;

  struct Item {
    std::uint64_t head[2] = {0, 0};
    std::size_t key_at = 0;
    std::size_t key_size = 0;
    std::size_t index = 0;
  };

  bool Less(const Item& x, const Item& y) const {
    if (x.head[0] != y.head[0]) return x.head[0] < y.head[0];
    if (x.head[1] != y.head[1]) return x.head[1] < y.head[1];
    const std::size_t common = std::min(x.key_size, y.key_size);
    if (common > kHeadBytes) {
      const int order = std::memcmp(keys_.data() + x.key_at + kHeadBytes,
                                    keys_.data() + y.key_at + kHeadBytes,
                                    common - kHeadBytes);
      if (order != 0) return order < 0;
    }
    if (x.key_size != y.key_size) return x.key_size < y.key_size;
    if (names_[x.index] != names_[y.index]) {
      return names_[x.index] < names_[y.index];
    }
    return Bytes(x) < Bytes(y);
  }

  std::string_view Bytes(const Item& item) const {
    const ListedFiles::Span& span = spans_[item.index];
    return std::string_view(bytes_).substr(span.at, span.size);
  }

  std::vector<QString> names_;
  // Every name's bytes back to back, and where each one's lie.
  std::string bytes_;
  std::vector<ListedFiles::Span> spans_;
  std::vector<Item> items_;
  std::string keys_;
};

#if defined(Q_OS_LINUX)
// Whether QDir::Files keeps the entry |name| of the folder open as |dir|
// whose readdir type is |type|: a plain file, or a symbolic link whose
// target exists and is not a folder. Only links, and entries whose type the
// file system does not tell, cost a stat().
bool ListedAsFile(int dir, const char* name, unsigned char type) {
  struct stat info;
  switch (type) {
    case DT_REG:
      return true;
    case DT_LNK:
      return fstatat(dir, name, &info, 0) == 0 && !S_ISDIR(info.st_mode);
    case DT_UNKNOWN:
      if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
      if (S_ISREG(info.st_mode)) return true;
      return S_ISLNK(info.st_mode) && ListedAsFile(dir, name, DT_LNK);
    default:
      return false;
  }
}
#endif

}  // namespace

ListedFiles ListMatchingFiles(const QString& folder, const QString& pattern) {
  if (folder.isEmpty()) return {};
  const NameFilter filter(pattern);
  SortedNames names;
#if defined(Q_OS_LINUX)
  // One pass of readdir: its entry types spare a stat() per file, which
  // QDir would make for each entry.
  DIR* dir = opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr) return {};
  while (const dirent* entry = readdir(dir)) {
    // Hidden files, "." and "..".
    if (entry->d_name[0] == '.') continue;
    // Text to show and match; the bytes are kept to reach the file.
    QString name = QFile::decodeName(entry->d_name);
    if (!filter.Matches(name) ||
        !ListedAsFile(dirfd(dir), entry->d_name, entry->d_type)) {
      continue;
    }
    names.Add(std::move(name), entry->d_name);
  }
  closedir(dir);
#else
  QDirIterator it(folder, QDir::Files);
  while (it.hasNext()) {
    it.next();
    QString name = it.fileName();
    if (filter.Matches(name)) {
      const QByteArray bytes = name.toUtf8();
      names.Add(std::move(name), std::string_view(bytes.data(), bytes.size()));
    }
  }
#endif
  return names.Take();
}

QStringList ListSubfolders(const QString& folder) {
  QDir dir(folder);
  dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  return dir.entryList();
}

}  // namespace olvesk

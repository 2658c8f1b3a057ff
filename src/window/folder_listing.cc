#include "window/folder_listing.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "series/ascii.h"
#include "series/path_bytes.h"
#include "series/real_file_system.h"

#if defined(Q_OS_LINUX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace olvesk {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// One wildcard pattern, matched against a whole name without regard to
// letter case, as QDir's name filters match. The usual forms, "*", "*.car"
// and a plain name, are compared directly, and for an ASCII name and
// pattern on its bytes; the rest go through the regular expression QDir
// would build.
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
    literal_bytes_ = literal_.toStdString();
    matches_ascii_bytes_ = kind_ != Kind::kWildcard && IsAscii(literal_bytes_);
  }

  // Whether Matches() gives the same for an ASCII name's bytes: letters
  // beyond ASCII may fold onto ASCII ones, so only an ASCII pattern does.
  bool matches_ascii_bytes() const { return matches_ascii_bytes_; }

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

  // The bytes of an ASCII name, for a pattern that matches_ascii_bytes().
  bool Matches(std::string_view ascii_name) const {
    switch (kind_) {
      case Kind::kAny:
        return true;
      case Kind::kSuffix:
        return ascii_name.size() >= literal_bytes_.size() &&
               EqualsIgnoringAsciiCase(
                   ascii_name.substr(ascii_name.size() - literal_bytes_.size()),
                   literal_bytes_);
      case Kind::kWhole:
        return EqualsIgnoringAsciiCase(ascii_name, literal_bytes_);
      case Kind::kWildcard:
        break;
    }
    return false;
  }

 private:
  enum class Kind { kAny, kSuffix, kWhole, kWildcard };
  Kind kind_;
  QString literal_;
  std::string literal_bytes_;
  bool matches_ascii_bytes_ = false;
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
    matches_ascii_bytes_ = std::all_of(
        patterns_.begin(), patterns_.end(),
        [](const NamePattern& p) { return p.matches_ascii_bytes(); });
  }

  // Whether the name |bytes| matches. Only a name or a pattern beyond ASCII
  // is made into text for that.
  bool Matches(std::string_view bytes, bool ascii) const {
    if (patterns_.empty()) return true;
    if (ascii && matches_ascii_bytes_) {
      return std::any_of(
          patterns_.begin(), patterns_.end(),
          [&](const NamePattern& p) { return p.Matches(bytes); });
    }
    const QString name = ShownName(bytes);
    return std::any_of(patterns_.begin(), patterns_.end(),
                       [&](const NamePattern& p) { return p.Matches(name); });
  }

 private:
  std::vector<NamePattern> patterns_;
  bool matches_ascii_bytes_ = true;
};

// The names to list, sorted by name ignoring case as QDir sorts them: up to
// Qt 6.5 by their lower-case forms, unit by unit; from Qt 6.6 as
// QString::compare() compares them when it ignores case, each unit case
// folded, the second unit of a pair as part of its whole character. Names
// shown alike, by their bytes. Each key is made once per name, not once per
// comparison: every UTF-16 unit of the name so made as two bytes, high
// byte first, so that memcmp() gives that order. An ASCII name's key comes
// from its bytes; only other names are made into text for it. The keys lie
// back to back in one buffer, and the first eight units of each are also
// held as two integers next to it, so most comparisons touch neither the
// names nor the buffer.
class SortedNames {
 public:
  void Add(std::string_view bytes, bool ascii) {
    Item item;
    item.span = {bytes_.size(), bytes.size()};
    item.ascii = ascii;
    bytes_.append(bytes);
    if (ascii) {
      StartKey(&item, bytes.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        PutKeyUnit(&item, i, static_cast<unsigned char>(AsciiLower(bytes[i])));
      }
    } else {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
      const QString text = ShownName(bytes);
      StartKey(&item, static_cast<std::size_t>(text.size()));
      for (qsizetype i = 0; i < text.size(); ++i) {
        // Folding keeps a character in its block of 1024, so the folded
        // second unit orders a pair as its whole folded character does.
        const char16_t unit =
            i > 0 && text[i].isLowSurrogate() && text[i - 1].isHighSurrogate()
                ? QChar::lowSurrogate(QChar::toCaseFolded(
                      QChar::surrogateToUcs4(text[i - 1], text[i])))
                : static_cast<char16_t>(QChar::toCaseFolded(text[i].unicode()));
        PutKeyUnit(&item, static_cast<std::size_t>(i), unit);
      }
#else
      const QString lower = ShownName(bytes).toLower();
      StartKey(&item, static_cast<std::size_t>(lower.size()));
      for (qsizetype i = 0; i < lower.size(); ++i) {
        PutKeyUnit(&item, static_cast<std::size_t>(i), lower[i].unicode());
      }
#endif
    }
    items_.push_back(item);
  }

  // Names that differ only in case keep a fixed order.
  ListedFiles Take() {
    std::sort(items_.begin(), items_.end(),
              [this](const Item& x, const Item& y) { return Less(x, y); });
    ListedFiles listed;
    listed.spans.reserve(items_.size());
    for (const Item& item : items_) listed.spans.push_back(item.span);
    listed.bytes = std::move(bytes_);
    return listed;
  }

 private:
  static constexpr std::size_t kHeadBytes = 16;

  struct Item {
    std::uint64_t head[2] = {0, 0};
    std::size_t key_at = 0;
    std::size_t key_size = 0;
    ListedFiles::Span span;
    bool ascii = true;
  };

  // Makes room for a key of |units| UTF-16 units at the end of the buffer.
  void StartKey(Item* item, std::size_t units) {
    item->key_at = keys_.size();
    item->key_size = units * 2;
    keys_.resize(item->key_at + item->key_size);
  }

  // Puts |unit| as unit |i| of |item|'s key, and into its head. A name holds
  // no U+0000, so the zeros after a short name sort it before the longer
  // names it begins.
  void PutKeyUnit(Item* item, std::size_t i, char16_t unit) {
    char* key = keys_.data() + item->key_at + 2 * i;
    key[0] = static_cast<char>(unit >> 8);
    key[1] = static_cast<char>(unit & 0xFF);
    if (i < 8) item->head[i / 4] |= std::uint64_t{unit} << (48 - 16 * (i % 4));
  }

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
    // The same name but for case: by the text shown, then by the bytes.
    // Two ASCII names are ordered alike either way.
    if (!x.ascii || !y.ascii) {
      const QString x_text = ShownName(Bytes(x));
      const QString y_text = ShownName(Bytes(y));
      if (x_text != y_text) return x_text < y_text;
    }
    return Bytes(x) < Bytes(y);
  }

  std::string_view Bytes(const Item& item) const {
    return std::string_view(bytes_).substr(item.span.at, item.span.size);
  }

  // Every name's bytes back to back.
  std::string bytes_;
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

// Whether the entry |name| of the folder open as |dir|, whose readdir type
// is |type|, is a folder or a link to one, as QDir::Dirs has it. Only links,
// and entries whose type the file system does not tell, cost a stat().
bool ListedAsFolder(int dir, const char* name, unsigned char type) {
  struct stat info;
  return type == DT_DIR ||
         ((type == DT_LNK || type == DT_UNKNOWN) &&
          fstatat(dir, name, &info, 0) == 0 && S_ISDIR(info.st_mode));
}
#endif

// The system's text for |error|, an errno or a Windows error, without the
// full stop and line break that some systems end it with.
QString SystemReason(int error) {
  QString reason = qt_error_string(error).trimmed();
  if (reason.endsWith(u'.')) reason.chop(1);
  return reason;
}

}  // namespace

QString ShownName(std::string_view bytes) {
#if defined(Q_OS_LINUX)
  return QFile::decodeName(QByteArray::fromRawData(
      bytes.data(), static_cast<qsizetype>(bytes.size())));
#else
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
#endif
}

std::string SystemBytes(const QString& text) {
  const std::u16string_view units(
      reinterpret_cast<const char16_t*>(text.utf16()),
      static_cast<std::size_t>(text.size()));
#if defined(Q_OS_WIN)
  return PathBytes(units);
#else
  return BytesKeptInUnits(units);
#endif
}

QString FromSystemBytes(std::string_view bytes) {
#if defined(Q_OS_WIN)
  std::u16string units;
  if (!PathUnits(bytes, &units)) return ShownName(bytes);
#else
  const std::u16string units = UnitsKeepingBytes(bytes);
#endif
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

QString Shown(const QString& text) { return ShownName(SystemBytes(text)); }

QString ShownPath(const QString& path) {
  return Shown(QDir::toNativeSeparators(path));
}

bool IsFolder(const QString& path) {
#if defined(Q_OS_LINUX)
  struct stat info;
  return !path.isEmpty() && stat(SystemBytes(path).c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
#else
  return !path.isEmpty() && QFileInfo(path).isDir();
#endif
}

QString WorkingFolder() {
#if defined(Q_OS_LINUX)
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  if (!error) return FromSystemBytes(folder.native());
#endif
  return QDir::currentPath();
}

QStringList ListedFiles::AllShown() const {
  QStringList shown;
  shown.reserve(size());
  for (int i = 0; i < size(); ++i) shown.append(Shown(i));
  return shown;
}

ListedFiles ListMatchingFiles(const QString& folder, const QString& pattern) {
  if (folder.isEmpty()) return {};
  const NameFilter filter(pattern);
  SortedNames names;
#if defined(Q_OS_LINUX)
  // One pass of readdir: its entry types spare a stat() per file, which
  // QDir would make for each entry.
  DIR* dir = opendir(SystemBytes(folder).c_str());
  if (dir == nullptr) {
    ListedFiles none;
    none.unreadable = SystemReason(errno);
    return none;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    // Hidden files, "." and "..".
    if (entry->d_name[0] == '.') continue;
    // The bytes are kept to reach the file; the text is made when shown.
    const std::string_view name = entry->d_name;
    const bool ascii = IsAscii(name);
    if (!filter.Matches(name, ascii) ||
        !ListedAsFile(dirfd(dir), entry->d_name, entry->d_type)) {
      continue;
    }
    names.Add(name, ascii);
  }
  closedir(dir);
  ListedFiles listed = names.Take();
  if (error != 0) listed.unreadable = SystemReason(error);
  return listed;
#else
#if defined(Q_OS_WIN)
  // QDirIterator tells no failure: the first look says whether the folder
  // can be read at all. A drive root may hold no entry.
  WIN32_FIND_DATAW first;
  const std::wstring all = SystemPath(
      SystemBytes(QDir::toNativeSeparators(QDir(folder).filePath("*"))));
  const HANDLE probe = FindFirstFileExW(all.c_str(), FindExInfoBasic, &first,
                                        FindExSearchNameMatch, nullptr, 0);
  if (probe == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      ListedFiles none;
      none.unreadable = SystemReason(static_cast<int>(error));
      return none;
    }
  } else {
    FindClose(probe);
  }
#endif
  QDirIterator it(folder, QDir::Files);
  while (it.hasNext()) {
    it.next();
    const std::string name = SystemBytes(it.fileName());
    const bool ascii = IsAscii(name);
    if (filter.Matches(name, ascii)) names.Add(name, ascii);
  }
  return names.Take();
#endif
}

QStringList ListSubfolders(const QString& folder) {
#if defined(Q_OS_LINUX)
  // Read as bytes, so that a folder whose name is not UTF-8 can be opened.
  SortedNames found;
  if (DIR* dir = opendir(SystemBytes(folder).c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (ListedAsFolder(dirfd(dir), entry->d_name, entry->d_type)) {
        found.Add(name, IsAscii(name));
      }
    }
    closedir(dir);
  }
  const ListedFiles sorted = found.Take();
  QStringList names;
  names.reserve(sorted.size());
  for (int i = 0; i < sorted.size(); ++i) {
    names.append(FromSystemBytes(sorted.Name(i)));
  }
  return names;
#else
  QDir dir(folder);
  // Hidden folders too: a game's files often lie in one (AppData,
  // ProgramData, a Wine prefix).
  dir.setFilter(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  QStringList names = dir.entryList();
#if defined(Q_OS_WIN)
  // But not the system's own, which are hidden and marked as the system's,
  // as Windows itself leaves them out.
  constexpr DWORD kProtected = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  names.removeIf([&dir](const QString& name) {
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(
        QDir::toNativeSeparators(dir.filePath(name)).utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & kProtected) == kProtected;
  });
#endif
  return names;
#endif
}

}  // namespace olvesk

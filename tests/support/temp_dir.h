#ifndef OLVESK_TESTS_SUPPORT_TEMP_DIR_H_
#define OLVESK_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

namespace olvesk {

// A fresh folder under the system's temporary folder, or under |base|,
// removed with all it holds when the object goes.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of |name| inside the folder, as a UTF-8 string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Converts between UTF-8 strings, as the conversion code takes paths, and
// std::filesystem paths.
std::filesystem::path Utf8Path(const std::string& path);
std::string Utf8String(const std::filesystem::path& path);

// Writes |contents| to |path| as bytes, replacing what was there.
void WriteFile(const std::string& path, const std::string& contents);
// The bytes of the file at |path|, or "<missing>" when there is none.
std::string ReadFile(const std::string& path);

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_TEMP_DIR_H_

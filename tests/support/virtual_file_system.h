#ifndef OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_
#define OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_

#include <map>
#include <string>
#include <vector>

#include "series/file_system.h"

namespace olvesk {

// An in-memory file system. Files and folders live in |entries_|, keyed by
// path; every call that changes something is written to |log_|.
class VirtualFileSystem : public FileSystem {
 public:
  struct Entry {
    FileInfo::Kind kind = FileInfo::Kind::kRegular;
    std::string contents;
    std::uint64_t inode = 0;
  };

  // Creates or replaces the file at |path|.
  void Create(const std::string& path, const std::string& contents);
  void CreateDir(const std::string& path);
  // The contents of the file at |path|, or "<missing>".
  std::string Contents(const std::string& path) const;

  Status Stat(const std::string& path, FileInfo* info) override;
  Status Open(const std::string& path, OpenFile* file) override;
  Status Read(const OpenFile& file, std::uint64_t offset, char* data,
              std::size_t size, std::size_t* read) override;
  Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
               std::size_t size) override;
  Status Truncate(const OpenFile& file, std::uint64_t size) override;
  Status Sync(const OpenFile& file) override;
  Status Close(OpenFile* file) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status SyncDir(const std::string& dir) override;

  std::map<std::string, Entry> entries_;
  std::vector<std::string> log_;
  // Paths of the files open now, by handle.
  std::map<std::intptr_t, std::string> open_;

 private:
  Entry* FileOf(const OpenFile& file);

  std::intptr_t next_handle_ = 1;
  std::uint64_t next_inode_ = 1;
};

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_

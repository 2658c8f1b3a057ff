#ifndef OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_
#define OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "series/file_system.h"

namespace olvesk {

// An in-memory file system. Files and folders live in |entries_|, keyed by
// path; every call that changes something is written to |log_|. With
// |ignore_case_| set it finds names without regard to the letter case of
// ASCII and Latin-1, as a FAT or exFAT drive does.
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
  Status TryLock(const OpenFile& file, bool* locked) override;
  Status FindData(const OpenFile& file, std::uint64_t offset,
                  std::uint64_t* start, std::uint64_t* end) override;
  Status Read(const OpenFile& file, std::uint64_t offset, char* data,
              std::size_t size, std::size_t* read) override;
  Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
               std::size_t size) override;
  Status Truncate(const OpenFile& file, std::uint64_t size) override;
  Status Sync(const OpenFile& file) override;
  Status SyncFiles(const std::vector<const OpenFile*>& files) override;
  Status Close(OpenFile* file) override;
  Status Rename(OpenFile* file, const std::string& to) override;
  Status SyncDir(const std::string& dir) override;

  std::map<std::string, Entry> entries_;
  std::vector<std::string> log_;
  // The inodes of the files open now, by handle.
  std::map<std::intptr_t, std::uint64_t> open_;
  // Inodes locked by a handle of this file system, and those that another
  // process holds.
  std::map<std::uint64_t, std::intptr_t> locks_;
  std::set<std::uint64_t> locked_elsewhere_;
  bool ignore_case_ = false;

 private:
  std::map<std::string, Entry>::iterator Find(const std::string& path);
  Entry* FileOf(const OpenFile& file);

  std::intptr_t next_handle_ = 1;
  std::uint64_t next_inode_ = 1;
};

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_VIRTUAL_FILE_SYSTEM_H_

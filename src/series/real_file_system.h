#ifndef OLVESK_SERIES_REAL_FILE_SYSTEM_H_
#define OLVESK_SERIES_REAL_FILE_SYSTEM_H_

#include "series/file_system.h"

namespace olvesk {

// The operating system's file system: POSIX calls, or the wide-string Win32
// calls on Windows.
class RealFileSystem : public FileSystem {
 public:
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
  Status Close(OpenFile* file) override;
  Status Rename(OpenFile* file, const std::string& to) override;
  Status SyncDir(const std::string& dir) override;
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_REAL_FILE_SYSTEM_H_

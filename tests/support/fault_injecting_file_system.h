#ifndef OLVESK_TESTS_SUPPORT_FAULT_INJECTING_FILE_SYSTEM_H_
#define OLVESK_TESTS_SUPPORT_FAULT_INJECTING_FILE_SYSTEM_H_

#include <string>
#include <vector>

#include "series/file_system.h"

namespace olvesk {

// Counts every call and fails the |fail_at_|-th one (counting from 1) without
// passing it on: only that call in kOnce mode, that one and every later one
// in kAlways mode. A failed call has no effect on the wrapped file system.
class FaultInjectingFileSystem : public FileSystemWrapper {
 public:
  enum class Mode { kOnce, kAlways };

  explicit FaultInjectingFileSystem(FileSystem& target)
      : FileSystemWrapper(target) {}

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

  int fail_at_ = 0;  // 0: never fail
  Mode mode_ = Mode::kOnce;
  int calls_ = 0;
  int failures_ = 0;
  // "<op> <path>" of every call, failed ones marked with a leading "!".
  std::vector<std::string> calls_log_;

 private:
  // Counts the call; true when it is to fail.
  bool Fails(const char* op, const std::string& path);
};

}  // namespace olvesk

#endif  // OLVESK_TESTS_SUPPORT_FAULT_INJECTING_FILE_SYSTEM_H_

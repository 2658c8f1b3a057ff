#ifndef OLVESK_SERIES_REAL_FILE_SYSTEM_H_
#define OLVESK_SERIES_REAL_FILE_SYSTEM_H_

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "series/file_system.h"

namespace olvesk {

// The operating system's file system: POSIX calls, or the wide-string Win32
// calls on Windows.
class RealFileSystem : public FileSystem {
 public:
  // How SyncFiles() makes many files durable at once.
  enum class BatchSync {
    // Linux: one syncfs() of the files' file system. It writes out what
    // every program has left unwritten on that file system, so it is quick
    // only while that is little.
    kFileSystem,
    // fdatasync(), or FlushFileBuffers() on Windows, of the files from a few
    // threads at once: the system joins their flushes, and writes out
    // nothing of other programs'.
    kParallel,
    // kFileSystem while the system holds little unwritten data besides the
    // batch's, kParallel otherwise; kParallel where there is no syncfs(),
    // where it does not report a failed write (Linux before 5.8), and on
    // file systems whose syncfs() does not flush the drive.
    kAdaptive,
  };
  // The way chosen, from the benchmark's figures.
  static constexpr BatchSync kDefaultBatchSync = BatchSync::kAdaptive;

  explicit RealFileSystem(BatchSync batch_sync = kDefaultBatchSync)
      : batch_sync_(batch_sync) {}

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
  // Works on a thread of its own, or at once where no thread can be had.
  std::future<void> StartSyncFiles(
      std::vector<const OpenFile*> files,
      std::function<void(const Status&)> then) override;
  // On POSIX systems, raises the process's own soft limit on open files
  // towards its hard limit where it is lower, then offers half of what is
  // left above a reserve for the rest of the program.
  std::size_t OpenFileBudget() override;
  Status Close(OpenFile* file) override;
  Status Rename(OpenFile* file, const std::string& to) override;
  Status SyncDir(const std::string& dir) override;

 private:
#if !defined(_WIN32)
  // A descriptor of the folder at |path|, opened now or shared with the
  // files already open in it; -1, with errno set, when it cannot be opened.
  // Each open file holds its folder so that it is renamed in the folder it
  // was opened in, whatever that folder's path names by then.
  int HoldFolder(const std::string& path);
  // Lets go of a folder held by HoldFolder(), closing it with its last file.
  void ReleaseFolder(int descriptor);

  struct HeldFolder {
    std::string path;
    int descriptor;
    int files;  // open files that hold it
  };
  std::mutex folders_mutex_;  // renames run on threads of their own
  std::vector<HeldFolder> folders_;
#endif
  const BatchSync batch_sync_;
};

#if defined(__linux__)
// Whether the Linux kernel of |release|, as uname() gives it ("6.1.0-13-
// amd64"), reports through syncfs() a failed write of a file's data, as it
// does from 5.8 on. Before, syncfs() succeeded whatever was lost.
bool SyncfsReportsWriteErrors(std::string_view release);

// Whether syncfs() on a file system of |file_system_type| (statfs's f_type)
// puts its files' data on stable storage, as fdatasync() of each would. A
// FUSE driver (ntfs-3g, exfat-fuse, sshfs) is never asked to sync; FAT
// writes its blocks but never flushes the drive's cache; network file
// systems vary. Only the common local journalling file systems qualify.
bool SyncfsFlushesTheDisk(unsigned long file_system_type);
#endif

#if defined(_WIN32)
// |path| in the UTF-16 form that the wide Win32 calls take, in the "\\?\"
// form where it is absolute; empty where |path| is not valid UTF-8.
std::wstring SystemPath(const std::string& path);
#endif

// Runs |sync| on each of |files| from up to |threads| threads at once and
// returns the first failure. Shared by the systems' SyncFiles().
Status SyncInParallel(const std::vector<const OpenFile*>& files, int threads,
                      Status (*sync)(const OpenFile&));

}  // namespace olvesk

#endif  // OLVESK_SERIES_REAL_FILE_SYSTEM_H_

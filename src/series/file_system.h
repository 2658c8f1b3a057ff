#ifndef OLVESK_SERIES_FILE_SYSTEM_H_
#define OLVESK_SERIES_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "series/status.h"

namespace olvesk {

// What Stat() found at a path.
struct FileInfo {
  enum class Kind { kMissing, kRegular, kDirectory, kSymlink, kOther };
  Kind kind = Kind::kMissing;
  // Together these name the file itself, whatever link it was reached by.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  // How many names (hard links) the file has, where the system counts them.
  std::uint64_t links = 1;
  // When the file's data last changed, in the system's own units, to be
  // compared only; 0 where the system does not say.
  std::int64_t modified = 0;
};

// A file opened by FileSystem::Open(). It remembers its path so that every
// failure on it can name the file, and what the open file itself is.
struct OpenFile {
  std::string path;
  std::intptr_t native = -1;  // a descriptor or a HANDLE, as the system has it
  // Where the system renames names, the folder it was opened in, held so
  // that it is renamed there whatever its folder's path names by then.
  std::intptr_t folder = -1;
  FileInfo info;  // of the open file, read when it was opened
};

// The largest offset there is: no end known.
inline constexpr std::uint64_t kNoEnd = ~std::uint64_t{0};

// What FileSystem::OpenFileBudget() says where it sets no bound.
inline constexpr std::size_t kNoOpenFileBound = ~std::size_t{0};

// The few file-system calls a conversion needs. Paths are UTF-8. Every call
// reports failure through its Status and never throws.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Describes |path| itself; a symbolic link is reported as kSymlink, not
  // followed. A path that does not exist is not an error: it yields kMissing.
  virtual Status Stat(const std::string& path, FileInfo* info) = 0;

  // Opens the existing regular file at |path| for binary reading and writing
  // and fills |file->info| from the open file itself. Never creates a file,
  // never follows a symbolic link at |path| and never waits: a FIFO or a
  // device is refused, judged by what was opened rather than by an earlier
  // look at the name.
  virtual Status Open(const std::string& path, OpenFile* file) = 0;

  // Takes this process's exclusive conversion lock on |file| without
  // waiting: |*locked| is false when another process holds it. Other
  // programs can still read and write the file; the lock only keeps two
  // conversions apart. It is the system's own lock, released by Close() or
  // when the process ends however it ends, and leaves no file behind.
  virtual Status TryLock(const OpenFile& file, bool* locked) = 0;

  // Where |file| holds data at or after |offset|: |*start| is the first
  // offset from |offset| on that may hold data and |*end| the end of that
  // stretch. Bytes in between, holes of a sparse file, read as zeros. With
  // no data after |offset|, |*start| == |*end|. Where the system cannot
  // tell, |*start| is |offset| and |*end| is kNoEnd.
  virtual Status FindData(const OpenFile& file, std::uint64_t offset,
                          std::uint64_t* start, std::uint64_t* end) = 0;

  // Reads up to |size| bytes at |offset| into |data| and sets |*read| to the
  // count; fewer than |size| bytes only at the end of the file.
  virtual Status Read(const OpenFile& file, std::uint64_t offset, char* data,
                      std::size_t size, std::size_t* read) = 0;

  // Writes all |size| bytes at |offset|, growing the file if needed.
  virtual Status Write(const OpenFile& file, std::uint64_t offset,
                       const char* data, std::size_t size) = 0;

  // Cuts the file, or grows it with zeros, to |size| bytes.
  virtual Status Truncate(const OpenFile& file, std::uint64_t size) = 0;

  // Returns once the file's data is on stable storage.
  virtual Status Sync(const OpenFile& file) = 0;

  // Returns once the data of every file of |files| is on stable storage, in
  // one step where the system has a cheaper way than one Sync() per file.
  // On failure none of them may be taken as durable. This default syncs
  // each in turn and stops at the first failure.
  virtual Status SyncFiles(const std::vector<const OpenFile*>& files) {
    for (const OpenFile* file : files) {
      const Status status = Sync(*file);
      if (!status.ok()) return status;
    }
    return Status();
  }

  // Makes |files| durable as SyncFiles() does, then calls |then| with its
  // status; the future is ready once |then| has returned. Where the system
  // can, both run on a thread of their own and this returns at once, so the
  // caller can go on with other files meanwhile: |then| may then call this
  // file system while the caller does too. Until the future is ready the
  // caller leaves |files| alone. This default does both before it returns.
  virtual std::future<void> StartSyncFiles(
      std::vector<const OpenFile*> files,
      std::function<void(const Status&)> then) {
    then(SyncFiles(files));
    std::promise<void> done;
    done.set_value();
    return done.get_future();
  }

  // How many files a caller may hold open at once, leaving the rest of the
  // program room for its own. At least 1. This default sets no bound of its
  // own.
  virtual std::size_t OpenFileBudget() { return kNoOpenFileBound; }

  // Closes |file|. The file is released even when an error is reported.
  virtual Status Close(OpenFile* file) = 0;

  // Renames the open |file|, which lies at |file->path|, to |to| in one
  // atomic step; a file already at |to| is replaced in that same step. Both
  // paths lie in the same folder. Where the system can, the open file itself
  // is renamed, whatever name it has now; elsewhere the name |file->path| is,
  // so the caller checks that it still names the open file just before. On
  // success |file->path| becomes |to|. The file stays open either way.
  virtual Status Rename(OpenFile* file, const std::string& to) = 0;

  // Returns once the entries of folder |dir| (a rename in it) are on stable
  // storage. Succeeds without doing anything where the system has no need.
  virtual Status SyncDir(const std::string& dir) = 0;
};

// Forwards every call to another file system. Test doubles derive from it and
// override only the call they break. StartSyncFiles() alone keeps the
// default, which works at once through this wrapper's own calls: a double
// that breaks SyncFiles() breaks the batch sync too, and a double sees its
// calls one at a time, in the order they are made.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}

  FileSystem& target() const { return target_; }

  Status Stat(const std::string& path, FileInfo* info) override {
    return target_.Stat(path, info);
  }
  Status Open(const std::string& path, OpenFile* file) override {
    return target_.Open(path, file);
  }
  Status TryLock(const OpenFile& file, bool* locked) override {
    return target_.TryLock(file, locked);
  }
  Status FindData(const OpenFile& file, std::uint64_t offset,
                  std::uint64_t* start, std::uint64_t* end) override {
    return target_.FindData(file, offset, start, end);
  }
  Status Read(const OpenFile& file, std::uint64_t offset, char* data,
              std::size_t size, std::size_t* read) override {
    return target_.Read(file, offset, data, size, read);
  }
  Status Write(const OpenFile& file, std::uint64_t offset, const char* data,
               std::size_t size) override {
    return target_.Write(file, offset, data, size);
  }
  Status Truncate(const OpenFile& file, std::uint64_t size) override {
    return target_.Truncate(file, size);
  }
  Status Sync(const OpenFile& file) override { return target_.Sync(file); }
  Status SyncFiles(const std::vector<const OpenFile*>& files) override {
    return target_.SyncFiles(files);
  }
  std::size_t OpenFileBudget() override { return target_.OpenFileBudget(); }
  Status Close(OpenFile* file) override { return target_.Close(file); }
  Status Rename(OpenFile* file, const std::string& to) override {
    return target_.Rename(file, to);
  }
  Status SyncDir(const std::string& dir) override {
    return target_.SyncDir(dir);
  }

 private:
  FileSystem& target_;
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_FILE_SYSTEM_H_

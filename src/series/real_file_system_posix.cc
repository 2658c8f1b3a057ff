#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "series/real_file_system.h"

namespace olvesk {
namespace {

// Every offset goes to the system as an off_t.
static_assert(sizeof(off_t) >= sizeof(std::int64_t),
              "build with _FILE_OFFSET_BITS=64");

// The one place an errno becomes a Status. The system's text for
// ENAMETOOLONG speaks of a file name, but it is as often the whole path;
// EWOULDBLOCK comes from a non-blocking open of a file that another program
// holds a lease on (a file server sharing the folder, say), which that
// program is now asked to give up.
Status PosixError(const char* op, const std::string& path, int error) {
  if (error == EWOULDBLOCK) {
    return Status::Error(op, path,
                         "another program (a file server, perhaps) holds it "
                         "for now; convert it again in a moment");
  }
  if (error == ENAMETOOLONG) {
    return Status::Error(op, path,
                         "the path is too long for the system (" +
                             std::to_string(path.size()) + " bytes)");
  }
  return Status::Error(op, path, std::strerror(error));
}

int Descriptor(const OpenFile& file) { return static_cast<int>(file.native); }
int FolderDescriptor(const OpenFile& file) {
  return static_cast<int>(file.folder);
}

// The name of |path| within its folder, and the folder: "." for a bare name.
std::string NameIn(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileInfo::Kind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileInfo::Kind::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = FileInfo::Kind::kSymlink;
  } else {
    info.kind = FileInfo::Kind::kOther;
  }
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.links = static_cast<std::uint64_t>(st.st_nlink);
  info.modified =
      std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return info;
}

// The short name that Windows gives a file whose own name is not one
// (MUSTAN~1.CAR for mustang.gns.car), as ntfs-3g shows it. ntfs-3g counts
// it as a link of its own, so nearly every file Windows made shows two
// links though it has one name a program can use, and a rename leaves the
// short name behind.
#if defined(__linux__)
constexpr char kNtfsDosName[] = "system.ntfs_dos_name";
#endif

// Leaves a DOS short name out of |info->links|. |fd| is the open file, or
// -1 to look at |path| itself.
void DiscountDosName(int fd, const std::string& path, FileInfo* info) {
#if defined(__linux__)
  if (info->kind != FileInfo::Kind::kRegular || info->links < 2) return;
  const ssize_t size = fd >= 0
                           ? fgetxattr(fd, kNtfsDosName, nullptr, 0)
                           : lgetxattr(path.c_str(), kNtfsDosName, nullptr, 0);
  if (size > 0) --info->links;
#else
  (void)fd;
  (void)path;
  (void)info;
#endif
}

}  // namespace

Status RealFileSystem::Stat(const std::string& path, FileInfo* info) {
  struct stat st;
  *info = FileInfo();
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status();
    return PosixError("stat", path, errno);
  }
  *info = InfoOf(st);
  DiscountDosName(-1, path, info);
  return Status();
}

int RealFileSystem::HoldFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(folders_mutex_);
  for (HeldFolder& held : folders_) {
    if (held.path == path) {
      ++held.files;
      return held.descriptor;
    }
  }
  const int descriptor = open(path.c_str(), kFolderFlags);
  if (descriptor >= 0) folders_.push_back({path, descriptor, 1});
  return descriptor;
}

void RealFileSystem::ReleaseFolder(int descriptor) {
  std::lock_guard<std::mutex> lock(folders_mutex_);
  const auto held = std::find_if(
      folders_.begin(), folders_.end(),
      [&](const HeldFolder& h) { return h.descriptor == descriptor; });
  if (held == folders_.end() || --held->files > 0) return;
  close(held->descriptor);
  folders_.erase(held);
}

Status RealFileSystem::Open(const std::string& path, OpenFile* file) {
  // The file is opened in its folder, and later renamed in that same
  // folder, never in another that its folder's path (a link re-pointed, a
  // folder swapped for another) has come to name meanwhile.
  const int folder = HoldFolder(FolderOf(path));
  if (folder < 0) return PosixError("open", path, errno);
  const std::string name = NameIn(path);
  // O_NONBLOCK: a FIFO put in the file's place opens at once instead of
  // waiting for a writer; it is refused below. On a regular file the flag
  // changes nothing.
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
#if defined(O_NOATIME)
  // Reading for the marker need not stamp the file as read, which costs a
  // write of its own; only the owner may ask for that.
  int fd = openat(folder, name.c_str(), kFlags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = openat(folder, name.c_str(), kFlags);
#else
  const int fd = openat(folder, name.c_str(), kFlags);
#endif
  if (fd < 0) {
    const int error = errno;
    ReleaseFolder(folder);
    return PosixError("open", path, error);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int error = errno;
    close(fd);
    ReleaseFolder(folder);
    return PosixError("open", path, error);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    ReleaseFolder(folder);
    return Status::Error("open", path, "it is not a plain file");
  }
  file->path = path;
  file->native = fd;
  file->folder = folder;
  file->info = InfoOf(st);
  DiscountDosName(fd, path, &file->info);
  return Status();
}

Status RealFileSystem::TryLock(const OpenFile& file, bool* locked) {
  *locked = false;
  while (flock(Descriptor(file), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return Status();
    return PosixError("lock", file.path, errno);
  }
  *locked = true;
  return Status();
}

Status RealFileSystem::FindData(const OpenFile& file, std::uint64_t offset,
                                std::uint64_t* start, std::uint64_t* end) {
  *start = offset;
  *end = kNoEnd;
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  const int fd = Descriptor(file);
  const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) {
    // ENXIO: nothing but a hole, or nothing at all, from |offset| on.
    if (errno == ENXIO) {
      *end = offset;
      return Status();
    }
    // The file system cannot tell: all of the file may hold data.
    if (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP) {
      return Status();
    }
    return PosixError("seek", file.path, errno);
  }
  const off_t hole = lseek(fd, data, SEEK_HOLE);
  if (hole < 0) return PosixError("seek", file.path, errno);
  *start = static_cast<std::uint64_t>(data);
  *end = static_cast<std::uint64_t>(hole);
#else
  (void)file;
#endif
  return Status();
}

Status RealFileSystem::Read(const OpenFile& file, std::uint64_t offset,
                            char* data, std::size_t size, std::size_t* read) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(Descriptor(file), data + done, size - done,
                              static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      *read = done;
      return PosixError("read", file.path, errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  *read = done;
  return Status();
}

Status RealFileSystem::Write(const OpenFile& file, std::uint64_t offset,
                             const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = pwrite(Descriptor(file), data + done, size - done,
                               static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return PosixError("write", file.path, errno);
    }
    // A driver that takes nothing would keep this loop going for ever.
    if (put == 0) {
      return Status::Error("write", file.path, "nothing could be written");
    }
    done += static_cast<std::size_t>(put);
  }
  return Status();
}

Status RealFileSystem::Truncate(const OpenFile& file, std::uint64_t size) {
  if (ftruncate(Descriptor(file), static_cast<off_t>(size)) != 0) {
    return PosixError("truncate", file.path, errno);
  }
  return Status();
}

namespace {

// The threads that sync a batch at once: enough to keep a disk's queue
// full, few enough to start quickly.
constexpr int kSyncThreads = 16;

// Descriptors kept free for the rest of the program: the window's own
// files, its connection to the display, the folder watcher.
constexpr rlim_t kReservedDescriptors = 64;

Status DataSync(const OpenFile& file) {
  if (fdatasync(Descriptor(file)) != 0) {
    return PosixError("sync", file.path, errno);
  }
  return Status();
}

}  // namespace

Status RealFileSystem::Sync(const OpenFile& file) { return DataSync(file); }

#if defined(__linux__)
bool SyncfsReportsWriteErrors(std::string_view release) {
  int major = 0;
  int minor = 0;
  const char* const end = release.data() + release.size();
  auto [dot, error] = std::from_chars(release.data(), end, major);
  if (error != std::errc() || dot == end || *dot != '.') return false;
  if (std::from_chars(dot + 1, end, minor).ec != std::errc()) return false;
  return major > 5 || (major == 5 && minor >= 8);
}

bool SyncfsFlushesTheDisk(unsigned long file_system_type) {
  switch (file_system_type) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

namespace {

// Whether this machine's kernel reports a failed write through syncfs().
bool KernelSyncfsReportsWriteErrors() {
  static const bool reports = [] {
    utsname name;
    return uname(&name) == 0 && SyncfsReportsWriteErrors(name.release);
  }();
  return reports;
}

// The data the system holds unwritten, from /proc/meminfo, or -1.
long long DirtyBytes() {
  const int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[4096];
  const ssize_t got = read(fd, text, sizeof(text) - 1);
  close(fd);
  if (got <= 0) return -1;
  text[got] = '\0';
  const char* line = std::strstr(text, "\nDirty:");
  if (line == nullptr) return -1;
  return std::strtoll(line + 7, nullptr, 10) * 1024;
}

// How much unwritten data of others a syncfs() may take along for a batch:
// about what writing the batch's own pages costs.
constexpr long long kDirtyAllowance = 32ll << 20;

}  // namespace
#endif

Status RealFileSystem::SyncFiles(const std::vector<const OpenFile*>& files) {
  if (files.size() == 1) return Sync(*files.front());
#if defined(__linux__)
  bool whole_file_system = batch_sync_ == BatchSync::kFileSystem;
  if (batch_sync_ == BatchSync::kAdaptive && KernelSyncfsReportsWriteErrors()) {
    // Each file of the batch has a page or two of its own unwritten.
    const long long own = static_cast<long long>(files.size()) * 8192;
    const long long dirty = DirtyBytes();
    whole_file_system = dirty >= 0 && dirty <= own + kDirtyAllowance;
  }
  // The files of a batch lie in one folder, so mostly on one file system;
  // a file mounted over one of them is not, and syncfs() would miss it.
  whole_file_system =
      whole_file_system && !files.empty() &&
      std::all_of(files.begin(), files.end(), [&](const OpenFile* file) {
        return file->info.device == files.front()->info.device;
      });
  if (whole_file_system && batch_sync_ == BatchSync::kAdaptive) {
    struct statfs on;
    whole_file_system =
        fstatfs(Descriptor(*files.front()), &on) == 0 &&
        SyncfsFlushesTheDisk(static_cast<unsigned long>(on.f_type));
  }
  // A failed syncfs() may be another program's lost write; each file's own
  // sync then says which of the batch's files, if any, were hit.
  if (whole_file_system && syncfs(Descriptor(*files.front())) == 0) {
    return Status();
  }
#endif
  return SyncInParallel(files, kSyncThreads, DataSync);
}

std::size_t RealFileSystem::OpenFileBudget() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
  if (limit.rlim_cur != RLIM_INFINITY &&
      (limit.rlim_max == RLIM_INFINITY || limit.rlim_cur < limit.rlim_max)) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY
                          ? std::max<rlim_t>(limit.rlim_cur, 65536)
                          : limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return kNoOpenFileBound;
  if (limit.rlim_cur < kReservedDescriptors + 4) return 1;
  return static_cast<std::size_t>((limit.rlim_cur - kReservedDescriptors) / 2);
}

Status RealFileSystem::Close(OpenFile* file) {
  const int fd = Descriptor(*file);
  file->native = -1;
  if (file->folder >= 0) ReleaseFolder(FolderDescriptor(*file));
  file->folder = -1;
  // After close() fails the descriptor is gone all the same; retrying could
  // close a descriptor that another open() has since been given.
  if (close(fd) != 0 && errno != EINTR) {
    return PosixError("close", file->path, errno);
  }
  return Status();
}

Status RealFileSystem::Rename(OpenFile* file, const std::string& to) {
  // POSIX renames names, not open files: the caller has just checked that
  // file->path still names this one. Both names are taken in the folder
  // the file was opened in.
  const int folder = FolderDescriptor(*file);
  if (renameat(folder, NameIn(file->path).c_str(), folder,
               NameIn(to).c_str()) != 0) {
    return PosixError("rename", file->path, errno);
  }
  file->path = to;
  return Status();
}

Status RealFileSystem::SyncDir(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PosixError("open", dir, errno);
  Status status;
  // Some file systems do not sync folders and say so: the renames then rest
  // on the system's own writing back, as they must.
  if (fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
    status = PosixError("sync", dir, errno);
  }
  close(fd);
  return status;
}

}  // namespace olvesk

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "series/real_file_system.h"

namespace olvesk {
namespace {

// The one place an errno becomes a Status.
Status PosixError(const char* op, const std::string& path, int error) {
  return Status::Error(op, path, std::strerror(error));
}

int Descriptor(const OpenFile& file) { return static_cast<int>(file.native); }

}  // namespace

Status RealFileSystem::Stat(const std::string& path, FileInfo* info) {
  struct stat st;
  *info = FileInfo();
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status();
    return PosixError("stat", path, errno);
  }
  if (S_ISREG(st.st_mode)) {
    info->kind = FileInfo::Kind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info->kind = FileInfo::Kind::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info->kind = FileInfo::Kind::kSymlink;
  } else {
    info->kind = FileInfo::Kind::kOther;
  }
  info->device = st.st_dev;
  info->inode = st.st_ino;
  info->size = static_cast<std::uint64_t>(st.st_size);
  info->links = static_cast<std::uint64_t>(st.st_nlink);
  return Status();
}

Status RealFileSystem::Open(const std::string& path, OpenFile* file) {
  const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return PosixError("open", path, errno);
  file->path = path;
  file->native = fd;
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

Status RealFileSystem::Sync(const OpenFile& file) {
#if defined(__APPLE__)
  const int result = fsync(Descriptor(file));
#else
  const int result = fdatasync(Descriptor(file));
#endif
  if (result != 0) return PosixError("sync", file.path, errno);
  return Status();
}

Status RealFileSystem::Close(OpenFile* file) {
  const int fd = Descriptor(*file);
  file->native = -1;
  // After close() fails the descriptor is gone all the same; retrying could
  // close a descriptor that another open() has since been given.
  if (close(fd) != 0 && errno != EINTR) {
    return PosixError("close", file->path, errno);
  }
  return Status();
}

Status RealFileSystem::Rename(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    return PosixError("rename", from, errno);
  }
  return Status();
}

Status RealFileSystem::SyncDir(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PosixError("open", dir, errno);
  Status status;
  if (fsync(fd) != 0) status = PosixError("sync", dir, errno);
  close(fd);
  return status;
}

}  // namespace olvesk

#include "support/fault_injecting_file_system.h"

namespace olvesk {
namespace {

Status Injected(const char* op, const std::string& path) {
  return Status::Error(op, path, "injected fault");
}

}  // namespace

bool FaultInjectingFileSystem::Fails(const char* op, const std::string& path) {
  ++calls_;
  const bool fail = fail_at_ > 0 && (mode_ == Mode::kOnce ? calls_ == fail_at_
                                                          : calls_ >= fail_at_);
  if (fail) ++failures_;
  std::string entry = fail ? "!" : "";
  entry.append(op).append(" ").append(path);
  calls_log_.push_back(std::move(entry));
  return fail;
}

Status FaultInjectingFileSystem::Stat(const std::string& path, FileInfo* info) {
  if (Fails("stat", path)) return Injected("stat", path);
  return FileSystemWrapper::Stat(path, info);
}

Status FaultInjectingFileSystem::Open(const std::string& path, OpenFile* file) {
  if (Fails("open", path)) return Injected("open", path);
  return FileSystemWrapper::Open(path, file);
}

Status FaultInjectingFileSystem::TryLock(const OpenFile& file, bool* locked) {
  if (Fails("lock", file.path)) return Injected("lock", file.path);
  return FileSystemWrapper::TryLock(file, locked);
}

Status FaultInjectingFileSystem::FindData(const OpenFile& file,
                                          std::uint64_t offset,
                                          std::uint64_t* start,
                                          std::uint64_t* end) {
  if (Fails("finddata", file.path)) return Injected("finddata", file.path);
  return FileSystemWrapper::FindData(file, offset, start, end);
}

Status FaultInjectingFileSystem::Read(const OpenFile& file,
                                      std::uint64_t offset, char* data,
                                      std::size_t size, std::size_t* read) {
  if (Fails("read", file.path)) return Injected("read", file.path);
  return FileSystemWrapper::Read(file, offset, data, size, read);
}

Status FaultInjectingFileSystem::Write(const OpenFile& file,
                                       std::uint64_t offset, const char* data,
                                       std::size_t size) {
  if (Fails("write", file.path)) return Injected("write", file.path);
  return FileSystemWrapper::Write(file, offset, data, size);
}

Status FaultInjectingFileSystem::Truncate(const OpenFile& file,
                                          std::uint64_t size) {
  if (Fails("truncate", file.path)) return Injected("truncate", file.path);
  return FileSystemWrapper::Truncate(file, size);
}

Status FaultInjectingFileSystem::Sync(const OpenFile& file) {
  if (Fails("sync", file.path)) return Injected("sync", file.path);
  return FileSystemWrapper::Sync(file);
}

// One call for the whole batch, named by its first file.
Status FaultInjectingFileSystem::SyncFiles(
    const std::vector<const OpenFile*>& files) {
  const std::string path = files.empty() ? "" : files.front()->path;
  if (Fails("syncfiles", path)) return Injected("syncfiles", path);
  return FileSystemWrapper::SyncFiles(files);
}

Status FaultInjectingFileSystem::Close(OpenFile* file) {
  if (Fails("close", file->path)) {
    // A failed close still releases the file, as the contract says.
    FileSystemWrapper::Close(file);
    return Injected("close", file->path);
  }
  return FileSystemWrapper::Close(file);
}

Status FaultInjectingFileSystem::Rename(OpenFile* file, const std::string& to) {
  if (Fails("rename", file->path)) return Injected("rename", file->path);
  return FileSystemWrapper::Rename(file, to);
}

Status FaultInjectingFileSystem::SyncDir(const std::string& dir) {
  if (Fails("syncdir", dir)) return Injected("syncdir", dir);
  return FileSystemWrapper::SyncDir(dir);
}

}  // namespace olvesk

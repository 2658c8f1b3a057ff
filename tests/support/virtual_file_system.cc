#include "support/virtual_file_system.h"

#include <algorithm>
#include <cstring>

namespace olvesk {

void VirtualFileSystem::Create(const std::string& path,
                               const std::string& contents) {
  entries_[path] = Entry{FileInfo::Kind::kRegular, contents, next_inode_++};
}

void VirtualFileSystem::CreateDir(const std::string& path) {
  entries_[path] = Entry{FileInfo::Kind::kDirectory, "", next_inode_++};
}

std::string VirtualFileSystem::Contents(const std::string& path) const {
  const auto it = entries_.find(path);
  return it == entries_.end() ? "<missing>" : it->second.contents;
}

std::map<std::string, VirtualFileSystem::Entry>::iterator
VirtualFileSystem::Find(const std::string& path) {
  if (!ignore_case_) return entries_.find(path);
  const auto lower = [](std::string text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      char& c = text[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      // The capitals of Latin-1, U+00C0 to U+00DE but for U+00D7.
      const unsigned char next = i + 1 < text.size() ? text[i + 1] : 0;
      if (c == '\xc3' && next >= 0x80 && next <= 0x9e && next != 0x97) {
        text[++i] = static_cast<char>(next + 0x20);
      }
    }
    return text;
  };
  const std::string key = lower(path);
  return std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) {
    return lower(entry.first) == key;
  });
}

// An open file follows its inode, wherever renames take it; a file removed
// or replaced meanwhile leaves its handles with nothing.
VirtualFileSystem::Entry* VirtualFileSystem::FileOf(const OpenFile& file) {
  const auto handle = open_.find(file.native);
  if (handle == open_.end()) return nullptr;
  for (auto& [path, entry] : entries_) {
    if (entry.inode == handle->second) return &entry;
  }
  return nullptr;
}

Status VirtualFileSystem::Stat(const std::string& path, FileInfo* info) {
  *info = FileInfo();
  const auto it = Find(path);
  if (it == entries_.end()) return Status();
  info->kind = it->second.kind;
  info->inode = it->second.inode;
  info->size = it->second.contents.size();
  return Status();
}

Status VirtualFileSystem::Open(const std::string& path, OpenFile* file) {
  const auto it = Find(path);
  if (it == entries_.end()) return Status::Error("open", path, "no such file");
  if (it->second.kind != FileInfo::Kind::kRegular) {
    return Status::Error("open", path, "not a plain file");
  }
  file->path = path;
  file->native = next_handle_++;
  Stat(path, &file->info);
  open_[file->native] = it->second.inode;
  log_.push_back("open " + path);
  return Status();
}

Status VirtualFileSystem::TryLock(const OpenFile& file, bool* locked) {
  const auto handle = open_.find(file.native);
  if (handle == open_.end())
    return Status::Error("lock", file.path, "bad handle");
  const std::uint64_t inode = handle->second;
  const auto holder = locks_.find(inode);
  *locked = locked_elsewhere_.count(inode) == 0 &&
            (holder == locks_.end() || holder->second == file.native);
  if (*locked) locks_[inode] = file.native;
  return Status();
}

Status VirtualFileSystem::FindData(const OpenFile& file, std::uint64_t offset,
                                   std::uint64_t* start, std::uint64_t* end) {
  if (!FileOf(file)) return Status::Error("finddata", file.path, "bad handle");
  *start = offset;
  *end = kNoEnd;
  return Status();
}

Status VirtualFileSystem::Read(const OpenFile& file, std::uint64_t offset,
                               char* data, std::size_t size,
                               std::size_t* read) {
  const Entry* entry = FileOf(file);
  if (!entry) return Status::Error("read", file.path, "bad handle");
  const std::string& contents = entry->contents;
  *read = offset >= contents.size()
              ? 0
              : std::min<std::size_t>(size, contents.size() - offset);
  if (*read > 0) std::memcpy(data, contents.data() + offset, *read);
  return Status();
}

Status VirtualFileSystem::Write(const OpenFile& file, std::uint64_t offset,
                                const char* data, std::size_t size) {
  Entry* entry = FileOf(file);
  if (!entry) return Status::Error("write", file.path, "bad handle");
  std::string& contents = entry->contents;
  if (contents.size() < offset + size) contents.resize(offset + size, '\0');
  contents.replace(offset, size, data, size);
  log_.push_back("write " + file.path + " @" + std::to_string(offset) + " " +
                 std::string(data, size));
  return Status();
}

Status VirtualFileSystem::Truncate(const OpenFile& file, std::uint64_t size) {
  Entry* entry = FileOf(file);
  if (!entry) return Status::Error("truncate", file.path, "bad handle");
  entry->contents.resize(size, '\0');
  log_.push_back("truncate " + file.path + " " + std::to_string(size));
  return Status();
}

Status VirtualFileSystem::Sync(const OpenFile& file) {
  if (!FileOf(file)) return Status::Error("sync", file.path, "bad handle");
  log_.push_back("sync " + file.path);
  return Status();
}

Status VirtualFileSystem::SyncFiles(const std::vector<const OpenFile*>& files) {
  std::string entry = "syncfiles";
  for (const OpenFile* file : files) {
    if (!FileOf(*file)) return Status::Error("sync", file->path, "bad handle");
    entry += " " + file->path;
  }
  log_.push_back(entry);
  return Status();
}

Status VirtualFileSystem::Close(OpenFile* file) {
  std::erase_if(locks_,
                [&](const auto& lock) { return lock.second == file->native; });
  const bool known = open_.erase(file->native) > 0;
  file->native = -1;
  if (!known) return Status::Error("close", file->path, "bad handle");
  log_.push_back("close " + file->path);
  return Status();
}

Status VirtualFileSystem::Rename(OpenFile* file, const std::string& to) {
  const std::string from = file->path;
  const auto source = Find(from);
  if (source == entries_.end()) {
    return Status::Error("rename", from, "no such file");
  }
  const auto target = Find(to);
  if (target != entries_.end() &&
      target->second.kind == FileInfo::Kind::kDirectory) {
    return Status::Error("rename", from, "is a directory");
  }
  const bool replaces = target != entries_.end() && target != source;
  Entry moved = source->second;
  entries_.erase(source);
  if (replaces) entries_.erase(target);
  entries_[to] = moved;
  file->path = to;
  log_.push_back("rename " + from + " " + to);
  return Status();
}

Status VirtualFileSystem::SyncDir(const std::string& dir) {
  log_.push_back("syncdir " + dir);
  return Status();
}

}  // namespace olvesk

#include "series/car_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace olvesk {
namespace {

// The length in bytes of the character that starts at data[0]: that of a
// well-formed UTF-8 sequence, otherwise 1.
std::size_t CharLength(std::string_view data) {
  const auto lead = static_cast<unsigned char>(data[0]);
  std::size_t length = 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  }
  if (length > data.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(data[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// The number of characters in |text|.
std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += CharLength(text.substr(i))) {
    ++count;
  }
  return count;
}

// The byte offset at which character |index| of |text| starts; the size of
// |text| for an index past its last character.
std::size_t CharOffset(std::string_view text, std::size_t index) {
  std::size_t offset = 0;
  for (; index > 0 && offset < text.size(); --index) {
    offset += CharLength(text.substr(offset));
  }
  return offset;
}

// The three characters of |path| that begin |from_end| characters from its
// end, or its first three when it is shorter than that.
std::string CodeFromEnd(std::string_view path, std::size_t from_end) {
  const std::size_t chars = CharCount(path);
  const std::size_t first =
      CharOffset(path, chars >= from_end ? chars - from_end : 0);
  const std::size_t size = CharOffset(path.substr(first), 3);
  return std::string(path.substr(first, size));
}

// The offset of the first |needle| in the |size| bytes at |data|, or npos.
std::size_t Find(const char* data, std::size_t size, std::string_view needle) {
#if defined(__GLIBC__)
  const void* hit = memmem(data, size, needle.data(), needle.size());
  return hit ? static_cast<const char*>(hit) - data : std::string_view::npos;
#else
  return std::string_view(data, size).find(needle);
#endif
}

ConvertResult Failed(Status status) {
  ConvertResult result;
  result.outcome = ConvertResult::Outcome::kFailed;
  result.status = std::move(status);
  return result;
}

// The buffer of the reads after the first. It starts on a page: a copy from
// the page cache into a buffer that starts a few bytes into a page runs
// about a third slower, as the two sides alias in the processor.
struct alignas(4096) LargeChunk {
  char bytes[kLargeScanChunkSize];
};

// Puts the open |file| back as it was before |patch| after |cause| stopped
// the conversion. It works through the same open file, whatever name that
// file has by now: reopening the name could reach another file.
ConvertResult RollBack(FileSystem& fs, const OpenFile& file, const Patch& patch,
                       const Status& cause) {
  Status status = patch.appended
                      ? fs.Truncate(file, patch.offset)
                      : fs.Write(file, patch.offset, &patch.original, 1);
  if (status.ok()) status = fs.Sync(file);
  if (status.ok()) return Failed(cause);
  ConvertResult result = Failed(Status::Error(
      cause.op(), cause.path(),
      cause.reason() + "; the class digit could not be put back (" +
          status.ToString() + ")"));
  result.unrestored = true;
  return result;
}

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.kind == b.kind && FileId::Of(a) == FileId::Of(b);
}

Status Replaced(const std::string& path) {
  return Status::Error("open", path,
                       "another program renamed or replaced it just now; it "
                       "was left as it is");
}

// Another program linked the file while it was converted. |outcome| says
// what became of it.
Status LinkedMeanwhile(const std::string& path, std::string_view outcome) {
  return Status::Error("rename", path,
                       "another program gave it another name (a hard link) "
                       "during the conversion; " +
                           std::string(outcome));
}

constexpr std::string_view kLeftAsItIs = "it was left as it is";

// Why |path| could not be opened, in words a user can act on where the
// name itself says more than the open did.
Status ExplainOpenFailure(FileSystem& fs, const std::string& path,
                          const Status& open) {
  FileInfo info;
  if (!fs.Stat(path, &info).ok()) return open;
  switch (info.kind) {
    case FileInfo::Kind::kMissing:
      return Status::Error("open", path, "the file is no longer there");
    case FileInfo::Kind::kSymlink:
      return Status::Error(
          "open", path,
          "it is a symbolic link; only plain files are converted");
    case FileInfo::Kind::kRegular:
      return open;
    default:
      return Status::Error("open", path, "it is not a plain file");
  }
}

// Why |file| could not be renamed to |new_path|, where the new name says
// more than the rename did.
Status ExplainRenameFailure(FileSystem& fs, const std::string& new_path,
                            const Status& rename) {
  FileInfo target;
  if (fs.Stat(new_path, &target).ok() &&
      target.kind == FileInfo::Kind::kDirectory) {
    return Status::Error("rename", new_path,
                         "a folder of that name is in the way");
  }
  return rename;
}

// The checks on the open, locked |file| before anything is written: its
// name still gives it, and it has no other names. Its new name is looked at
// only when it is renamed: a folder there makes the rename fail and the
// digit go back, and a file there is replaced, as the rename promises.
Status CheckOpenFile(FileSystem& fs, const OpenFile& file) {
  // Another window may have converted and renamed it just before the lock
  // was taken, or another program put something else at the name.
  FileInfo now;
  const Status status = fs.Stat(file.path, &now);
  if (!status.ok()) return status;
  if (!SameFile(now, file.info)) return Replaced(file.path);
  // The digit is written in place, so the file's other names would show it
  // too while keeping their old series code, in a folder where converting
  // them again may be refused. A hard link at its new name is one of them.
  if (file.info.links > 1) {
    return Status::Error(
        "open", file.path,
        "it has other names (hard links) that writing it would change too; "
        "convert a copy of it instead");
  }
  return Status();
}

// Locks and checks the open |pending| file, then writes |target_digit|
// after its marker and notes in its patch how to undo that. Returns
// kPending once the digit is written.
ConvertResult WriteDigit(FileSystem& fs, PendingFile* pending,
                         char target_digit, const ConvertOptions& options) {
  OpenFile* file = &pending->file;
  const std::string& path = file->path;
  bool locked = false;
  Status status = fs.TryLock(*file, &locked);
  if (!status.ok()) return Failed(status);
  // Any program may take the same lock: on Linux one that shares the file
  // out, or a script run under flock(1).
  if (!locked) {
    return Failed(Status::Error("open", path,
                                "another Olvesk window is converting it, or "
                                "another program has locked it; it was left "
                                "as it is"));
  }
  status = CheckOpenFile(fs, *file);
  if (!status.ok()) return Failed(status);

  char first_chunk[kScanChunkSize];
  std::unique_ptr<LargeChunk> large_chunk;
  char* buffer = first_chunk;
  std::size_t buffer_size = sizeof(first_chunk);
  MarkerScanner scanner;
  std::uint64_t offset = 0;
  // The first chunk, no more than the file held when it was opened, is read
  // whatever it holds; where the data lies is asked only of a larger file.
  std::uint64_t data_end =
      std::min<std::uint64_t>(kScanChunkSize, file->info.size);
  std::size_t got = 0;
  for (;;) {
    if (offset >= data_end) {
      std::uint64_t data_start = offset;
      status = fs.FindData(*file, offset, &data_start, &data_end);
      if (!status.ok()) return Failed(status);
      if (data_start >= data_end) break;  // nothing but holes from here
      if (data_start > offset) {
        scanner.Skip(data_start - offset);
        offset = data_start;
      }
    }
    if (offset > 0 && options.stop && options.stop()) {
      ConvertResult result;
      result.outcome = ConvertResult::Outcome::kStopped;
      return result;
    }
    // Only a file with data past the first chunk needs the large buffer.
    if (offset > 0 && !large_chunk) {
      large_chunk = std::make_unique_for_overwrite<LargeChunk>();
      buffer = large_chunk->bytes;
      buffer_size = sizeof(large_chunk->bytes);
    }
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer_size, data_end - offset));
    status = fs.Read(*file, offset, buffer, want, &got);
    if (!status.ok()) return Failed(status);
    if (scanner.Feed(buffer, got) || got < want) break;
    offset += got;
  }
  if (!scanner.found()) {
    ConvertResult result;
    result.outcome = ConvertResult::Outcome::kNoMarker;
    return result;
  }

  Patch patch;
  patch.offset = scanner.offset() + kClassMarker.size();
  if (patch.offset >= offset && patch.offset < offset + got) {
    patch.original = buffer[patch.offset - offset];
  } else {
    std::size_t one = 0;
    status = fs.Read(*file, patch.offset, &patch.original, 1, &one);
    if (!status.ok()) return Failed(status);
    patch.appended = one == 0;
  }

  // A one-byte write that fails has written nothing.
  status = fs.Write(*file, patch.offset, &target_digit, 1);
  if (!status.ok()) return Failed(status);
  pending->patch = patch;
  ConvertResult result;
  result.outcome = ConvertResult::Outcome::kPending;
  return result;
}

// Renames the pending file once its digit is durable (|synced| is ok), and
// confirms the rename; puts the digit back otherwise. Leaves it open.
// |*links_seen| is set when the file is converted but its new name showed
// it with other names.
ConvertResult Rename(FileSystem& fs, PendingFile* pending, const Status& synced,
                     const MadeFiles* keep, bool* links_seen) {
  OpenFile* file = &pending->file;
  const FileInfo& source = file->info;
  const std::string& new_path = pending->new_path;
  const std::string path = file->path;
  if (!synced.ok()) {
    // One sync for many files names one of them; each says what it was.
    return RollBack(fs, *file, pending->patch,
                    Status::Error(synced.op(), path, synced.reason()));
  }
  // Where the system renames names, the name must still be this file, and
  // the file must have gained no other name since it was checked.
  FileInfo now;
  Status status = fs.Stat(path, &now);
  if (status.ok() && !SameFile(now, source)) status = Replaced(path);
  if (status.ok() && now.links > 1) {
    status = LinkedMeanwhile(path, kLeftAsItIs);
  }
  if (!status.ok()) return RollBack(fs, *file, pending->patch, status);
  // A file converted since this one was checked may have taken its new
  // name: on a drive that ignores case, É.gns.car and é.cts.car both end as
  // one name. A caller that rules that out by the names alone passes no
  // |keep|.
  if (keep != nullptr && !keep->empty()) {
    status = fs.Stat(new_path, &now);
    if (status.ok() && now.kind != FileInfo::Kind::kMissing &&
        keep->Holds(now)) {
      status = Status::Error("rename", new_path,
                             "another car file of this run was just converted "
                             "to that name, which this one would replace");
    }
    if (!status.ok()) return RollBack(fs, *file, pending->patch, status);
  }
  status = fs.Rename(file, new_path);
  if (!status.ok()) {
    return RollBack(fs, *file, pending->patch,
                    ExplainRenameFailure(fs, new_path, status));
  }
  ConvertResult result;
  result.outcome = ConvertResult::Outcome::kConverted;
  result.new_path = new_path;
  result.made = source;
  // Another program may have put its own file at the new name since, or
  // moved the converted file away with its folder. The file is converted
  // all the same, and its digit stays: the old name is gone, so taking the
  // digit back could only leave the file, should it still be at the new
  // name after all (a drive that numbers files anew when they are renamed),
  // with a name and a digit that disagree.
  status = fs.Stat(new_path, &now);
  if (!status.ok()) {
    result.status = status;
  } else if (now.kind == FileInfo::Kind::kMissing) {
    result.status = Status::Error(
        "rename", new_path,
        "right after the conversion the system no longer shows the file at "
        "that name; another program moved or removed it, or its folder");
  } else if (!SameFile(now, source)) {
    result.status = Status::Error(
        "rename", new_path,
        "the system shows another file at that name right after the "
        "conversion; if another program put it there, the converted file "
        "may be lost");
  } else if (now.links > 1) {
    // A name given to the file between the last look and the rename: at
    // the new name itself, the rename had nothing to do and the old name
    // still shows the file.
    FileInfo old_name;
    if (fs.Stat(path, &old_name).ok() && SameFile(old_name, source)) {
      return RollBack(fs, *file, pending->patch,
                      LinkedMeanwhile(path, kLeftAsItIs));
    }
    result.status =
        LinkedMeanwhile(new_path, "that name shows the new class digit too");
    *links_seen = true;
  } else {
    result.made = now;
  }
  return result;
}

}  // namespace

void MadeFiles::Add(const FileInfo& info) {
  ids_.insert(FileId::Of(info));
  if (info.modified != 0) stamps_.insert(StampOf(info));
}

bool MadeFiles::Holds(const FileInfo& info) const {
  return ids_.count(FileId::Of(info)) > 0 ||
         (info.modified != 0 && stamps_.count(StampOf(info)) > 0);
}

std::string CarFilePath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path += kPathSeparator;
  path.append(name);
  return path;
}

std::string FileSeriesCode(std::string_view path) {
  return CodeFromEnd(path, 7);
}

std::string FolderSeriesCode(std::string_view folder) {
  return CodeFromEnd(folder, 8);
}

std::string NewCarFilePath(std::string_view path,
                           std::string_view target_code) {
  const std::size_t chars = CharCount(path);
  const std::size_t keep = CharOffset(path, chars >= 8 ? chars - 8 : 0);
  std::string new_path(path.substr(0, keep));
  new_path += '.';
  new_path.append(target_code);
  new_path += ".car";
  return new_path;
}

bool MarkerScanner::Feed(const char* data, std::size_t size) {
  if (found_ || size == 0) return found_;
  constexpr std::size_t kKeep = sizeof(tail_);
  // A marker that starts in the kept tail ends within the first kKeep bytes.
  if (tail_size_ > 0) {
    char seam[2 * kKeep];
    const std::size_t head = std::min(size, kKeep);
    std::memcpy(seam, tail_, tail_size_);
    std::memcpy(seam + tail_size_, data, head);
    const std::size_t hit = Find(seam, tail_size_ + head, kClassMarker);
    if (hit != std::string_view::npos) {
      found_ = true;
      offset_ = consumed_ - tail_size_ + hit;
      return true;
    }
  }
  const std::size_t hit = Find(data, size, kClassMarker);
  if (hit != std::string_view::npos) {
    found_ = true;
    offset_ = consumed_ + hit;
    return true;
  }
  // Keep the last kKeep bytes of the tail and this chunk together.
  if (size >= kKeep) {
    std::memcpy(tail_, data + size - kKeep, kKeep);
    tail_size_ = kKeep;
  } else {
    const std::size_t from_tail = std::min(tail_size_, kKeep - size);
    std::memmove(tail_, tail_ + tail_size_ - from_tail, from_tail);
    std::memcpy(tail_ + from_tail, data, size);
    tail_size_ = from_tail + size;
  }
  consumed_ += size;
  return false;
}

void MarkerScanner::Skip(std::uint64_t size) {
  if (found_ || size == 0) return;
  consumed_ += size;
  tail_size_ = 0;
}

ConvertResult BeginCarFile(FileSystem& fs, const std::string& path,
                           std::string_view target_code, char target_digit,
                           const ConvertOptions& options,
                           PendingFile* pending) {
  pending->new_path = NewCarFilePath(path, target_code);
  // The open refuses a link, a folder or a device at |path| itself; the
  // file it opens is then checked before anything is written.
  const Status status = fs.Open(path, &pending->file);
  if (!status.ok()) return Failed(ExplainOpenFailure(fs, path, status));
  ConvertResult result = WriteDigit(fs, pending, target_digit, options);
  if (result.outcome == ConvertResult::Outcome::kPending) return result;
  const Status closed = fs.Close(&pending->file);
  if (!closed.ok() && result.outcome == ConvertResult::Outcome::kNoMarker) {
    return Failed(closed);
  }
  return result;
}

ConvertResult FinishCarFile(FileSystem& fs, PendingFile* pending,
                            const Status& synced, const MadeFiles* keep) {
  bool links_seen = false;
  ConvertResult result = Rename(fs, pending, synced, keep, &links_seen);
  // A close that fails after the digit and the rename are done changes
  // neither; it is reported all the same.
  const Status closed = fs.Close(&pending->file);
  if (links_seen) {
    // Some drivers keep the old name of an open file that is renamed under
    // a hidden name of their own until it is closed (lowntfs-3g's
    // .ghost-ntfs-3g-*): another name only while it is open. Once closed,
    // a file with one name has no other that shows its digit.
    FileInfo now;
    if (fs.Stat(result.new_path, &now).ok() &&
        SameFile(now, pending->file.info) && now.links == 1) {
      result.status = Status();
      result.made = now;
    }
  }
  if (!closed.ok() && result.converted() && result.status.ok()) {
    result.status = closed;
  }
  return result;
}

ConvertResult ConvertCarFile(FileSystem& fs, const std::string& path,
                             std::string_view target_code, char target_digit,
                             const ConvertOptions& options) {
  PendingFile pending;
  const ConvertResult result =
      BeginCarFile(fs, path, target_code, target_digit, options, &pending);
  if (result.outcome != ConvertResult::Outcome::kPending) return result;
  const Status synced = fs.SyncFiles({&pending.file});
  return FinishCarFile(fs, &pending, synced, options.keep);
}

}  // namespace olvesk

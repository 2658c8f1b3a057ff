#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "series/path_bytes.h"
#include "series/real_file_system.h"

namespace olvesk {
namespace {

// How long Rename() keeps trying while another program holds the target
// open: kRenameTries attempts, kRenamePauseMs apart.
constexpr int kRenameTries = 20;
constexpr DWORD kRenamePauseMs = 50;

// The most bytes one ReadFile() or WriteFile() call is asked to move.
constexpr std::size_t kMaxTransfer = 1u << 30;

// Converts UTF-16 from the system into UTF-8.
std::string Narrow(const wchar_t* text, int length) {
  if (length == 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr,
                      nullptr);
  return result;
}

// The one place a Windows error code becomes a Status. The system's text
// for a path too long speaks of a file name, but it is the whole path.
Status WindowsError(const char* op, const std::string& path, DWORD error) {
  if (error == ERROR_FILENAME_EXCED_RANGE) {
    return Status::Error(op, path,
                         "the path is too long for the system (" +
                             std::to_string(path.size()) + " bytes)");
  }
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string reason;
  if (length > 0 && message != nullptr) {
    reason = Narrow(message, static_cast<int>(length));
  }
  if (message != nullptr) LocalFree(message);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
    reason.pop_back();
  }
  if (reason.empty()) reason = "Windows error " + std::to_string(error);
  return Status::Error(op, path, std::move(reason));
}

Status LastError(const char* op, const std::string& path) {
  return WindowsError(op, path, GetLastError());
}

// Converts a path's bytes (UTF-8, a name's lone surrogates kept) into the
// UTF-16 the wide calls take. Bytes that are no such path name no file the
// system could hold, so they are refused rather than guessed at.
Status Widen(const char* op, const std::string& path, std::wstring* wide) {
  wide->clear();
  if (path.empty()) return Status();
  std::u16string units;
  if (!PathUnits(path, &units)) {
    return Status::Error(op, path, "the path is not valid UTF-8");
  }
  wide->assign(units.begin(), units.end());
  // An absolute path goes in the "\\?\" form, which the system takes as it
  // is: it then reaches a file beyond the old limit of MAX_PATH characters,
  // and the names it would otherwise read as something else are the files
  // they name: "nul.gns.car" as no device, a folder "cars." as no "cars".
  // That form wants backslashes and has nothing resolved.
  std::replace(wide->begin(), wide->end(), L'/', L'\\');
  const bool drive =
      wide->size() > 2 && (*wide)[1] == L':' && (*wide)[2] == L'\\';
  const bool unc = wide->size() > 2 && wide->starts_with(L"\\\\") &&
                   (*wide)[2] != L'?' && (*wide)[2] != L'.';
  if (!drive && !unc) return Status();
  // Nothing folds a doubled separator in that form, as after a drive root
  // joined with a name.
  const auto doubled = std::unique(
      wide->begin() + 2, wide->end(),
      [](wchar_t a, wchar_t b) { return a == L'\\' && b == L'\\'; });
  wide->erase(doubled, wide->end());
  if (drive) {
    wide->insert(0, L"\\\\?\\");
  } else {
    wide->replace(0, 2, L"\\\\?\\UNC\\");
  }
  return Status();
}

HANDLE Handle(const OpenFile& file) {
  return reinterpret_cast<HANDLE>(file.native);
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// Another handle on the file stands in the way; it may soon be gone.
bool IsInUse(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// Renames the file open as |handle| to |to|, replacing a file there, and
// tries again for a while when another program has that file open.
DWORD RenameHandle(HANDLE handle, const std::wstring& to) {
  // FILE_RENAME_INFO ends in the new name, of any length.
  const std::size_t name_bytes = to.size() * sizeof(wchar_t);
  std::string buffer(sizeof(FILE_RENAME_INFO) + name_bytes, '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, to.data(), name_bytes);
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 1; attempt <= kRenameTries; ++attempt) {
    if (SetFileInformationByHandle(handle, FileRenameInfo, info,
                                   static_cast<DWORD>(buffer.size()))) {
      return ERROR_SUCCESS;
    }
    error = GetLastError();
    if (!IsInUse(error) || attempt == kRenameTries) break;
    // A folder at the new name is refused as access denied too, and stays.
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      break;
    }
    Sleep(kRenamePauseMs);
  }
  return error;
}

FileInfo InfoOf(const BY_HANDLE_FILE_INFORMATION& data) {
  FileInfo info;
  info.kind = FileInfo::Kind::kRegular;
  info.device = data.dwVolumeSerialNumber;
  info.inode = (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
  info.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  info.links = data.nNumberOfLinks;
  // In ticks of 100 nanoseconds since 1601.
  info.modified = static_cast<std::int64_t>(
      (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
      data.ftLastWriteTime.dwLowDateTime);
  return info;
}

// Whether the file open as |handle|, which carries a reparse point, stands
// for another name: a symbolic link, a junction or a mount point. Other
// reparse points mark a file that a driver serves in place, as a cloud
// drive's files (OneDrive's, say) and deduplicated or compressed files are:
// those are plain files to their users. A tag that cannot be read counts as
// a link.
bool IsLink(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                    sizeof(tag))) {
    return true;
  }
  return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

// How many names (hard links) the file at |path| has, or 0 when that
// cannot be told.
DWORD NameCount(const std::wstring& path) {
  const HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION data;
  const bool known = GetFileInformationByHandle(handle, &data) != 0;
  CloseHandle(handle);
  return known ? data.nNumberOfLinks : 0;
}

// The conversion lock is one byte far past the end of any car file, so it
// stands in the way of no reader or writer of the file's bytes.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

}  // namespace

std::wstring SystemPath(const std::string& path) {
  std::wstring wide;
  return Widen("", path, &wide).ok() ? wide : std::wstring();
}

Status RealFileSystem::Stat(const std::string& path, FileInfo* info) {
  *info = FileInfo();
  std::wstring wide;
  Status status = Widen("stat", path, &wide);
  if (!status.ok()) return status;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return Status();
    }
    return WindowsError("stat", path, error);
  }
  const DWORD attributes = data.dwFileAttributes;
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info->size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  if (attributes & FILE_ATTRIBUTE_DEVICE) {
    info->kind = FileInfo::Kind::kOther;
    return Status();
  }
  if (directory && !reparse) {
    info->kind = FileInfo::Kind::kDirectory;
    return Status();
  }

  // The volume and the file index name the file itself, so two hard links
  // to it compare equal. Asking for no access leaves others' sharing alone,
  // and opening the reparse point itself neither follows a link nor wakes a
  // cloud drive to fetch the file.
  const HANDLE handle = CreateFileW(
      wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError("stat", path);
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (reparse && IsLink(handle)) {
    info->kind = FileInfo::Kind::kSymlink;
  } else if (directory) {
    info->kind = FileInfo::Kind::kDirectory;
  } else if (!GetFileInformationByHandle(handle, &by_handle)) {
    status = LastError("stat", path);
  } else {
    *info = InfoOf(by_handle);
  }
  CloseHandle(handle);
  return status;
}

Status RealFileSystem::Open(const std::string& path, OpenFile* file) {
  std::wstring wide;
  Status status = Widen("open", path, &wide);
  if (!status.ok()) return status;
  // Opening the reparse point itself means a link is never followed; it is
  // refused below rather than written. DELETE access, with others allowed
  // to delete too, lets Rename() move this very file. Writing through also
  // asks the drive to write the rename made through this handle at once,
  // which counts on FAT and exFAT drives, whose folders are not flushed.
  const auto open = [&wide](DWORD flags) {
    return CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | flags,
                       nullptr);
  };
  HANDLE handle = open(FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Files copied from a disc often keep the read-only mark; the system
    // then only says that access is denied.
    const DWORD attributes = error == ERROR_ACCESS_DENIED
                                 ? GetFileAttributesW(wide.c_str())
                                 : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Status::Error("open", path,
                           "the file is read-only; clear its read-only "
                           "attribute to convert it");
    }
    return WindowsError("open", path, error);
  }
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!GetFileInformationByHandle(handle, &by_handle)) {
    status = LastError("open", path);
  } else if (by_handle.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (IsLink(handle)) {
      status = Status::Error(
          "open", path,
          "it is a symbolic link; only plain files are converted");
    } else {
      // A file a driver serves, as on a cloud drive, is opened again
      // through that driver, which then fetches it if it must and sees the
      // write. It must still be the file looked at.
      const BY_HANDLE_FILE_INFORMATION looked_at = by_handle;
      CloseHandle(handle);
      handle = open(0);
      if (handle == INVALID_HANDLE_VALUE) return LastError("open", path);
      if (!GetFileInformationByHandle(handle, &by_handle)) {
        status = LastError("open", path);
      } else if (by_handle.dwVolumeSerialNumber !=
                     looked_at.dwVolumeSerialNumber ||
                 by_handle.nFileIndexHigh != looked_at.nFileIndexHigh ||
                 by_handle.nFileIndexLow != looked_at.nFileIndexLow) {
        status = Status::Error("open", path,
                               "another program renamed or replaced it just "
                               "now; it was left as it is");
      }
    }
  }
  if (status.ok() && ((by_handle.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                      GetFileType(handle) != FILE_TYPE_DISK)) {
    status = Status::Error("open", path, "it is not a plain file");
  }
  if (!status.ok()) {
    CloseHandle(handle);
    return status;
  }
  file->path = path;
  file->native = reinterpret_cast<std::intptr_t>(handle);
  file->info = InfoOf(by_handle);
  return Status();
}

Status RealFileSystem::TryLock(const OpenFile& file, bool* locked) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = kLockOffsetLow;
  overlapped.OffsetHigh = kLockOffsetHigh;
  *locked = LockFileEx(Handle(file),
                       LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                       1, 0, &overlapped) != 0;
  if (*locked) return Status();
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    return Status();
  }
  return WindowsError("lock", file.path, error);
}

Status RealFileSystem::FindData(const OpenFile& file, std::uint64_t offset,
                                std::uint64_t* start, std::uint64_t* end) {
  *start = offset;
  *end = kNoEnd;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Handle(file), &size)) return LastError("seek", file.path);
  const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
  if (offset >= file_size) {
    *end = offset;
    return Status();
  }
  FILE_ALLOCATED_RANGE_BUFFER query = {};
  query.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
  query.Length.QuadPart = static_cast<LONGLONG>(file_size - offset);
  FILE_ALLOCATED_RANGE_BUFFER range = {};
  DWORD returned = 0;
  // One range is all that is asked for; more are left for the next call.
  if (!DeviceIoControl(Handle(file), FSCTL_QUERY_ALLOCATED_RANGES, &query,
                       sizeof(query), &range, sizeof(range), &returned,
                       nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    // The file system cannot tell: all of the file may hold data.
    return Status();
  }
  if (returned < sizeof(range)) {
    *end = offset;  // no data from |offset| on
    return Status();
  }
  const auto range_start =
      static_cast<std::uint64_t>(range.FileOffset.QuadPart);
  const auto range_end =
      range_start + static_cast<std::uint64_t>(range.Length.QuadPart);
  // A range that ends before |offset| answers another question: the
  // driver cannot tell, and the rest is read.
  if (range_end <= offset) return Status();
  *start = std::max(offset, range_start);
  *end = range_end;
  return Status();
}

Status RealFileSystem::Read(const OpenFile& file, std::uint64_t offset,
                            char* data, std::size_t size, std::size_t* read) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED overlapped = At(offset + done);
    const DWORD want = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(Handle(file), data + done, want, &got, &overlapped)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      *read = done;
      return WindowsError("read", file.path, error);
    }
    if (got == 0) break;
    done += got;
  }
  *read = done;
  return Status();
}

Status RealFileSystem::Write(const OpenFile& file, std::uint64_t offset,
                             const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED overlapped = At(offset + done);
    const DWORD want = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    DWORD put = 0;
    if (!WriteFile(Handle(file), data + done, want, &put, &overlapped)) {
      return LastError("write", file.path);
    }
    if (put == 0) {
      return Status::Error("write", file.path, "nothing could be written");
    }
    done += put;
  }
  return Status();
}

Status RealFileSystem::Truncate(const OpenFile& file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(Handle(file), FileEndOfFileInfo, &end,
                                  sizeof(end))) {
    return LastError("truncate", file.path);
  }
  return Status();
}

namespace {

// The threads that flush a batch at once.
constexpr int kSyncThreads = 8;

// Whether |error| says that folders are not flushed here, or not by this
// user: the renames then rest on the files' own write-through.
bool CannotFlushFolders(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER;
}

Status Flush(const OpenFile& file) {
  if (!FlushFileBuffers(Handle(file))) return LastError("sync", file.path);
  return Status();
}

}  // namespace

Status RealFileSystem::Sync(const OpenFile& file) { return Flush(file); }

Status RealFileSystem::SyncFiles(const std::vector<const OpenFile*>& files) {
  // Windows has no one call for many files: the batch's handles are flushed
  // from a few threads, so the disk sees many flushes at once.
  if (files.size() == 1) return Flush(*files.front());
  return SyncInParallel(files, kSyncThreads, Flush);
}

std::size_t RealFileSystem::OpenFileBudget() {
  // Handles are bounded by memory alone.
  return kNoOpenFileBound;
}

Status RealFileSystem::Close(OpenFile* file) {
  const HANDLE handle = Handle(*file);
  file->native = -1;
  if (!CloseHandle(handle)) return LastError("close", file->path);
  return Status();
}

Status RealFileSystem::Rename(OpenFile* file, const std::string& to) {
  std::wstring wide_to;
  Status status = Widen("rename", to, &wide_to);
  if (!status.ok()) return status;

  // A read-only file at |to| is replaced as it would be elsewhere: the flag
  // is cleared for the move and put back if the move does not happen. The
  // flag belongs to the file, not to the name, so a file that keeps other
  // names after the move is left alone rather than made writable there.
  const DWORD target = GetFileAttributesW(wide_to.c_str());
  const bool read_only = target != INVALID_FILE_ATTRIBUTES &&
                         (target & FILE_ATTRIBUTE_READONLY) &&
                         !(target & FILE_ATTRIBUTE_DIRECTORY);
  if (read_only) {
    const DWORD names = NameCount(wide_to);
    if (names != 1) {
      return Status::Error(
          "rename", file->path,
          "the read-only file at " + to +
              (names == 0 ? " could not be checked for other names"
                          : " has other names") +
              " (hard links), which would lose their read-only attribute; "
              "move that file away to convert this one");
    }
    const DWORD writable = target & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (!SetFileAttributesW(wide_to.c_str(),
                            writable ? writable : FILE_ATTRIBUTE_NORMAL)) {
      return Status::Error("rename", file->path,
                           "the read-only file at " + to +
                               " could not be made writable to be replaced: " +
                               LastError("rename", to).reason());
    }
  }
  const DWORD error = RenameHandle(Handle(*file), wide_to);
  if (error != ERROR_SUCCESS) {
    if (read_only) SetFileAttributesW(wide_to.c_str(), target);
    return WindowsError("rename", file->path, error);
  }
  file->path = to;
  return Status();
}

Status RealFileSystem::SyncDir(const std::string& dir) {
  // The renamed entries are flushed with the folder. Some file systems and
  // some rights do not allow a folder to be flushed; there is nothing more
  // to do then. A folder that cannot be opened for another reason, gone or
  // on a drive that was pulled, leaves the renames unconfirmed.
  std::wstring wide;
  Status status = Widen("sync", dir, &wide);
  if (!status.ok()) return status;
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return CannotFlushFolders(error) ? Status()
                                     : WindowsError("sync", dir, error);
  }
  if (!FlushFileBuffers(handle)) {
    const DWORD error = GetLastError();
    if (!CannotFlushFolders(error)) status = WindowsError("sync", dir, error);
  }
  CloseHandle(handle);
  return status;
}

}  // namespace olvesk

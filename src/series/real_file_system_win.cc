#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>

#include "series/real_file_system.h"

namespace olvesk {
namespace {

// How long Rename() keeps trying while another program holds the source or
// the target open: kRenameTries attempts, kRenamePauseMs apart.
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

// The one place a Windows error code becomes a Status.
Status WindowsError(const char* op, const std::string& path, DWORD error) {
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

// Converts a UTF-8 path into the UTF-16 the wide calls take. A path that is
// not valid UTF-8 names no file the system could hold, so it is refused
// rather than guessed at.
Status Widen(const char* op, const std::string& path, std::wstring* wide) {
  wide->clear();
  if (path.empty()) return Status();
  const int size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                          static_cast<int>(path.size()), nullptr, 0);
  if (size <= 0) {
    return Status::Error(op, path, "the path is not valid UTF-8");
  }
  wide->resize(static_cast<std::size_t>(size));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                      static_cast<int>(path.size()), wide->data(), size);
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

// MoveFileExW(), tried again for a while when the file is in use.
DWORD MoveReplacing(const std::wstring& from, const std::wstring& to) {
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 1; attempt <= kRenameTries; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    error = GetLastError();
    if (!IsInUse(error) || attempt == kRenameTries) break;
    Sleep(kRenamePauseMs);
  }
  return error;
}

}  // namespace

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
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info->kind = FileInfo::Kind::kSymlink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->kind = FileInfo::Kind::kDirectory;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    info->kind = FileInfo::Kind::kOther;
  } else {
    info->kind = FileInfo::Kind::kRegular;
  }
  info->size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  if (info->kind != FileInfo::Kind::kRegular) return Status();

  // The volume and the file index name the file itself, so two hard links
  // to it compare equal. Asking for no access leaves others' sharing alone.
  const HANDLE handle = CreateFileW(
      wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError("stat", path);
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!GetFileInformationByHandle(handle, &by_handle)) {
    status = LastError("stat", path);
  } else {
    info->device = by_handle.dwVolumeSerialNumber;
    info->inode = (std::uint64_t{by_handle.nFileIndexHigh} << 32) |
                  by_handle.nFileIndexLow;
    info->links = by_handle.nNumberOfLinks;
  }
  CloseHandle(handle);
  return status;
}

Status RealFileSystem::Open(const std::string& path, OpenFile* file) {
  std::wstring wide;
  Status status = Widen("open", path, &wide);
  if (!status.ok()) return status;
  // Opening the reparse point itself means a link is never followed; it is
  // refused below rather than written.
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH |
                      FILE_FLAG_OPEN_REPARSE_POINT,
                  nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError("open", path);
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!GetFileInformationByHandle(handle, &by_handle)) {
    status = LastError("open", path);
  } else if (by_handle.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    status = Status::Error(
        "open", path, "it is a symbolic link; only plain files are opened");
  }
  if (!status.ok()) {
    CloseHandle(handle);
    return status;
  }
  file->path = path;
  file->native = reinterpret_cast<std::intptr_t>(handle);
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

Status RealFileSystem::Sync(const OpenFile& file) {
  if (!FlushFileBuffers(Handle(file))) return LastError("sync", file.path);
  return Status();
}

Status RealFileSystem::Close(OpenFile* file) {
  const HANDLE handle = Handle(*file);
  file->native = -1;
  if (!CloseHandle(handle)) return LastError("close", file->path);
  return Status();
}

Status RealFileSystem::Rename(const std::string& from, const std::string& to) {
  std::wstring wide_from;
  std::wstring wide_to;
  Status status = Widen("rename", from, &wide_from);
  if (status.ok()) status = Widen("rename", to, &wide_to);
  if (!status.ok()) return status;

  // A read-only file at |to| is replaced as it would be elsewhere: the flag
  // is cleared for the move and put back if the move does not happen.
  const DWORD target = GetFileAttributesW(wide_to.c_str());
  const bool read_only = target != INVALID_FILE_ATTRIBUTES &&
                         (target & FILE_ATTRIBUTE_READONLY) &&
                         !(target & FILE_ATTRIBUTE_DIRECTORY);
  if (read_only) {
    const DWORD writable = target & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (!SetFileAttributesW(wide_to.c_str(),
                            writable ? writable : FILE_ATTRIBUTE_NORMAL)) {
      return LastError("rename", from);
    }
  }
  const DWORD error = MoveReplacing(wide_from, wide_to);
  if (error == ERROR_SUCCESS) return Status();
  if (read_only) SetFileAttributesW(wide_to.c_str(), target);
  return WindowsError("rename", from, error);
}

Status RealFileSystem::SyncDir(const std::string&) {
  // Every file is opened write-through and MoveFileExW() is asked to write
  // through, so a folder's entries need no flush of their own.
  return Status();
}

}  // namespace olvesk

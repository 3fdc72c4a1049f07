#include "settings/file_replace.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kelvro {

#ifdef _WIN32

FileReadOutcome ReadWholeFile(const std::string& path, size_t max_bytes, std::string& bytes) {
  bytes.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
               ? FileReadOutcome::kMissing
               : FileReadOutcome::kUnreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileReadOutcome::kUnreadable;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FileReadOutcome::kUnreadable;
  bool ok = true;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes.append(chunk, got);
    if (bytes.size() > max_bytes) {
      ok = false;
      break;
    }
  }
  CloseHandle(h);
  if (!ok) bytes.clear();
  return ok ? FileReadOutcome::kRead : FileReadOutcome::kUnreadable;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  // The new file must be on disk before it replaces the old one.
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(h);
  return CloseHandle(h) && ok;
}

bool ReplaceFileAtomically(const std::string& new_file, const std::string& target) {
  // Windows refuses to replace a read-only file, but not every implementation of the API
  // does: check the attribute ourselves.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  return MoveFileExA(new_file.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

FileReadOutcome ReadWholeFile(const std::string& path, size_t max_bytes, std::string& bytes) {
  bytes.clear();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? FileReadOutcome::kMissing
                                                 : FileReadOutcome::kUnreadable;
  }
  if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > max_bytes) {
    return FileReadOutcome::kUnreadable;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileReadOutcome::kUnreadable;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
    if (bytes.size() > max_bytes) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok ? FileReadOutcome::kRead : FileReadOutcome::kUnreadable;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // The new file must be on disk before it replaces the old one.
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool ReplaceFileAtomically(const std::string& new_file, const std::string& target) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    // rename() would replace a read-only file (and root may write anything), so honour
    // the permission bits explicitly: a file the user made read-only stays as it is.
    if ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) return false;
    if (chmod(new_file.c_str(), st.st_mode & 07777) != 0) return false;
  }
  return std::rename(new_file.c_str(), target.c_str()) == 0;
}

#endif

void RemoveFileQuietly(const std::string& path) {
  std::remove(path.c_str());
}

}  // namespace kelvro

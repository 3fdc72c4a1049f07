#include "settings/file_replace.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvro {

#ifdef _WIN32

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

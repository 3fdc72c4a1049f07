// Whole-file access for the profile: reading it, writing a new file beside it and moving
// that over the old one in one step, so that an interrupted save never leaves a
// half-written profile behind.
#pragma once

#include <cstddef>
#include <string>

namespace kelvro {

enum class FileReadOutcome {
  kRead,        // bytes hold the whole file
  kMissing,     // there is no file at the path
  kUnreadable,  // something is there, but not a file that could be read (or it is too big)
};

// Reads the whole file; files larger than max_bytes count as unreadable.
FileReadOutcome ReadWholeFile(const std::string& path, size_t max_bytes, std::string& bytes);

// Creates or truncates the file and writes the bytes; true only when they are all on disk
// (flushed) and the file is closed.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// Moves new_file over target in one step: readers see either the old or the new content,
// never a mixture. A target that exists but is read-only is not replaced (false). On
// POSIX the new file takes over the target's permission bits. On failure new_file is left
// in place for the caller to remove.
bool ReplaceFileAtomically(const std::string& new_file, const std::string& target);

// Removes a file, ignoring errors (used for leftovers of failed saves).
void RemoveFileQuietly(const std::string& path);

}  // namespace kelvro

// Replacing a file in one step, so that an interrupted save never leaves a half-written
// profile behind.
#pragma once

#include <string>

namespace kelvro {

// Moves new_file over target in one step: readers see either the old or the new content,
// never a mixture. A target that exists but is read-only is not replaced (false). On
// POSIX the new file takes over the target's permission bits. On failure new_file is left
// in place for the caller to remove.
bool ReplaceFileAtomically(const std::string& new_file, const std::string& target);

// Removes a file, ignoring errors (used for leftovers of failed saves).
void RemoveFileQuietly(const std::string& path);

}  // namespace kelvro

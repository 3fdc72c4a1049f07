// A file of the tools under the system's temporary directory (the profile a run may save
// into), removed when the object goes.
#pragma once

#include <string>

namespace kelvro::sim {

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();

  // Creates "<prefix>-XXXXXX.xml" holding text; false with the reason in error.
  bool Create(const std::string& prefix, const std::string& text, std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kelvro::sim

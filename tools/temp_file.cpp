#include "tools/temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kelvro::sim {

TempFile::~TempFile() {
  if (!path_.empty()) std::remove(path_.c_str());
}

bool TempFile::Create(const std::string& prefix, const std::string& text, std::string* error) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string name = (dir / (prefix + "-XXXXXX.xml")).string();
  const int fd = mkstemps(name.data(), 4);
  if (fd < 0) {
    *error = "cannot create a temporary profile in " + dir.string();
    return false;
  }
  path_ = name;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != text.size()) {
    *error = "cannot write the temporary profile " + path_;
    return false;
  }
  return true;
}

}  // namespace kelvro::sim

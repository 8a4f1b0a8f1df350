// A fresh working directory for a test's life: the image files a test writes
// go there, and nothing of one test is left for the next.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace support {

class ScopedWorkDir {
 public:
  // The directory is /tmp/<name>-XXXXXX; ok() says whether it was made.
  explicit ScopedWorkDir(const std::string& name) {
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      m_dir = pattern;
      m_previous = std::filesystem::current_path();
      std::filesystem::current_path(m_dir);
    }
  }
  ~ScopedWorkDir() {
    if (!m_dir.empty()) {
      std::filesystem::current_path(m_previous);
      std::filesystem::remove_all(m_dir);
    }
  }
  ScopedWorkDir(const ScopedWorkDir&) = delete;
  ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

  bool ok() const { return !m_dir.empty(); }

 private:
  std::filesystem::path m_dir;
  std::filesystem::path m_previous;
};

}  // namespace support

// A scratch directory that the address-change script rules trust: owned by root, writable
// by its owner only, below /var/lib (the test's KIV_HOME lies in the world-writable /tmp,
// where no script is accepted).
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/kiv_test.h"

namespace servicetest {

class SafeDirectory {
 public:
  SafeDirectory() {
    // A system directory that only root can change, wherever the build tree lies (a clone
    // below /tmp or a home directory would make every script there untrusted).
    std::string pattern = "/var/lib/kiv-script-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      chmod(path_.c_str(), 0755);
    }
  }
  ~SafeDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  SafeDirectory(const SafeDirectory&) = delete;
  SafeDirectory& operator=(const SafeDirectory&) = delete;

  const std::string& path() const { return path_; }

  // Writes an executable file with `mode` and answers its path.
  std::string file(const std::string& name, const std::string& content, mode_t mode = 0755) const {
    const std::string where = path_ + "/" + name;
    kivtest::writeFile(where, content);
    chmod(where.c_str(), mode);
    return where;
  }
  std::string directory(const std::string& name, mode_t mode) const {
    const std::string where = path_ + "/" + name;
    mkdir(where.c_str(), 0700);
    chmod(where.c_str(), mode);
    return where;
  }

 private:
  std::string path_;
};

}  // namespace servicetest

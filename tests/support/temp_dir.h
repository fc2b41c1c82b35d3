#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova::test {

/// A fresh private directory (mkdtemp), removed with its files on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The directory's path.
    const std::string& path() const { return path_; }
    /// Writes `bytes` to a file `name` in the directory and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

  private:
    std::string path_;
};

}  // namespace kova::test

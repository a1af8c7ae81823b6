#pragma once
// A fresh directory of real files for the tests of file loading, removed with
// its contents afterwards.

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace dazi {

// A new, empty directory in the platform's place for temporary files; its
// path ends in a separator. Defined by each platform's tests.
std::string MakeTestDirectory();

class TestDirectory {
 public:
  TestDirectory() : path_(MakeTestDirectory()) {}
  ~TestDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_), ignored);
  }
  const std::string& Path() const { return path_; }

  // A file of exactly these bytes; returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    std::ofstream(path_ + std::string(name), std::ios::binary).write(bytes.data(), bytes.size());
    return path_ + std::string(name);
  }

 private:
  std::string path_;
};

}  // namespace dazi

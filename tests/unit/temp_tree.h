#pragma once
// Real directory trees for tests, made below the system's temporary folder and
// removed again afterwards, and a few helpers for them.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/fs/filesys.h"

namespace dazi::test_support {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

inline Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The names a search delivers, sorted; none when it fails to start, which
// leaves no search open.
inline Names SearchNames(const std::string& pattern, int32_t mask = kFaAnyFile) {
  Names names;
  TSearchRec rec;
  for (int32_t code = FindFirstEntry(pattern, mask, rec); code == 0; code = FindNextEntry(rec)) {
    names.push_back(rec.FoundName);
  }
  EndFind(rec);
  return Sorted(names);
}

// Makes link a symbolic link to the directory target (relative to the link's
// folder); false where links cannot be made.
bool MakeDirectoryLink(const fs::path& link, const std::string& target);
void RemoveDirectoryLink(const fs::path& link);
// Gives a file the hidden and system attributes; on POSIX a name beginning
// with a full stop is what hides it.
void MarkHiddenSystem(const fs::path& file);
// Lets go of what the file-system primitives keep of a tree that is removed
// (open directory handles, what was seen where): its inodes come back in the
// next tree.
void ForgetTree();

class TempTree {
 public:
  explicit TempTree(const fs::path& base = fs::temp_directory_path()) {
    std::random_device random;
    root_ = base / ("dazi-test-" + std::to_string(random()));
    fs::create_directories(root_);
  }
  ~TempTree() {
    ForgetTree();
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(root_, ignored), end; !ignored && it != end;
         it.increment(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const fs::path& Root() const { return root_; }
  // The root as the tool spells paths, ending in a separator.
  std::string Text() const { return (root_ / "").string(); }

  void Dirs(const std::vector<std::string>& paths) const {
    for (const auto& path : paths) fs::create_directories(root_ / path);
  }
  void Files(const std::vector<std::string>& paths) const {
    for (const auto& path : paths) std::ofstream(root_ / path) << path;
  }
  // A file of exactly these bytes at a path below the root; returns its path
  // as the tool spells paths, the root's Text() followed by the given path.
  std::string Write(const std::string& path, std::string_view bytes) const {
    std::ofstream(root_ / path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return Text() + path;
  }
  std::string Content(const std::string& path) const {
    std::ifstream in(root_ / path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The names the directory holds, as the file system spells them, sorted.
  Names Listing(const std::string& path = "") const {
    Names names;
    for (auto& entry : fs::directory_iterator(root_ / path)) {
      names.push_back(entry.path().filename().string());
    }
    return Sorted(names);
  }

 private:
  fs::path root_;
};

}  // namespace dazi::test_support

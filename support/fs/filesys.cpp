#include "support/fs/filesys.h"

namespace dazi {

namespace {

// Holds nothing: each call goes to the platform's function of that name.
class PlatformCalls final : public FileSystem {
 public:
  int32_t FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec) override {
    return FindFirstEntry(pattern, mask, rec);
  }
  int32_t FindNext(TSearchRec& rec) override { return FindNextEntry(rec); }
  bool IsExistingFile(std::string_view path) override { return dazi::IsExistingFile(path); }
  bool Rename(std::string_view source, std::string_view target) override {
    return RenamePath(source, target);
  }
};

PlatformCalls platformCalls;

}  // namespace

FileSystem& PlatformFileSystem() {
  return platformCalls;
}

}  // namespace dazi

// The lower bound of the benchmark: renames the entries that DAZI renames in a
// build-output tree to upper case, children before parents, and does nothing
// else (no sorting, no output, no lookups without regard to case). Each
// directory is read once and every rename is made relative to an open
// directory. Like DAZI's, each rename refuses to replace an entry that
// already has the new name (RENAME_NOREPLACE): a rename that may destroy a
// file is not the same work.
//
// With --plain each rename is a plain rename(2) instead: file systems that fold
// case, such as exFAT through FUSE, take no rename flags, and there a case
// change's target is the entry itself, which nothing can replace.
//
//     dazi_lower_bound [--plain] OUTDIR
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>  // renameat2, RENAME_NOREPLACE
#include <cstring>
#include <string>
#include <vector>

namespace {

bool plainRenames = false;

std::string Upper(const char* name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

void RenameUpper(int dirFd, const char* name) {
  const std::string upper = Upper(name);
  if (upper == name) return;
  if (plainRenames) {
    renameat(dirFd, name, dirFd, upper.c_str());
  } else {
    renameat2(dirFd, name, dirFd, upper.c_str(), RENAME_NOREPLACE);
  }
}

struct Entry {
  std::string name;
  bool isDirectory;
};

std::vector<Entry> ReadEntries(int dirFd) {
  std::vector<Entry> entries;
  DIR* dir = fdopendir(dup(dirFd));
  if (dir == nullptr) return entries;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st;
      isDirectory =
          fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back({name, isDirectory});
  }
  closedir(dir);
  return entries;
}

// Every entry below the directory, each after its own contents.
void RenameContents(int dirFd) {
  for (const Entry& entry : ReadEntries(dirFd)) {
    if (entry.isDirectory) {
      const int sub = openat(dirFd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (sub >= 0) {
        RenameContents(sub);
        close(sub);
      }
    }
    RenameUpper(dirFd, entry.name.c_str());
  }
}

// The named entries and the matches of the masks, directly in the directory.
void RenameSelected(int dirFd, std::vector<const char*> names, std::vector<const char*> masks) {
  for (const char* name : names) RenameUpper(dirFd, name);
  if (masks.empty()) return;
  for (const Entry& entry : ReadEntries(dirFd)) {
    for (const char* mask : masks) {
      if (fnmatch(mask, entry.name.c_str(), FNM_CASEFOLD) == 0) {
        RenameUpper(dirFd, entry.name.c_str());
        break;
      }
    }
  }
}

int OpenDirectory(int dirFd, const char* name) {
  return openat(dirFd, name, O_RDONLY | O_DIRECTORY);
}

}  // namespace

int main(int argc, char** argv) {
  plainRenames = argc == 3 && std::strcmp(argv[1], "--plain") == 0;
  if (argc != 2 + plainRenames) {
    std::fprintf(stderr, "usage: %s [--plain] OUTDIR\n", argv[0]);
    return 2;
  }
  const char* outdir = argv[argc - 1];
  const int root = open(outdir, O_RDONLY | O_DIRECTORY);
  const int i386 = OpenDirectory(root, "i386");
  const int system32 = OpenDirectory(i386, "system32");
  const int drivers = OpenDirectory(system32, "drivers");
  if (root < 0 || i386 < 0 || system32 < 0 || drivers < 0) {
    std::perror(outdir);
    return 1;
  }
  RenameContents(drivers);
  RenameUpper(system32, "drivers");
  RenameSelected(
      system32,
      {"biosinfo.inf", "bootvid.dll", "kdcom.dll", "ntkrnlmp.exe", "ntoskrnl.exe", "setupreg.hiv"},
      {"*.sif", "*.nls", "*.fon", "hal*.dll"});
  RenameUpper(i386, "system32");
  RenameSelected(i386, {"bootfix.bin", "ntdetect.com", "setupldr.bin", "spcmdcon.sys"}, {"*.sif"});
  RenameUpper(root, "i386");
  RenameSelected(root, {"bootsect.bin", "bootfont.bin", "programs"}, {"win*"});
  return 0;
}

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "support/filesys.h"
#include "support/filesys_posix.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace test_support;

int32_t AttributesOf(const std::string& pattern) {
  TSearchRec rec;
  return FindFirstEntry(pattern, kFaAnyFile, rec) == 0 ? rec.FoundAttr : -1;
}

TEST(PosixSearch, DirectoryPartByExactSpellingElseSmallestCaselessDirectory) {
  TempTree tree;
  tree.Dirs({"Dir", "dir"});
  tree.Files({"DIR", "Dir/in_Dir", "dir/in_dir"});
  const std::string root = tree.Text();
  EXPECT_EQ(SearchNames(root + "dir/in*"), Names{"in_dir"});
  EXPECT_EQ(SearchNames(root + "dIR/in*"), Names{"in_Dir"});  // the file DIR is passed over
  EXPECT_EQ(SearchNames(root + "/\\dIr//\\in*"), Names{"in_Dir"});
  EXPECT_EQ(SearchNames(root + "DIR/*"), (Names{".", "..", "in_Dir"}));
}

TEST(PosixSearch, AttributesFromLstatAndName) {
  TempTree tree;
  tree.Dirs({".cache", "real"});
  tree.Files({"plain"});
  fs::create_directory_symlink("real", tree.Root() / "link");
  chmod((tree.Root() / "plain").c_str(), 0444);
  const std::string root = tree.Text();
  EXPECT_EQ(AttributesOf(root + "link"), 0);
  EXPECT_EQ(AttributesOf(root + "real"), kFaDirectory);
  EXPECT_EQ(AttributesOf(root + "real/."), kFaDirectory);
  EXPECT_EQ(AttributesOf(root + ".cache"), kFaDirectory | kFaHidden);
  EXPECT_EQ(AttributesOf(root + "plain"), kFaReadOnly);
  EXPECT_EQ(SearchNames(root + "*", kFaDirectory), (Names{".", "..", "link", "plain", "real"}));
}

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A scan keeps one search open for each level it is down; in a deep tree
// open directories would run out of descriptors.
TEST(PosixSearch, OpenSearchesHoldNoDescriptors) {
  TempTree tree;
  tree.Dirs({"a", "a/b", "a/b/c"});
  tree.Files({"a/b/c/x", "a/b/c/y"});
  const size_t before = OpenDescriptors();
  TSearchRec outer, middle, inner;
  ASSERT_EQ(FindFirstEntry(tree.Text() + "*", kFaAnyFile, outer), 0);
  ASSERT_EQ(FindFirstEntry(tree.Text() + "a/*", kFaAnyFile, middle), 0);
  ASSERT_EQ(FindFirstEntry(tree.Text() + "a/b/c/*", kFaAnyFile, inner), 0);
  EXPECT_EQ(OpenDescriptors(), before);
  Names names;
  do {
    names.push_back(inner.FoundName);
  } while (FindNextEntry(inner) == 0);
  EXPECT_EQ(Sorted(names), (Names{".", "..", "x", "y"}));
}

TEST(PosixSearch, QuestionMarkTakesOneCharacterOfAUtf8Locale) {
  TempTree tree;
  tree.Files({"\xC3\xA9.txt"});
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(SearchNames(tree.Text() + "?.txt"), Names{"\xC3\xA9.txt"});
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(PosixRename, ExactSpellingNeedsNoDirectoryRead) {
  TempTree tree;
  tree.Files({"abc", "ABC2", "abc2"});
  posix::ForgetDirectories();
  EXPECT_TRUE(RenamePath(tree.Text() + "abc", tree.Text() + "ABC"));
  EXPECT_EQ(posix::DirectoryReads(), 0u);
  EXPECT_FALSE(RenamePath(tree.Text() + "abc2", tree.Text() + "ABC2"));  // another entry
  EXPECT_EQ(posix::DirectoryReads(), 1u);  // to tell another entry from a folded spelling
  EXPECT_EQ(tree.Listing(), (Names{"ABC", "ABC2", "abc2"}));
  EXPECT_EQ(tree.Content("ABC2"), "ABC2");
}

TEST(PosixRename, EachDirectoryIsReadOnceAndAgainOnlyWhenASpellingWent) {
  TempTree tree;
  tree.Dirs({"d"});
  for (int i = 0; i < 20; ++i) tree.Files({"d/f" + std::to_string(i)});
  const std::string root = tree.Text();
  posix::ForgetDirectories();
  ASSERT_TRUE(RenamePath(root + "d\\", root + "D\\"));
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i / 2);
    EXPECT_TRUE(RenamePath(root + "d\\f" + n, root + "D\\F" + n));
  }
  EXPECT_EQ(posix::DirectoryReads(), 2u);  // the root and D
  EXPECT_EQ(tree.Listing("D").size(), 20u);
  fs::rename(tree.Root() / "D", tree.Root() / "d");
  EXPECT_TRUE(RenamePath(root + "D\\F3", root + "D\\F3"));
  EXPECT_EQ(posix::DirectoryReads(), 3u);
}

// A fresh FAT image mounted through fusefat for each test: a file system that
// folds case and takes no rename flags. Afterwards fsck.fat must find it sound.
class FatRename : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0 || Run("command -v fusefat >/dev/null") != 0) {
      GTEST_SKIP() << "FUSE is missing here: no FAT image can be mounted";
    }
    fs::create_directory(mount_);
    fs::resize_file((std::ofstream(image_), image_), 8 << 20);
    ASSERT_EQ(Run("mkfs.fat " + image_ + " >/dev/null"), 0) << "mkfs.fat (dosfstools) missing?";
    ASSERT_EQ(Run("fusefat -o rw+ " + image_ + " " + mount_.string() + " >/dev/null 2>&1"), 0);
    mounted_ = true;
  }
  void TearDown() override {
    if (!mounted_) return;
    if (Run("fusermount -u " + mount_.string()) != 0) Run("fusermount3 -u " + mount_.string());
    EXPECT_EQ(Run("fsck.fat -n " + image_ + " >/dev/null"), 0) << "the FAT image is damaged";
  }
  static int Run(const std::string& command) { return std::system(command.c_str()); }

  TempTree place_;
  std::string image_ = (place_.Root() / "fat.img").string();
  fs::path mount_ = place_.Root() / "mnt";
  bool mounted_ = false;
};

TEST_F(FatRename, CaseChangesShowInTheListingAndNothingIsReplacedOrLost) {
  TempTree tree(mount_);
  tree.Dirs({"sub", "UPDIR"});
  tree.Files({"abc.txt", "sub/inner.txt", "one", "two", "UP"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "abc.txt", root + "ABC.TXT"));
  EXPECT_TRUE(RenamePath(root + "up", root + "UP"));
  EXPECT_TRUE(RenamePath(root + "updir\\", root + "UPDIR\\"));
  EXPECT_FALSE(RenamePath(root + "gone", root + "GONE"));
  EXPECT_FALSE(RenamePath(root + "one", root + "two"));
  EXPECT_FALSE(RenamePath(root + "one", root + "TWO"));  // answers to two
  // fusefat refuses a case change of a directory and empties a moved one.
  EXPECT_FALSE(RenamePath(root + "sub\\", root + "SUB\\"));
  EXPECT_EQ(tree.Listing(), (Names{"ABC.TXT", "UP", "UPDIR", "one", "sub", "two"}));
  EXPECT_EQ(tree.Content("ABC.TXT") + tree.Content("sub/inner.txt"), "abc.txtsub/inner.txt");
  EXPECT_EQ(tree.Content("one") + tree.Content("two"), "onetwo");
  EXPECT_EQ(SearchNames(root + "SUB\\*.TXT"), Names{"inner.txt"});
}

}  // namespace
}  // namespace dazi

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/fs/filesys.h"
#include "support/fs/filesys_posix.h"
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
  posix::ForgetDirectories();  // the handles of the last path walked, a bounded few
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

// A search for kinds only tells directories, hidden entries and links apart
// as a full search does; it only leaves out what needs each entry looked at.
TEST(PosixSearch, KindsOnlyTellsTheSameKinds) {
  TempTree tree;
  tree.Dirs({"sub", ".hidden"});
  tree.Files({"plain", "sub/inner"});
  fs::create_directory_symlink("sub", tree.Root() / "link");
  auto kinds = [&](bool kindsOnly) {
    Names found;
    TSearchRec rec;
    rec.KindsOnly = kindsOnly;
    for (int32_t code = FindFirstEntry(tree.Text() + "*.*", kFaAnyFile, rec); code == 0;
         code = FindNextEntry(rec)) {
      const int32_t kind = rec.FoundAttr & (kFaDirectory | kFaHidden | kFaVolumeId);
      found.push_back(rec.FoundName + " " + std::to_string(kind));
      if (kindsOnly && rec.FoundName == "plain") {
        EXPECT_EQ(rec.FoundSize, 0);
      }
    }
    return Sorted(found);
  };
  EXPECT_EQ(kinds(true), kinds(false));
  EXPECT_EQ(kinds(true).size(), 6u);
}

std::string Numbered(const std::string& text, int i) {
  return text + std::to_string(i);
}

// The entries of one directory are renamed relative to it, kept open: no
// directory is read, and every entry gets its new name.
TEST(PosixRename, EntriesOfOneDirectoryNeedNoDirectoryRead) {
  TempTree tree;
  Names renamed;
  for (int i = 0; i < 50; ++i) {
    tree.Files({Numbered("f", i)});
    renamed.push_back(Numbered("F", i));
  }
  posix::ForgetDirectories();
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(RenamePath(tree.Text() + Numbered("f", i), tree.Text() + Numbered("F", i)));
  }
  EXPECT_EQ(posix::DirectoryReads(), 0u);
  EXPECT_EQ(tree.Listing(), Sorted(renamed));
}

// The kept directory serves only its own entries under their given names;
// everything else takes the long way and ends as it did before.
TEST(PosixRename, TheKeptDirectoryServesOnlyItsOwnEntries) {
  TempTree tree;
  tree.Dirs({"d", "d2", "e"});
  tree.Files({"d/a", "d/b", "d/Mixed", "d/c", "d/abc", "d/ABC", "d2/b"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "d\\a", root + "D\\A"));
  EXPECT_TRUE(RenamePath(root + "d2\\b", root + "D\\B"));         // into the kept directory
  EXPECT_FALSE(RenamePath(root + "d//\\b", root + "D/B"));        // B is taken now
  EXPECT_TRUE(RenamePath(root + "d\\mixed", root + "D\\MIXED"));  // spelled otherwise on disk
  EXPECT_FALSE(RenamePath(root + "d\\abc", root + "D\\ABC"));
  EXPECT_FALSE(RenamePath(root + "d\\gone", root + "D\\GONE"));
  EXPECT_FALSE(RenamePath(root + "d\\..", root + "D\\.."));
  EXPECT_TRUE(RenamePath(root + "d\\c", root + "e\\C"));
  EXPECT_TRUE(RenamePath(root + "d\\A", root + "d\\A"));
  EXPECT_EQ(tree.Listing("d"), (Names{"A", "ABC", "B", "MIXED", "abc", "b"}));
  EXPECT_EQ(tree.Listing("d2"), Names{});
  EXPECT_EQ(tree.Listing("e"), Names{"C"});
  EXPECT_EQ(tree.Content("d/B") + tree.Content("d/b"), "d2/bd/b");
  EXPECT_EQ(tree.Content("d/MIXED") + tree.Content("d/abc"), "d/Mixedd/abc");
}

// A move into another directory may give a path an exact spelling that it
// did not have; the directory kept for that path is then let go.
TEST(PosixRename, AMoveLetsTheKeptDirectoryGo) {
  TempTree tree;
  tree.Dirs({"A/b/a/b"});
  tree.Files({"A/b/y", "A/b/x", "A/b/a/b/x"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "a\\b\\y", root + "A\\B\\Y"));  // found without regard to case
  EXPECT_TRUE(RenamePath(root + "a\\b\\a", root + "a"));        // now root/a/b exists
  EXPECT_TRUE(RenamePath(root + "a\\b\\x", root + "A\\B\\X"));
  EXPECT_EQ(tree.Listing("a/b"), Names{"X"});
  EXPECT_EQ(tree.Listing("A/b"), (Names{"Y", "x"}));
}

// A directory renamed by the run takes its entries along: they are found
// under its new spelling by the paths they were collected with.
TEST(PosixRename, EntriesFollowTheirRenamedDirectory) {
  TempTree tree;
  tree.Dirs({"d/sub"});
  tree.Files({"d/g", "d/sub/f1", "d/sub/f2"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "d\\sub\\", root + "D\\SUB\\"));
  EXPECT_TRUE(RenamePath(root + "d\\", root + "D\\"));
  EXPECT_TRUE(RenamePath(root + "d\\g", root + "D\\G"));
  EXPECT_TRUE(RenamePath(root + "d\\sub\\f1", root + "D\\SUB\\F1"));
  EXPECT_TRUE(RenamePath(root + "d\\sub\\f2", root + "D\\SUB\\F2"));
  EXPECT_TRUE(RenamePath(root + "d\\sub", root + "D\\SUB"));
  EXPECT_EQ(tree.Listing(), Names{"D"});
  EXPECT_EQ(tree.Listing("D"), (Names{"G", "SUB"}));
  EXPECT_EQ(tree.Listing("D/SUB"), (Names{"F1", "F2"}));
}

// Names stored in another letter case than on disk are each looked up in the
// directory's listing, read once and kept up to date with the renames.
TEST(PosixRename, CaselessLookupsReadABigDirectoryOnce) {
  TempTree tree;
  tree.Dirs({"d"});
  Names renamed;
  for (int i = 0; i < 2000; ++i) {
    tree.Files({Numbered("d/Name", i)});
    renamed.push_back(Numbered("NAME", i));
  }
  const std::string dir = tree.Text() + "d\\";
  posix::ForgetDirectories();
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 2000; ++i) {
      ASSERT_TRUE(RenamePath(dir + Numbered("name", i), dir + Numbered("NAME", i))) << i;
    }
  }
  EXPECT_EQ(posix::DirectoryReads(), 1u);
  EXPECT_EQ(tree.Listing("d"), Sorted(renamed));
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
    // The daemon writes the image back after the unmount returns.
    for (int i = 0; i < 300 && Run("pgrep -f '^fusefat .*" + image_ + "' >/dev/null") == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
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

namespace dazi {
namespace {

using namespace test_support;

struct SwapCase {
  const char* name;
  const char* linkTarget;  // what b becomes, relative to the tree's root
};
void PrintTo(const SwapCase& c, std::ostream* out) {
  *out << c.name;
}

class SwapTest : public ::testing::TestWithParam<SwapCase> {};

// A directory that the run saw is swapped for a link between its scan and
// the renames of its entries: they fail, and nothing behind the link is
// renamed. A link that was there before the run is the user's and followed.
TEST_P(SwapTest, NothingBehindASwappedLinkIsRenamed) {
  TempTree tree;
  tree.Dirs({"out/d/a", "out/d/b", "outside"});
  tree.Files({"out/d/a/x", "out/d/b/x", "outside/x", "out/file"});
  fs::create_directory_symlink(tree.Root() / "out", tree.Root() / "given");
  const std::string d = tree.Text() + "given/d/";
  EXPECT_EQ(SearchNames(d + "*"), (Names{".", "..", "a", "b"}));
  EXPECT_EQ(SearchNames(d + "b/*"), (Names{".", "..", "x"}));
  EXPECT_TRUE(RenamePath(d + "a\\x", d + "A\\X"));
  fs::rename(tree.Root() / "out/d/b", tree.Root() / "aside");
  fs::create_symlink(fs::path("../..") / GetParam().linkTarget, tree.Root() / "out/d/b");
  EXPECT_FALSE(RenamePath(d + "b\\x", d + "B\\X"));
  EXPECT_FALSE(RenamePath(d + "B\\x", d + "B\\X"));
  EXPECT_EQ(SearchNames(d + "b/*"), Names{});
  EXPECT_EQ(tree.Listing("outside"), Names{"x"});
  EXPECT_EQ(tree.Listing("aside"), Names{"x"});
  EXPECT_EQ(tree.Listing("out/d/a"), Names{"X"});
  EXPECT_TRUE(RenamePath(d + "b", d + "B"));  // the link itself, as an entry of d
}

INSTANTIATE_TEST_SUITE_P(Links, SwapTest,
                         ::testing::Values(SwapCase{"ToADirectoryOutside", "outside"},
                                           SwapCase{"ToAFile", "out/file"},
                                           SwapCase{"ToTheParent", "out"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A directory that only a search saw, below a directory a killed run left
// parked, is swapped for a link; the run then finishes the parked name (its
// upper-case path changes) and still does not follow the link.
TEST(PosixRename, ASwappedDirectoryStaysRefusedWhenItsParkedParentIsFinished) {
  TempTree tree;
  tree.Dirs({"out/~DZ~d/b", "outside"});
  tree.Files({"out/~DZ~d/b/x", "outside/x"});
  const std::string out = tree.Text() + "out/";
  EXPECT_EQ(SearchNames(out + "d/*"), (Names{".", "..", "b"}));
  fs::rename(tree.Root() / "out/~DZ~d/b", tree.Root() / "aside");
  fs::create_directory_symlink(tree.Root() / "outside", tree.Root() / "out/~DZ~d/b");
  EXPECT_TRUE(RenamePath(out + "d", out + "D"));
  EXPECT_FALSE(RenamePath(out + "D\\b\\x", out + "D\\B\\X"));
  EXPECT_EQ(tree.Listing("outside"), Names{"x"});
}

// An entry that a killed run left under its parked name is found by the
// name it had, by searches and by renames, and gets its new name.
TEST(PosixRename, AParkedEntryIsFinishedByTheNextRun) {
  TempTree tree;
  tree.Files({"~DZ~abc.sif", "~DZ~twin", "TWIN", "~DZ~"});
  const std::string root = tree.Text();
  EXPECT_EQ(SearchNames(root + "*.sif"), Names{"abc.sif"});
  EXPECT_EQ(SearchNames(root + "*"), (Names{".", "..", "TWIN", "abc.sif", "~DZ~", "~DZ~twin"}));
  EXPECT_TRUE(RenamePath(root + "abc.sif", root + "ABC.SIF"));
  EXPECT_TRUE(RenamePath(root + "twin", root + "TWIN"));  // already so spelled
  EXPECT_EQ(tree.Listing(), (Names{"ABC.SIF", "TWIN", "~DZ~", "~DZ~twin"}));
  EXPECT_EQ(tree.Content("ABC.SIF"), "~DZ~abc.sif");
}

}  // namespace
}  // namespace dazi

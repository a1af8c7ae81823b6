#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fs/filesys_posix.h"
#include "tests/unit/model_fs_posix.h"
#include "tool/rename_run.h"

namespace dazi {
namespace {

using Names = std::vector<std::string>;

// The fixed set, the scan of the drivers and the pattern scans all reach the
// tree through the file system the run is handed: here a model, so nothing
// on disk is looked at.
TEST(RenameRun, SearchesAndRenamesGoToTheFileSystemGiven) {
  test_support::ModelFs model;
  model.MakeFile("/out/bootfont.bin", "f");
  model.MakeFile("/out/i386/txtsetup.sif", "t");
  model.MakeFile("/out/i386/system32/kdcom.dll", "k");
  model.MakeFile("/out/i386/system32/drivers/atapi.sys", "a");
  model.MakeDir("/out/programs/tools");
  {
    EngineFileSystem fileSystem(model);
    RunRename(fileSystem, "/out\\", "/nonexistent/dazi.env");
  }
  EXPECT_EQ(model.Names("/out"), (Names{"BOOTFONT.BIN", "I386", "PROGRAMS"}));
  EXPECT_EQ(model.Names("/out/I386"), (Names{"SYSTEM32", "TXTSETUP.SIF"}));
  EXPECT_EQ(model.Names("/out/I386/SYSTEM32"), (Names{"DRIVERS", "KDCOM.DLL"}));
  EXPECT_EQ(model.Names("/out/I386/SYSTEM32/DRIVERS"), (Names{"ATAPI.SYS"}));
  EXPECT_EQ(model.Names("/out/PROGRAMS"), (Names{"tools"}));
  EXPECT_EQ(model.OpenHandles(), 0u);  // the engine's kept handles went with it
}

}  // namespace
}  // namespace dazi

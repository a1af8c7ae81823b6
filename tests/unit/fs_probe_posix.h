#pragma once
// The probe of a file system: a fixed table of questions about what the
// device does with names, inode numbers, renames and listings, each answered
// through the rename engine's calls alone (posix::System). The same probe
// runs on a real mount through KernelSystem and on the model file system, so
// that a model preset can be checked against the device it stands for.
//
// Making and removing the entries the questions look at is no call of the
// engine's: ProbeHands does it, as another process would (open and unlink
// on a real mount, the model's tree-making calls on the model).

#include <string>
#include <utility>
#include <vector>

#include "support/fs/posix/system_posix.h"
#include "tests/unit/model_fs_posix.h"

namespace dazi::test_support {

class ProbeHands {
 public:
  virtual ~ProbeHands() = default;
  // Each path is absolute; each call tells whether it did what it says.
  virtual bool MakeFile(const std::string& path, const std::string& contents) = 0;
  virtual bool MakeDir(const std::string& path) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // Writes contents to the file that path names, making it where nothing
  // answers to the name, as a build step writing its output does (O_CREAT
  // without O_EXCL, O_TRUNC).
  virtual bool WriteFile(const std::string& path, const std::string& contents) = 0;
  // Lets the kernel forget every entry that no handle holds, so that the next
  // look at one asks the file system anew.
  virtual void Forget() = 0;
};

using ProbeAnswers = std::vector<std::pair<std::string, std::string>>;

// Asks every question in dir, an empty directory, and gives the answers in
// the table's order.
ProbeAnswers Probe(posix::System& system, ProbeHands& hands, const std::string& dir);
// The same on the model, its entries made by its own tree-making calls.
ProbeAnswers Probe(ModelFs& fs, const std::string& dir);

}  // namespace dazi::test_support

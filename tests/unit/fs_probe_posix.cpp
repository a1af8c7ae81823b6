#include "tests/unit/fs_probe_posix.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>

namespace dazi::test_support {

using posix::EntryStatus;
using posix::FollowLink;
using posix::kWorkingDirectory;
using posix::RawEntry;
using posix::Replace;
using posix::System;

namespace {

// Letters in lower case and the upper case that Unicode's simple mapping
// gives them (or, marked, a near miss that no simple mapping joins): each
// pins where a device's folding stops.
const std::pair<const char*, const char*> kLetterPairs[] = {
    {"é", "É"},       // Latin-1 Supplement
    {"ÿ", "Ÿ"},       // Latin-1 Supplement, upper case in Latin Extended-A
    {"ā", "Ā"},       // Latin Extended-A
    {"ı", "I"},       // dotless i, upper case in ASCII
    {"ſ", "S"},       // long s, upper case in ASCII
    {"µ", "Μ"},       // micro sign, upper case in Greek
    {"ω", "Ω"},       // Greek
    {"ς", "Σ"},       // Greek final sigma
    {"ж", "Ж"},       // Cyrillic
    {"ѐ", "Ѐ"},       // Cyrillic, added to Unicode later than the rest
    {"ǆ", "ǅ"},       // a title-case digraph
    {"ḁ", "Ḁ"},       // Latin Extended Additional
    {"ａ", "Ａ"},     // fullwidth forms
    {"ß", "ẞ"},       // no simple mapping: ẞ lower-cases to ß, ß upper-cases to itself
    {"ͱ", "Ͱ"},       // Greek, added to Unicode later than the rest
    {"ȿ", "Ȿ"},       // Latin Extended-B, upper case in Latin Extended-C
    {"k", "\u212a"},  // Kelvin sign: lower-cases to k, k upper-cases to K
};

std::string ErrorName(int error) {
  if (error == 0) return "done";
  const char* name = strerrorname_np(error);
  return name != nullptr ? name : "errno " + std::to_string(error);
}

class Asker {
 public:
  Asker(System& system, ProbeHands& hands, const std::string& dir)
      : system_(system), hands_(hands), dir_(dir) {}

  ProbeAnswers Ask() {
    Answer("inode_other_spelling", InodeOtherSpelling());
    Answer("inode_after_forget", InodeAfterForget());
    Answer("inode_reused", InodeReused());
    Answer("noreplace_onto_missing", NoReplace("nr-a", "nr-a-new", ""));
    Answer("noreplace_onto_taken", NoReplace("nr-b", "nr-c", "nr-c"));
    Answer("noreplace_onto_own_spelling", NoReplace("nr-d", "NR-D", ""));
    Answer("listing_case", ListingCase("MiXeD.txt"));
    Answer("listing_case_non_ascii", ListingCase("Ÿé-Ж.txt"));
    Answer("d_type", EntryTypes());
    Answer("ctime_nanoseconds", Nanoseconds(&EntryStatus::changed));
    Answer("mtime_nanoseconds", Nanoseconds(&EntryStatus::entriesChanged));
    Answer("twin_written", TwinWritten());
    Answer("fold_ascii", Folds("fold-ascii.txt", "FOLD-ASCII.TXT"));
    int n = 0;
    for (const auto& [lower, upper] : kLetterPairs) {
      const std::string prefix = "fold" + std::to_string(++n) + "-";
      Answer(std::string("fold ") + lower + "/" + upper, Folds(prefix + lower, prefix + upper));
    }
    return answers_;
  }

 private:
  std::string At(const std::string& name) const { return dir_ + "/" + name; }
  void Answer(const std::string& question, const std::string& answer) {
    answers_.emplace_back(question, answer);
  }
  int Look(const std::string& name, EntryStatus& status) {
    status = {};
    const int error = system_.Stat(kWorkingDirectory, At(name), status);
    if (error == 0) seen_.push_back(status);
    return error;
  }

  std::string InodeOtherSpelling() {
    if (!hands_.MakeDir(At("Steady"))) return "unmade";
    EntryStatus first, other;
    if (const int error = Look("Steady", first); error != 0) return ErrorName(error);
    if (Look("STEADY", other) != 0) return "no answer";
    return first.id == other.id ? "same" : "differs";
  }

  // The number of "Steady" once the handle that held it is closed and the
  // kernel forgot it.
  std::string InodeAfterForget() {
    EntryStatus first, again;
    if (Look("Steady", first) != 0) return "no answer";
    int handle = -1;
    if (const int error =
            system_.OpenDirectory(kWorkingDirectory, At("Steady"), FollowLink::No, handle);
        error != 0) {
      return ErrorName(error);
    }
    system_.Close(handle);
    hands_.Forget();
    if (const int error = Look("Steady", again); error != 0) return ErrorName(error);
    return first.id == again.id ? "same" : "differs";
  }

  // Whether the number of a file just removed goes to the next file made,
  // in any of a few tries: where the file system frees numbers in the
  // background (XFS), the next file made may come first.
  std::string InodeReused() {
    for (int round = 0; round < 3; ++round) {
      const std::string gone = "reuse-" + std::to_string(round) + "a";
      const std::string next = "reuse-" + std::to_string(round) + "b";
      EntryStatus before, made;
      if (!hands_.MakeFile(At(gone), "a")) return "unmade";
      if (const int error = Look(gone, before); error != 0) return ErrorName(error);
      hands_.Remove(At(gone));
      hands_.Forget();
      if (!hands_.MakeFile(At(next), "b")) return "unmade";
      if (const int error = Look(next, made); error != 0) return ErrorName(error);
      if (before.id == made.id) return "yes";
    }
    return "no";
  }

  std::string NoReplace(const std::string& from, const std::string& to, const std::string& taken) {
    if (!hands_.MakeFile(At(from), from)) return "unmade";
    if (!taken.empty() && !hands_.MakeFile(At(taken), taken)) return "unmade";
    return ErrorName(
        system_.Rename(kWorkingDirectory, At(from), kWorkingDirectory, At(to), Replace::Never));
  }

  int Listing(const std::string& dir, std::vector<RawEntry>& entries) {
    int handle = -1;
    const int error = system_.OpenDirectory(kWorkingDirectory, dir, FollowLink::No, handle);
    if (error != 0) return error;
    std::vector<RawEntry> all;
    const int read = system_.ReadEntries(handle, all);
    system_.Close(handle);
    for (const RawEntry& entry : all) {
      if (entry.name != "." && entry.name != "..") entries.push_back(entry);
    }
    return read;
  }

  // How a listing spells a name made as given: as made, or in one case.
  std::string ListingCase(const std::string& name) {
    if (!hands_.MakeFile(At(name), name)) return "unmade";
    std::vector<RawEntry> entries;
    if (const int error = Listing(dir_, entries); error != 0) return ErrorName(error);
    for (const RawEntry& entry : entries) {
      if (entry.name == name) return "as made";
    }
    EntryStatus made, shown;
    if (Look(name, made) != 0) return "not found";
    for (const RawEntry& entry : entries) {
      if (Look(entry.name, shown) == 0 && shown.id == made.id) return "as \"" + entry.name + "\"";
    }
    return "missing";
  }

  std::string EntryTypes() {
    if (!hands_.MakeDir(At("typed/sub")) || !hands_.MakeFile(At("typed/file"), "f")) {
      return "unmade";
    }
    std::vector<RawEntry> entries;
    if (const int error = Listing(At("typed"), entries); error != 0) return ErrorName(error);
    size_t unknown = 0;
    for (const RawEntry& entry : entries) unknown += entry.type == DT_UNKNOWN ? 1 : 0;
    return unknown == 0 ? "given" : unknown == entries.size() ? "unknown" : "mixed";
  }

  // Over every look the probe has made so far, and the directory's own.
  std::string Nanoseconds(std::pair<int64_t, long> EntryStatus::*time) {
    EntryStatus dir;
    if (system_.Stat(kWorkingDirectory, dir_, dir) == 0) seen_.push_back(dir);
    for (const EntryStatus& status : seen_) {
      if ((status.*time).second != 0) return "some";
    }
    return "none";
  }

  // What a second spelling written beside a file becomes: a second entry,
  // or the first one's contents.
  std::string TwinWritten() {
    const std::string first = "twin/Twin.txt";
    if (!hands_.MakeFile(At(first), "first")) return "unmade";
    if (!hands_.WriteFile(At("twin/TWIN.TXT"), "second!")) return "refused";
    std::vector<RawEntry> entries;
    if (const int error = Listing(At("twin"), entries); error != 0) return ErrorName(error);
    if (entries.size() != 1) return std::to_string(entries.size()) + " entries";
    EntryStatus status;
    if (Look(first, status) != 0) return "one entry, not as made";
    return status.size == 7 ? "into the first" : "lost";
  }

  std::string Folds(const std::string& made, const std::string& asked) {
    if (!hands_.MakeFile(At(made), made)) return "unmade";
    EntryStatus status;
    const int error = Look(asked, status);
    return error == 0 ? "yes" : error == ENOENT ? "no" : ErrorName(error);
  }

  System& system_;
  ProbeHands& hands_;
  const std::string dir_;
  ProbeAnswers answers_;
  std::vector<EntryStatus> seen_;
};

class ModelHands final : public ProbeHands {
 public:
  explicit ModelHands(ModelFs& fs) : fs_(fs) {}
  bool MakeFile(const std::string& path, const std::string& contents) override {
    return fs_.MakeFile(path, contents) != 0;
  }
  bool MakeDir(const std::string& path) override { return fs_.MakeDir(path) != 0; }
  bool Remove(const std::string& path) override { return fs_.Remove(path); }
  bool WriteFile(const std::string& path, const std::string& contents) override {
    return fs_.WriteFile(path, contents) != 0;
  }
  void Forget() override {}  // the model lets an entry go once no handle holds it

 private:
  ModelFs& fs_;
};

}  // namespace

ProbeAnswers Probe(System& system, ProbeHands& hands, const std::string& dir) {
  return Asker(system, hands, dir).Ask();
}

ProbeAnswers Probe(ModelFs& fs, const std::string& dir) {
  ModelHands hands(fs);
  return Probe(fs, hands, dir);
}

}  // namespace dazi::test_support

#!/usr/bin/env python3
"""Seeds faults into the POSIX rename engine one at a time and runs the unit
tests (model file system included) on each, under the sanitizers:

    tests/mutants.py [BUILD_DIR]      # default build/mutants

Each mutant is one textual change of fs/posix/ (a comparison turned, an
outcome swapped, an off-by-one, a check dropped). A mutant is killed when the
unit tests fail; the sources are restored after each. Prints one line a
mutant and the count; exits 1 when fewer than 18 of them are killed."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
POSIX = "support/fs/posix/"

# (file, text, replacement, what the change does)
MUTANTS = [
    ("in_place_posix.cpp", "facts_.asciiOnly = DifferOnlyInAscii(from_, to_);",
     "facts_.asciiOnly = true;", "any two spellings count as differing in ASCII only"),
    ("in_place_posix.cpp", "spellings.size() > 1 && facts_.where", "spellings.size() > 2 && facts_.where",
     "two spellings of a missing name: the first is taken"),
    ("in_place_posix.cpp", "if (!MeansFlagRefused(error)) return error;",
     "if (!MeansFlagRefused(error) || error != 0) return error;",
     "no fallback where the no-replace flag is refused"),
    ("in_place_posix.cpp", "return error == 0 ? EEXIST : error;", "return error;",
     "a target that exists is not reported taken"),
    ("in_place_posix.cpp", "    RenameNoReplace(parked, from_);\n", "",
     "a failed second step leaves the entry parked"),
    ("in_place_posix.cpp", "} else if (error == EEXIST) {", "} else if (error == ENOENT) {",
     "a taken target read as a missing entry"),
    ("in_place_posix.cpp", "if (single == to_) return Shown::AsAsked;", "if (single != to_) return Shown::AsAsked;",
     "the listing's spelling after a change read the wrong way round"),
    ("in_place_posix.cpp", "run_.system.Stat(dir_.fd, swapped, status) == ENOENT",
     "run_.system.Stat(dir_.fd, swapped, status) != ENOENT", "the case probe turned"),
    ("in_place_posix.cpp", "facts_.appeared = kept != nullptr && kept->Holds(to_) && !kept->Holds(from_);",
     "facts_.appeared = kept != nullptr && kept->Holds(to_);", "the old spelling not looked for"),
    ("in_place_posix.cpp", "  facts_.where = Where::Given;\n  facts_.target = Target::Taken;",
     "  facts_.where = Where::Given;", "a spelling given and seen is not taken"),
    ("case_change_posix.cpp", '.movingEmpties = Yes, .step = Fail}', '.movingEmpties = Yes, .step = ThroughParked}',
     "a directory moved where moving empties it"),
    ("case_change_posix.cpp", '.oneInode = No, .step = Fail}', '.oneInode = No, .step = RenameOnto}',
     "another entry under the new spelling replaced"),
    ("case_change_posix.cpp", "while (row + 1 < std::size(kRows)", "while (row + 2 < std::size(kRows)",
     "the last row never decides"),
    ("case_change_posix.cpp", '{.name = "gone", .where = Where::Gone, .step = Fail}',
     '{.name = "gone", .where = Where::Gone, .step = Done}', "a vanished entry reported renamed"),
    ("dir_walk_posix.cpp", "JoinPath(parent.path, name))) != 0) return ELOOP;",
     "JoinPath(parent.path, name))) == 0) return ELOOP;", "a link where a directory was seen is followed"),
    ("in_place_posix.cpp", "return run.system.Stat(dir.fd, name, status) == 0 && status.kind != EntryKind::Directory;",
     "return run.system.Stat(dir.fd, name, status) != 0 || status.kind != EntryKind::Directory;",
     "a failed look at a directory reads as a file"),
    ("dir_walk_posix.cpp", "(seen.viaLink != next.viaLink || other)", "(other)",
     "a directory reached through a link where none was before"),
    ("dir_listing_posix.h", "return !kept.empty();", "return false;",
     "a directory read again after its spelling was found"),
    ("dir_listing_posix.cpp", "  if (names_.erase(name) == 0 || !indexed_) return;",
     "  if (names_.count(name) == 0 || !indexed_) return;", "a renamed spelling stays in the listing"),
    ("fs_quirks_posix.cpp", 'type == "fuse.fusefat"', 'type == "fusefat"',
     "FAT through FUSE not known to lose moved contents"),
    ("fs_quirks_posix.cpp", 'type.rfind("fuse", 0) != 0', 'type.rfind("fuse", 0) == 0',
     "inode numbers trusted on FUSE and not elsewhere"),
    ("search_posix.cpp", "if (upperNames.count(LocaleUpperCase(own)) == 0)", "if (upperNames.count(LocaleUpperCase(own)) != 0)",
     "parked entries shown under their own name where it is taken"),
    ("move_posix.cpp", "(quirks.losesMovedContents && !IsKnownNonDirectory(run, from, onDisk)) ||", "",
     "a directory moved where moving empties it"),
    ("dir_walk_posix.cpp", "  if (first) NoteSeenName(next.name);\n", "",
     "a directory entered is not known by name when it is renamed"),
]


def run(command, **kw):
    return subprocess.run(command, cwd=ROOT, capture_output=True, text=True, **kw)


def run_tests(build, env):
    """The unit tests; one that hangs (a FUSE daemon spinning) fails them."""
    tests = subprocess.Popen([str(build / "dazi_tests"), "--gtest_brief=1"], cwd=ROOT, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        out, err = tests.communicate(timeout=300)
        return subprocess.CompletedProcess(tests.args, tests.returncode, out, err)
    except subprocess.TimeoutExpired:
        # The tests wait on the daemon and cannot end before it does.
        subprocess.run(["pkill", "-9", "-f", "fusefat|exfat-fuse|ntfs-3g"], check=False)
        tests.kill()
        tests.communicate()
        return subprocess.CompletedProcess([], 124, "[  FAILED  ] timed out", "")


def main():
    build = ROOT / (sys.argv[1] if len(sys.argv) > 1 else "build/mutants")
    if not (build / "CMakeCache.txt").exists():
        run(["cmake", "-S", ".", "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", "-DDAZI_SANITIZE=ON"],
            check=True)
    env = {"ASAN_OPTIONS": "allocator_may_return_null=1:detect_leaks=1:exitcode=86",
           "UBSAN_OPTIONS": "halt_on_error=1:exitcode=87", "PATH": "/usr/bin:/bin:/usr/sbin:/sbin"}
    killed = 0
    for number, (name, text, replacement, what) in enumerate(MUTANTS, 1):
        path = ROOT / POSIX / name
        original = path.read_text()
        assert original.count(text) == 1, f"mutant {number}: text not found once in {name}"
        try:
            path.write_text(original.replace(text, replacement))
            built = run(["cmake", "--build", str(build), "--target", "dazi_tests", "-j2"])
            tests = run_tests(build, env) if built.returncode == 0 else built
        finally:
            path.write_text(original)
        dead = built.returncode == 0 and tests.returncode != 0
        killed += dead
        failed = [l.split()[3] for l in tests.stdout.splitlines() if l.startswith("[  FAILED  ]") and
                  len(l.split()) > 3 and "." in l.split()[3]]
        print(f"{number:2} {'killed' if dead else 'SURVIVED' if built.returncode == 0 else 'NOBUILD'}"
              f"  {name}: {what}" + (f"  [{', '.join(sorted(set(failed))[:3])}]" if failed else ""),
              flush=True)
    print(f"mutants: {killed} of {len(MUTANTS)} killed")
    return 0 if killed >= 18 else 1


if __name__ == "__main__":
    sys.exit(main())

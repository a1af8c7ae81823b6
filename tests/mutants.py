#!/usr/bin/env python3
"""Seeds faults into the POSIX rename engine one at a time and runs the unit
tests (model file system included) on each:

    tests/mutants.py --seed S --count N [--least K] [BUILD_DIR]
    tests/mutants.py --listed [--least K] [BUILD_DIR]

Drawn at random (the default): each mutant is one change on a line drawn at
random from the sources of support/fs/posix/ (tests left out): a comparison
turned, a boolean, a negation, a logical operator or an enumerator swapped,
an off-by-one. Lines with nothing to change are drawn again; so is a mutant
that does not build (the count of those is printed). --listed runs the fixed
list below instead; an entry whose text is not found once is not applicable.

The build directory (default build/mutants) is configured as the native
preset (RelWithDebInfo, no sanitizers) and only the unit test binary is
rebuilt. A mutant is killed when the tests fail or outlast --timeout. The
source is restored after each mutant, also on Ctrl-C, and checked against
git. Prints one line a mutant and `K of N killed`; exits 1 when fewer than
--least are killed."""
import argparse
import ctypes
import os
import pathlib
import random
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
POSIX = ROOT / "support/fs/posix"

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

# Each operator, where it stands between blanks, and what it may become.
TURNED = {"==": ["!="], "!=": ["=="], "<": [">=", "<="], ">=": ["<", ">"],
          "<=": [">", "<"], ">": ["<=", ">="], "&&": ["||"], "||": ["&&"]}
OPERATOR = re.compile(r"(?<= )(==|!=|<=|>=|&&|\|\||<|>)(?= )")
NEGATION = re.compile(r"!(?!=)")
BOOLEAN = re.compile(r"\b(true|false)\b")
LITERAL = re.compile(r"(?<![\w.'])\d+(?![\w.'])")
QUALIFIED = re.compile(r"\b(\w+)::(\w+)\b(?!\s*\()")
WORD = re.compile(r"(?<![\w.>:])(\w+)\b(?!\s*\(|::)")
ENUM = re.compile(r"enum\s+class\s+(\w+)[^{;]*\{([^}]*)\}")
ALIAS = re.compile(r"constexpr\s+(\w+)\s+(\w+)\s*=\s*\1::\2\s*;")
USING_ENUM = re.compile(r"using\s+enum\s+(\w+)\s*;")


def run(command, **kw):
    return subprocess.run(command, cwd=ROOT, capture_output=True, text=True, **kw)


# --- The sources and the changes a line allows ---------------------------

def sources():
    return sorted(p for p in POSIX.iterdir()
                  if p.suffix in (".cpp", ".h") and not p.stem.endswith("_test"))


def masked_lines(text):
    """The lines with comments, string and character literals and
    preprocessor lines blanked out, each the length it was."""
    out, in_block = [], False
    for line in text.split("\n"):
        chars, i = list(line), 0
        if not in_block and line.lstrip().startswith("#"):
            out.append(" " * len(line))
            continue
        while i < len(chars):
            if in_block:
                end = line.find("*/", i)
                stop = len(chars) if end < 0 else end + 2
                chars[i:stop] = " " * (stop - i)
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                chars[i:] = " " * (len(chars) - i)
                break
            elif line.startswith("/*", i):
                in_block = True
            elif chars[i] in "\"'":
                stop = literal_end(line, i)
                chars[i:stop] = " " * (stop - i)
                i = stop
            else:
                i += 1
        out.append("".join(chars))
    return out


def literal_end(line, start):
    i = start + 1
    while i < len(line) and line[i] != line[start]:
        i += 2 if line[i] == "\\" else 1
    return min(i + 1, len(line))


def enumerations(files):
    """Every enum class of the engine with its enumerators."""
    enums = {}
    for path in files:
        text = "\n".join(masked_lines(path.read_text()))
        for name, body in ENUM.findall(text):
            enums[name] = [e.split("=")[0].strip() for e in body.split(",") if e.strip()]
    return enums


def bare_enumerators(text, enums):
    """Enumerators a file names without their enum: `using enum`, or a
    constant that stands for one."""
    bare = {}
    for enum in USING_ENUM.findall(text):
        bare.update({e: enum for e in enums.get(enum, [])})
    for enum, value in ALIAS.findall(text):
        bare[value] = enum
    return bare


def spots(line, enums, bare):
    """(column, old, new, kind) of every change the masked line allows."""
    found = []
    for m in OPERATOR.finditer(line):
        for new in TURNED[m.group(1)]:
            kind = "off by one" if {m.group(1), new} in ({"<", "<="}, {">", ">="}) else "turned"
            found.append((m.start(), m.group(1), new, kind))
    for m in NEGATION.finditer(line):
        found.append((m.start(), "!", "", "negation dropped"))
    for m in BOOLEAN.finditer(line):
        found.append((m.start(), m.group(1), "false" if m.group(1) == "true" else "true", "flipped"))
    for m in LITERAL.finditer(line):
        value = int(m.group(0))
        for new in (value + 1, value - 1):
            if new >= 0:
                found.append((m.start(), m.group(0), str(new), "off by one"))
    for m in QUALIFIED.finditer(line):
        for other in enums.get(m.group(1), []):
            if other != m.group(2):
                found.append((m.start(2), m.group(2), other, "outcome"))
    for m in WORD.finditer(line):
        enum = bare.get(m.group(1))
        for other in enums.get(enum, []) if enum else []:
            if other != m.group(1):
                found.append((m.start(), m.group(1), other, "outcome"))
    return found


class Pool:
    """Every line of the engine's sources, with what each allows."""

    def __init__(self):
        files = sources()
        enums = enumerations(files)
        self.lines = []
        for path in files:
            text = path.read_text()
            bare = bare_enumerators(text, enums)
            for number, masked in enumerate(masked_lines(text), 1):
                self.lines.append((path, number, spots(masked, enums, bare)))


def draw(pool, rng, taken):
    """One mutant not drawn before: (path, line number, column, old, new, kind)."""
    for _ in range(100000):
        path, number, found = rng.choice(pool.lines)
        if not found:
            continue
        column, old, new, kind = rng.choice(found)
        key = (path, number, column, new)
        if key not in taken:
            taken.add(key)
            return path, number, column, old, new, kind
    raise SystemExit("mutants: no more mutants to draw")


def mutated(text, number, column, old, new):
    lines = text.split("\n")
    line = lines[number - 1]
    assert line[column:column + len(old)] == old, (number, column, old)
    lines[number - 1] = line[:column] + new + line[column + len(old):]
    return "\n".join(lines)


# --- Building, testing, restoring ---------------------------------------

def configure(build):
    if not (build / "CMakeCache.txt").exists():
        result = run(["cmake", "-S", ".", "-B", str(build), "-G", "Unix Makefiles",
                      "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
        if result.returncode != 0:
            raise SystemExit("mutants: configure failed\n" + result.stdout + result.stderr)


def build_tests(build):
    return run(["cmake", "--build", str(build), "--target", "dazi_tests", "-j2"]).returncode == 0


def become_subreaper():
    """Daemons the tests start (FUSE mounts) are then reparented to this
    process, so that those outliving a test run can be found and ended."""
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def orphans():
    """Processes that were reparented to this one."""
    me, found = os.getpid(), []
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
            except OSError:
                continue
            if int(stat.rsplit(")", 1)[1].split()[1]) == me:
                found.append(int(entry.name))
    return found


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def fuse_mounts():
    with open("/proc/self/mountinfo") as table:
        return {line.split()[4] for line in table if " - fuse" in line}


def loop_devices():
    return {p.parent.parent.name for p in pathlib.Path("/sys/block").glob("loop*/loop/backing_file")}


def clean_up(mounts_before, loops_before):
    """Ends what a test run left behind: its mounts, its daemons, its loop
    devices."""
    for point in fuse_mounts() - mounts_before:
        run(["fusermount", "-u", "-z", point.encode().decode("unicode_escape")])
    deadline = time.monotonic() + 3
    while orphans() and time.monotonic() < deadline:
        reap()
        time.sleep(0.1)
    for pid in orphans():
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    time.sleep(0.1)
    reap()
    for device in loop_devices() - loops_before:
        run(["losetup", "-d", f"/dev/{device}"])


def run_tests(build, timeout):
    """(passed, what failed) of the unit tests; a run that outlasts the
    timeout fails, and nothing it started is left running."""
    mounts, loops = fuse_mounts(), loop_devices()
    tests = subprocess.Popen([str(build / "dazi_tests"), "--gtest_brief=1"], cwd=ROOT,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             errors="replace", start_new_session=True)
    try:
        out, _ = tests.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        out = None
    finally:
        try:
            os.killpg(tests.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        tests.communicate()
        clean_up(mounts, loops)
    if out is None:
        return False, f"on a timeout ({timeout} s)"
    if tests.returncode == 0:
        return True, ""
    return False, failed_tests(out, tests.returncode)


def failed_tests(out, code):
    names = sorted({line.split()[3] for line in out.splitlines()
                    if line.startswith("[  FAILED  ]") and len(line.split()) > 3 and "." in line.split()[3]})
    if names:
        return "by " + ", ".join(names[:3]) + (f" and {len(names) - 3} more" if len(names) > 3 else "")
    return f"on a crash ({signal.Signals(-code).name})" if code < 0 else f"with exit code {code}"


def is_clean(path):
    return run(["git", "diff", "--quiet", "--", str(path)]).returncode == 0


def try_mutant(build, path, text, timeout):
    """None when the mutant does not build, else (killed, by what)."""
    original = path.read_bytes()
    clean = is_clean(path)
    try:
        path.write_text(text)
        if not build_tests(build):
            return None
        passed, why = run_tests(build, timeout)
        return not passed, why
    finally:
        path.write_bytes(original)
        if path.read_bytes() != original or (clean and not is_clean(path)):
            raise SystemExit(f"mutants: {path} not restored; check it with git diff")


# --- The two ways of choosing mutants -----------------------------------

def self_check(build, timeout):
    if not build_tests(build):
        raise SystemExit("mutants: the unmutated unit tests do not build")
    started = time.monotonic()
    passed, why = run_tests(build, timeout)
    if not passed:
        raise SystemExit(f"mutants: the unmutated unit tests fail: {why}")
    print(f"unmutated: tests pass in {time.monotonic() - started:.0f} s", flush=True)


def report(where, change, result, seconds):
    killed, why = result
    verdict = f"killed {why}" if killed else "SURVIVED"
    print(f"{where}  {change}  {verdict}  [{seconds:.0f} s]", flush=True)


def random_mutants(build, seed, count, timeout):
    rng, pool, taken = random.Random(seed), Pool(), set()
    killed = tried = redrawn = 0
    while tried < count:
        path, number, column, old, new, kind = draw(pool, rng, taken)
        original = path.read_text()
        started = time.monotonic()
        result = try_mutant(build, path, mutated(original, number, column, old, new), timeout)
        if result is None:
            redrawn += 1
            continue
        tried += 1
        killed += result[0]
        shown = original.split("\n")[number - 1].strip()
        report(f"{path.name}:{number}", f"{kind}: `{old}` -> `{new or '(nothing)'}` in `{shown}`",
               result, time.monotonic() - started)
    print(f"seed {seed}: {redrawn} drawn again because they did not build")
    return killed, tried


def listed_mutants(build, timeout):
    killed = tried = 0
    for number, (name, text, replacement, what) in enumerate(MUTANTS, 1):
        path = POSIX / name
        original = path.read_text()
        if original.count(text) != 1:
            print(f"{number:2} {name}: {what}  not applicable ({original.count(text)} matches)")
            continue
        started = time.monotonic()
        result = try_mutant(build, path, original.replace(text, replacement), timeout)
        if result is None:
            print(f"{number:2} {name}: {what}  does not build")
            continue
        tried += 1
        killed += result[0]
        report(f"{number:2} {name}", what, result, time.monotonic() - started)
    return killed, tried


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build/mutants", help="build directory")
    chosen = parser.add_mutually_exclusive_group(required=True)
    chosen.add_argument("--seed", type=int, help="seed of the draw")
    chosen.add_argument("--listed", action="store_true", help="the fixed list instead of a draw")
    parser.add_argument("--count", type=int, default=20, help="mutants to draw (default 20)")
    parser.add_argument("--least", type=int, default=0, help="exit 1 when fewer are killed")
    parser.add_argument("--timeout", type=int, default=120, help="seconds a test run may take")
    return parser.parse_args()


def main():
    args = arguments()
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    become_subreaper()
    build = ROOT / args.build
    configure(build)
    self_check(build, args.timeout)
    if args.listed:
        killed, tried = listed_mutants(build, args.timeout)
    else:
        killed, tried = random_mutants(build, args.seed, args.count, args.timeout)
    print(f"{killed} of {tried} killed")
    return 0 if killed >= args.least else 1


if __name__ == "__main__":
    sys.exit(main())

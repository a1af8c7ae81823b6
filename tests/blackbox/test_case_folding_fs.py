"""Native runs on file systems that fold letter case, or that keep it apart
but are not ext4: exFAT, NTFS (kept apart, and folded by lowntfs-3g's
ignore_case) and FAT, each made fresh from an image and mounted through FUSE
for the test. The same trees as on ext4 give the same report and the same
names, apart from what a file system cannot do; nothing is lost; interrupted
and killed runs strand no name, and a later run finishes the job.

FUSE file systems may number one entry anew for each spelling it is looked
up under, so entries are matched up by their path without regard to case,
not by inode."""

import os
import random
import re
import shutil
import signal
import subprocess
import time
from contextlib import contextmanager
from pathlib import Path

import pytest

from conftest import BANNER, NATIVE, NOTES, Program
from test_faults import LARGE_CONFIG, large_tree
from test_parity import random_tree
from test_rename_run import SAMPLE
from trees import assert_nothing_lost, inventory, make_tree, read_tree

F = b" - Failure."


class FileSystem:
    """One row of the table: how to make and mount the file system, what it
    cannot hold, and how the run behaves there.

    mount: the command line that mounts it for the run ({source}: the loop
    device or the image, {point}: the mount point); look: the one under which
    names are made and looked at, where it differs (lowntfs-3g with
    ignore_case lists every name in lower case)."""

    def __init__(self, name, make, mount, look=None, loop=True, case_twins=False,
                 steady_inodes=False, renames_directories=True, lists_case=True):
        self.name = name
        self.make = make
        self.mount = mount
        self.look = look or mount
        self.loop = loop
        self.case_twins = case_twins
        self.steady_inodes = steady_inodes
        self.renames_directories = renames_directories
        self.lists_case = lists_case

    def __repr__(self):
        return self.name

    def tools(self):
        return {self.make[0], self.mount[0], self.look[0]} | ({"losetup"} if self.loop else set())

    def entries(self, root):
        """The inventory of the tree, keyed by inode where the file system
        numbers an entry the same under every spelling and across mounts, else
        by path without regard to case."""
        found = inventory(root)
        return found if self.steady_inodes else by_path(found)

    def report(self, ext4_report, paths):
        """The report expected here from the one printed on ext4 for the same
        tree. Where directories are never renamed, the line of each directory
        not spelled in upper case already fails. A line's name tells which
        entries it may be: the tree's directories and files have names apart,
        and the directories of one name are all in upper case or none is."""
        if self.renames_directories:
            return ext4_report
        directories, files = names_by_kind(paths)
        assert not directories.keys() & files, "a name of both a file and a directory"
        spelled = {name: {s == name for s in spellings} for name, spellings in directories.items()}
        assert all(len(upper) == 1 for upper in spelled.values())
        lines = ext4_report.split(b"\r\n")
        for i, line in enumerate(lines):
            name = line.rsplit(b"\\", 1)[-1].upper()
            if spelled.get(name) == {False} and not line.endswith(F):
                lines[i] = line + F
        return b"\r\n".join(lines)

    def names_after(self, ext4_before, ext4_after):
        """The tree expected here after the run (read_tree's form), from the
        inventories of the ext4 tree before and after it: the same, but for
        directories that keep their names where they are never renamed."""
        found = []
        for ino, (path, kind, _) in ext4_before.items():
            new_path = ext4_after[ino][0]
            if not self.renames_directories:
                head, _, _ = path.rpartition(b"/")
                tail = new_path if kind != "dir" else path
                new_path = (head + b"/" if head else b"") + tail.rpartition(b"/")[2]
            found.append(new_path.decode() + ("/" if kind == "dir" else ""))
        return sorted(found)


EXFAT = FileSystem("exfat", ["mkfs.exfat", "{image}"], ["mount.exfat-fuse", "{source}", "{point}"])
# ntfs-3g numbers an entry by its file record.
NTFS = FileSystem("ntfs", ["mkntfs", "-F", "-Q", "{image}"], ["ntfs-3g", "{source}", "{point}"],
                  case_twins=True, steady_inodes=True)
NTFS_IGNORE_CASE = FileSystem("ntfs_ignore_case", NTFS.make,
                              ["lowntfs-3g", "-o", "ignore_case", "{source}", "{point}"],
                              look=NTFS.mount, steady_inodes=True, lists_case=False)
# fusefat loses the contents of a directory that is renamed: the run leaves
# directories there as they are and reports them as failed.
FAT = FileSystem("fat", ["mkfs.fat", "{image}"], ["fusefat", "-o", "rw+", "{source}", "{point}"],
                 loop=False, renames_directories=False)
FILE_SYSTEMS = {fs.name: fs for fs in [EXFAT, NTFS, NTFS_IGNORE_CASE, FAT]}
IMAGE_MIB = 64


def names_by_kind(paths):
    """The names of the tree's directories, in upper case, each with the
    spellings it has in the tree; and those of its files, in upper case."""
    directories, files = {}, set()
    for p in paths:
        parts = [part.encode() for part in p.rstrip("/").split("/")]
        for part in parts[:-1] + (parts[-1:] if p.endswith("/") else []):
            directories.setdefault(part.upper(), set()).add(part)
        if not p.endswith("/"):
            files.add(parts[-1].upper())
    return directories, files


def report_lines(report):
    """The lines of a report; where neighbouring lines name entries that
    differ in case only, these come in the order of their directory, which
    differs between file systems, and are sorted."""
    lines = report.split(b"\r\n")
    key = lambda line: line.removesuffix(F).upper()
    ordered, start = [], 0
    for end in range(1, len(lines) + 1):
        if end == len(lines) or key(lines[end]) != key(lines[start]):
            ordered += sorted(lines[start:end])
            start = end
    return ordered


def cannot_mount(fs):
    """Why this machine cannot mount the file system, or None."""
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    if fs.loop and os.geteuid() != 0:
        return "not root: no loop device can be attached"
    if fs.loop and not os.path.exists("/dev/loop-control"):
        return "no loop devices"
    missing = sorted(t for t in fs.tools() if shutil.which(t) is None)
    if missing:
        return "missing " + ", ".join(missing)
    return None


def holders(path):
    """The processes that have path open: a FUSE daemon until it has ended."""
    target = os.path.realpath(path)
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
            if any(os.readlink(f"/proc/{pid}/fd/{fd}") == target for fd in fds):
                found.append(int(pid))
        except OSError:
            pass  # ended meanwhile, or not ours to look at
    return found


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


class Mount:
    """A file system made fresh in an image below workdir and mounted."""

    def __init__(self, fs, workdir):
        self.fs = fs
        self.image = workdir / f"{fs.name}.img"
        self.path = workdir / fs.name
        self.device = None
        self.mounted = None  # the command line in use

    def create(self):
        self.path.mkdir()
        with open(self.image, "wb") as f:
            f.truncate(IMAGE_MIB * 2**20)
        subprocess.run(self.argv(self.fs.make), check=True, capture_output=True)
        if self.fs.loop:
            attached = subprocess.run(["losetup", "--find", "--show", str(self.image)],
                                      capture_output=True, text=True)
            if attached.returncode != 0:
                pytest.skip(f"no loop device to attach: {attached.stderr.strip()}")
            self.device = attached.stdout.strip()
        self.mount(self.fs.look)

    def source(self):
        return self.device or str(self.image)

    def argv(self, template):
        return [a.format(image=self.image, source=self.source(), point=self.path)
                for a in template]

    def mount(self, template):
        # The daemon of an earlier mount of the same volume may still be
        # writing it back; NTFS refuses a second mount meanwhile.
        for _ in range(50):
            done = subprocess.run(self.argv(template), capture_output=True)
            if done.returncode == 0 and os.path.ismount(self.path):
                self.mounted = template
                return
            time.sleep(0.1)
        raise AssertionError(f"{' '.join(self.argv(template))}: {done.stderr.decode()}")

    def unmount(self):
        if self.mounted is None:
            return
        for _ in range(50):
            if subprocess.run(["fusermount", "-u", str(self.path)],
                              capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        else:
            subprocess.run(["umount", "-l", str(self.path)], capture_output=True)
        self.mounted = None
        assert wait_until(lambda: not holders(self.source()), 30), "the FUSE daemon did not end"

    @contextmanager
    def for_the_run(self):
        """Mounted as the run should see it, then again as names are looked
        at."""
        if self.fs.mount != self.fs.look:
            self.unmount()
            self.mount(self.fs.mount)
        try:
            yield
        finally:
            if self.mounted != self.fs.look:
                self.unmount()
                self.mount(self.fs.look)

    def close(self):
        try:
            self.unmount()
        finally:
            if self.device:
                for _ in range(50):
                    if subprocess.run(["losetup", "-d", self.device],
                                      capture_output=True).returncode == 0:
                        break
                    time.sleep(0.1)


@contextmanager
def mounted(fs, workdir):
    """The file system, made and mounted below workdir, or the test skipped
    with the reason where this machine cannot mount it."""
    why = cannot_mount(fs)
    if why:
        pytest.skip(f"cannot mount {fs.name} here: {why}")
    mount = Mount(fs, Path(workdir))
    try:
        mount.create()
        yield mount
    finally:
        mount.close()


@pytest.fixture
def mount(request, tmp_path):
    with mounted(FILE_SYSTEMS[request.param], tmp_path) as made:
        yield made


@pytest.fixture
def native():
    """The native program; configure(data) writes its configuration file,
    None takes it away."""
    path = NATIVE.with_suffix(".env")

    def configure(data):
        path.unlink(missing_ok=True)
        if data is not None:
            path.write_bytes(data)

    configure(None)
    yield Program("native", NATIVE), configure
    configure(None)


def run(program, out):
    result = program.run(str(out), cwd=out.parent)
    assert (result.stderr, result.code) == (b"", 0)
    assert result.stdout.startswith(BANNER)
    return result.stdout


PARKED = b"~DZ~"
TEMPORARY = re.compile(rb"~DZ")


def by_path(found):
    """An inventory keyed by each entry's path in upper case, a parked name
    read as the name it waits for."""
    keyed = {}
    for path, kind, content in found.values():
        settled = b"/".join(p[len(PARKED):] if p.startswith(PARKED) else p
                            for p in path.split(b"/"))
        key = settled.upper()
        assert key not in keyed, f"{path!r} and {keyed[key][0]!r} differ in case only"
        keyed[key] = (settled, kind, content)
    return keyed


def temporary_names(found):
    """The entries under a parked name and those under any other temporary
    name (whose own name is lost)."""
    names = [os.path.basename(path) for path, _, _ in found.values()]
    parked = [n for n in names if n.startswith(PARKED) and len(n) > len(PARKED)]
    other = [n for n in names if TEMPORARY.match(n) and n not in parked]
    return parked, other


TWINS = SAMPLE + ["i386/system32/drivers/abc.sys", "i386/system32/drivers/ABC.SYS"]
TREES = {
    "sample": (SAMPLE, None),
    "random": (random_tree(3), None),
    "configured": (large_tree(directories=4, files=25), LARGE_CONFIG),
    "twins": (TWINS, None),
}
CASES = [pytest.param(fs.name, tree, id=f"{fs.name}-{tree}")
         for fs in FILE_SYSTEMS.values() for tree in TREES
         if tree != "twins" or fs.case_twins]


def reference_run(program, workdir, paths):
    """The run on ext4: its report and the inventories before and after."""
    out = workdir / "ext4" / "out"
    make_tree(out, paths)
    before = inventory(out)
    started = time.monotonic()
    report = run(program, out)
    return report, before, inventory(out), time.monotonic() - started


@pytest.mark.parametrize("mount, tree", CASES, indirect=["mount"])
def test_same_run_as_on_ext4(native, mount, tree, tmp_path):
    program, configure = native
    paths, configuration = TREES[tree]
    configure(configuration)
    report, ext4_before, ext4_after, _ = reference_run(program, tmp_path, paths)
    out = mount.path / "out"
    make_tree(out, paths)
    before = mount.fs.entries(out)
    with mount.for_the_run():
        printed = run(program, out)
    # Where the listing shows every name in lower case, the report prints
    # the names that the scans found so.
    shown = (lambda line: line) if mount.fs.lists_case else bytes.upper
    assert [shown(line) for line in report_lines(printed)] == \
        [shown(line) for line in report_lines(mount.fs.report(report, paths))]
    assert read_tree(out) == mount.fs.names_after(ext4_before, ext4_after)
    assert_nothing_lost(before, mount.fs.entries(out))


RENAME_CALLS = ["syscalls:sys_enter_rename", "syscalls:sys_enter_renameat",
                "syscalls:sys_enter_renameat2"]


@pytest.mark.parametrize("mount", ["exfat"], indirect=True)
def test_exfat_renames_each_entry_once(native, mount, tmp_path):
    """exFAT folds case, so the target of a case change is the entry itself:
    one rename does it, without a temporary name: at most one attempt per
    printed line (a path listed twice, a missing entry), and one more, the
    first, which finds that the mount takes no rename flags."""
    if shutil.which("perf") is None or os.geteuid() != 0:
        pytest.skip("cannot count system calls here: no perf, or not root")
    program, configure = native
    paths, configuration = TREES["configured"]
    configure(configuration)
    _, ext4_before, ext4_after, _ = reference_run(program, tmp_path, paths)
    changed = sum(ext4_after[ino][0] != path for ino, (path, _, _) in ext4_before.items())
    out = mount.path / "out"
    make_tree(out, paths)
    counts = tmp_path / "perf.csv"
    result = program.run(str(out), cwd=out.parent, wrapper=[
        "perf", "stat", "-x,", "-o", str(counts), "-e", ",".join(RENAME_CALLS), "--"])
    assert result.code == 0, result.stderr
    calls = sum(int(line.split(",")[0]) for line in counts.read_text().splitlines()
                if line.split(",")[-1:] and any(c in line for c in RENAME_CALLS))
    assert read_tree(out) == EXFAT.names_after(ext4_before, ext4_after)
    printed = [line for line in result.stdout[len(BANNER):].split(b"\r\n") if line and line not in
               (b"Processing Directories.", b"Processing Files.", b"Done.")]
    assert changed <= calls <= len(printed) + 1, \
        f"{calls} rename calls for {changed} entries renamed, {len(printed)} printed"


# fusefat looks every name up by reading its directory through: a tree of a
# thousand entries takes it minutes to make, so its loops run on a smaller one.
LOOP_TREES = {"exfat": large_tree(directories=12), "fat": large_tree(directories=3)}
INTERRUPTS = 15


@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGKILL],
                         ids=["SIGINT", "SIGKILL"])
@pytest.mark.parametrize("mount", ["exfat", "fat"], indirect=True)
def test_interrupted_runs_strand_no_name(native, mount, signal_number, tmp_path):
    """SIGINT waits until an entry between two steps has its new name, so an
    interrupted run leaves no temporary name; a kill may leave an entry parked
    under a name made from its own, which the next run finishes."""
    program, configure = native
    rng = random.Random(signal_number)
    paths = LOOP_TREES[mount.fs.name]
    configure(LARGE_CONFIG)
    _, ext4_before, ext4_after, ext4_duration = reference_run(program, tmp_path, paths)
    out = mount.path / "out"
    make_tree(out, paths)
    before = by_path(inventory(out))

    # The moment is drawn from a window that shrinks when a run had already
    # ended and grows when it had not; runs here take several times as long
    # as on ext4.
    longest = max(ext4_duration * 40, 2.0)
    window = longest / 4
    landed, problems, other_seen = 0, [], set()
    for attempt in range(INTERRUPTS):
        process = subprocess.Popen(program.command(str(out)), cwd=out.parent,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, window))
        running = process.poll() is None
        landed += running
        window = min(longest, window * 1.2) if running else window * 0.6
        process.send_signal(signal_number)
        process.wait()
        found = inventory(out)
        parked, other = temporary_names(found)
        other_seen.update(other)
        if signal_number != signal.SIGKILL and parked:
            problems.append(f"interrupt {attempt}: parked {parked!r}")
        try:
            assert_nothing_lost(before, by_path(found))
        except AssertionError as error:
            problems.append(f"interrupt {attempt}: {error} {other!r}")

    result = program.run(str(out), cwd=out.parent)
    found = inventory(out)
    left = temporary_names(found)
    NOTES.append(
        f"{mount.fs.name}, {signal.Signals(signal_number).name}: {INTERRUPTS} signals, "
        f"{landed} mid-run; before the completing run {len(parked)} entries parked "
        f"and {len(other)} under other temporary names ({len(other_seen)} "
        f"such names seen in all); after it {len(left[0]) + len(left[1])}")
    assert (result.stderr, result.code) == (b"", 0)
    assert problems == [] and other_seen == set()
    assert left == ([], [])
    assert read_tree(out) == mount.fs.names_after(ext4_before, ext4_after)
    assert_nothing_lost(before, by_path(found))
    assert landed >= INTERRUPTS // 3

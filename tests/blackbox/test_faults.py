"""Faults around a run: unusable output, a configuration file that cannot be
read, exhausted memory, a kill at any moment and a tree that changes under
the run. The run ends cleanly, reports what failed, and never loses, replaces
or leaves behind an entry."""

import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

from conftest import BANNER, NATIVE, SANITIZED, Program
from test_rename_run import SAMPLE, SAMPLE_AFTER
from trees import assert_nothing_lost, inventory, make_tree, read_tree

REPORT_LINE = re.compile(
    "^(E\\w+) がモジュール (\\S+) の [0-9A-F]{8} で発生しました。\r\n".encode())
OPEN_FAILED = "は開けません.\r\n\r\n".encode()


def report_class(text):
    """The failure class named by a report that text begins with."""
    found = REPORT_LINE.match(text)
    assert found, text
    return found.group(1).decode()


def native_only(dazi, why):
    if dazi.windows:
        pytest.skip(why)


def test_closed_standard_output_still_completes_the_run(dazi, tmp_path, no_config):
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    result = dazi.run(dazi.path(out), cwd=tmp_path, stdout=None,
                      preexec_fn=lambda: os.close(1))
    assert (result.stderr, result.code) == (b"", 0)
    assert read_tree(out) == SAMPLE_AFTER


def test_failed_writes_turn_a_later_failure_into_EInOutError(dazi, tmp_path, config):
    native_only(dazi, "no configuration file that exists but cannot be opened under Wine here")
    path = config(b"")
    path.unlink()
    os.mkfifo(path)
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    untouched = read_tree(out)
    with open("/dev/full", "wb") as full:
        result = dazi.run(dazi.path(out), cwd=tmp_path, stdout=full, timeout=60)
    assert result.code == 1
    assert report_class(result.stderr) == "EInOutError"
    # ENOSPC, the code of the write that failed.
    assert result.stderr.endswith("\r\nI/O エラー (28).\r\n\r\n".encode())
    assert read_tree(out) == untouched


SETPRIV = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


@pytest.fixture
def shared_dir():
    """A folder that every user can reach, for a copy of the program that an
    unprivileged user runs."""
    base = Path(tempfile.mkdtemp(prefix="dazi-shared-", dir="/tmp"))
    base.chmod(0o755)
    yield base
    shutil.rmtree(base)


NOBODY = 65534


@pytest.mark.parametrize("mode, owner, readable", [
    (0o644, 0, True),  # the control: the same setup works
    (0o200, NOBODY, False),  # the user's own, but write-only
    (0o000, 0, False),  # someone else's, with no rights for others
])
def test_configuration_unreadable_for_the_user(dazi, shared_dir, mode, owner, readable):
    native_only(dazi, "runs as another user, which Wine would need a prefix of its own for")
    if os.geteuid() != 0:
        pytest.skip("only root can hand the files to another user and run the program as it")
    program = shared_dir / "bin" / NATIVE.name
    program.parent.mkdir(mode=0o755)
    shutil.copy2(NATIVE, program)
    configuration = program.with_suffix(".env")
    configuration.write_bytes(b"[FILES]\r\nnothing\r\n")
    os.chown(configuration, owner, owner)
    configuration.chmod(mode)
    out = shared_dir / "out"
    make_tree(out, SAMPLE)
    for path in [out, *out.rglob("*")]:
        os.chown(path, NOBODY, NOBODY)
    untouched = read_tree(out)
    result = Program("native", program).run(str(out), cwd=shared_dir, wrapper=SETPRIV,
                                            stderr=subprocess.STDOUT, timeout=60)
    if readable:
        assert result.code == 0
        assert read_tree(out) == SAMPLE_AFTER
        return
    assert result.code == 1
    # The banner was printed before the failure and comes first.
    assert result.stdout.startswith(BANNER)
    report = result.stdout[len(BANNER):]
    assert report_class(report) == "EFOpenError"
    assert f'"{configuration}". '.encode() in report and report.endswith(OPEN_FAILED)
    assert read_tree(out) == untouched


NOT_A_FILE = ["fifo", "fifo with a writer", "link to /dev/zero", "directory", "link loop"]


@pytest.mark.parametrize("kind", NOT_A_FILE)
def test_configuration_that_is_no_file_does_not_hang(dazi, tmp_path, config, kind):
    if kind != "directory":
        native_only(dazi, "no such configuration file under Wine here")
    path = config(b"")
    path.unlink()
    writer = None
    if kind.startswith("fifo"):
        os.mkfifo(path)
        if kind == "fifo with a writer":
            writer = os.open(path, os.O_RDWR | os.O_NONBLOCK)
            os.write(writer, b"[DIRECTORIES]\r\nprograms,1\r\n")
    elif kind == "link to /dev/zero":
        path.symlink_to("/dev/zero")
    elif kind == "directory":
        path.mkdir()
    else:
        path.symlink_to(path.name)
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    untouched = read_tree(out)
    try:
        result = dazi.run(dazi.path(out), cwd=tmp_path, stderr=subprocess.STDOUT, timeout=60)
    finally:
        if writer is not None:
            os.close(writer)
    if kind in ("directory", "link loop"):
        # No configuration file: both passes are skipped.
        assert result.code == 0
        assert read_tree(out) == SAMPLE_AFTER
    else:
        assert result.code == 1
        assert report_class(result.stdout[len(BANNER):]) == "EFOpenError"
        assert read_tree(out) == untouched


MEMORY_LIMIT = 128 * 1024 * 1024


@pytest.mark.parametrize("shape", ["too large to read", "more lines than memory holds"])
def test_configuration_too_large_for_memory(dazi, tmp_path, config, shape):
    native_only(dazi, "Wine needs more address space than the limit leaves")
    if SANITIZED:
        pytest.skip("the sanitizers reserve more address space than any limit allows")
    wrapper = ["prlimit", f"--as={MEMORY_LIMIT}"]
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    untouched = read_tree(out)
    # Under the same limit, an ordinary configuration file does not fail.
    config(b"[FILES]\r\nnothing\r\n")
    control = tmp_path / "control"
    make_tree(control, SAMPLE)
    assert dazi.run(dazi.path(control), cwd=tmp_path, wrapper=wrapper).code == 0

    path = config(b"")
    if shape == "too large to read":
        with open(path, "r+b") as f:
            f.truncate(2 * MEMORY_LIMIT)
    else:
        with open(path, "wb") as f:
            f.write(b"[DIRECTORIES]\r\n")
            f.write(b"a\r\n" * (MEMORY_LIMIT // 8))
    result = dazi.run(dazi.path(out), cwd=tmp_path, wrapper=wrapper, timeout=120)
    assert (result.code, result.stdout) == (1, BANNER)
    assert report_class(result.stderr) == "EOutOfMemory"
    assert result.stderr.endswith("\r\nメモリが足りません.\r\n\r\n".encode())
    assert read_tree(out) == untouched


def large_tree(directories=40, files=100):
    """The sample tree and a few thousand files in nested directories below the
    drivers tree and a configured tree."""
    paths = list(SAMPLE)
    for d in range(directories):
        parent = f"i386/system32/drivers/sub{d:02d}/" + ("inner/" if d % 3 == 0 else "")
        paths += [f"{parent}file{f:03d}.sys" for f in range(files)]
    paths += [f"programs/tools/t{d}/tool{f}.exe" for d in range(5) for f in range(20)]
    paths += [f"i386/extra{f}.inf" for f in range(30)]
    return paths


LARGE_CONFIG = b"[DIRECTORIES]\r\nprograms\\tools,1\r\n[FILES]\r\ni386\\*.inf\r\n"
KILL_ROUNDS = 4
KILLS_PER_ROUND = 15


def test_killed_at_random_moments_loses_nothing(dazi, tmp_path, config):
    native_only(dazi, "the kills are aimed at the native program")
    rng = random.Random(1)
    tree = large_tree()
    config(LARGE_CONFIG)
    reference = tmp_path / "reference" / "out"
    make_tree(reference, tree)
    started = time.monotonic()
    assert dazi.run(dazi.path(reference), cwd=reference.parent).code == 0
    duration = time.monotonic() - started
    finished = read_tree(reference)

    landed = 0
    for round_number in range(KILL_ROUNDS):
        out = tmp_path / f"round{round_number}" / "out"
        make_tree(out, tree)
        before = inventory(out)
        # Each run has less left to do than the one before, so the moment of
        # the kill is drawn from a window that shrinks when a run had already
        # ended and grows back when it had not.
        window = duration
        for _ in range(KILLS_PER_ROUND):
            process = subprocess.Popen(dazi.command(dazi.path(out)), cwd=out.parent,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0, window))
            running = process.poll() is None
            landed += running
            window = min(duration, window * 1.2) if running else window * 0.6
            process.send_signal(signal.SIGKILL)
            process.wait()
            assert_nothing_lost(before, inventory(out))
        # A run after the kills completes the job.
        result = dazi.run(dazi.path(out), cwd=out.parent)
        assert (result.stderr, result.code) == (b"", 0)
        assert read_tree(out) == finished
        assert_nothing_lost(before, inventory(out))
    # Most kills hit a run in progress, not one that had ended.
    assert landed >= KILL_ROUNDS * KILLS_PER_ROUND // 2


class TreeChanger(threading.Thread):
    """Adds, removes and renames entries below a directory while a run goes
    on, and keeps account of which entries should exist afterwards and where:
    in which directory, under which name (upper-cased, as the run may change
    only letter case)."""

    def __init__(self, root, top, seed):
        super().__init__()
        self.root = root
        self.top = top.upper().split(b"/")
        self.rng = random.Random(seed)
        found = inventory(root)
        by_path = {path: ino for ino, (path, _, _) in found.items()}
        self.alive = {ino: (kind, content) for ino, (_, kind, content) in found.items()}
        self.parent = {ino: by_path.get(os.path.dirname(path))
                       for ino, (path, _, _) in found.items()}
        self.spelling = {ino: os.path.basename(path).upper() for ino, (path, _, _) in found.items()}
        self.counter = 0
        self.changes = 0
        self.done = threading.Event()
        self.error = None

    def run(self):
        operations = [self.add_file, self.add_directory, self.add_twin, self.remove,
                      self.rename_file, self.rename_directory]
        try:
            while not self.done.is_set():
                path, fd = self.pick_directory()
                try:
                    self.rng.choice(operations)(path, fd)
                    self.changes += 1
                except OSError:
                    pass  # the run renamed something on the way
                finally:
                    os.close(fd)
        except BaseException as error:  # reported by the test
            self.error = error

    def pick_directory(self):
        """A directory at or below the top: its path as spelled at the moment
        and an open descriptor, through which the change is made, so that the
        run may rename the directory meanwhile."""
        while True:
            try:
                path = self.root
                for part in self.top:
                    spelling = next((n for n in os.listdir(path) if n.upper() == part), None)
                    if spelling is None:
                        raise FileNotFoundError(part)
                    path = os.path.join(path, spelling)
                while self.rng.random() < 0.6:
                    subdirs = [e.path for e in os.scandir(path) if e.is_dir(follow_symlinks=False)]
                    if not subdirs:
                        break
                    path = self.rng.choice(subdirs)
                return path, os.open(path, os.O_RDONLY | os.O_DIRECTORY)
            except OSError:
                pass  # renamed on the way: look again

    def expected_path(self, ino):
        parts = []
        while ino is not None:
            parts.append(self.spelling[ino])
            ino = self.parent[ino]
        return b"/".join(reversed(parts))

    def fresh_name(self, stem):
        self.counter += 1
        return stem + str(self.counter).encode()

    def names(self, fd, want_directory):
        return [os.fsencode(e.name) for e in os.scandir(fd)
                if e.is_dir(follow_symlinks=False) == want_directory]

    def create(self, path, fd, name, kind, content):
        if kind == "dir":
            os.mkdir(name, dir_fd=fd)
            ino = os.stat(name, dir_fd=fd, follow_symlinks=False).st_ino
        else:
            file = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, dir_fd=fd)
            try:
                os.write(file, content)
                ino = os.fstat(file).st_ino
            finally:
                os.close(file)
        self.alive[ino] = (kind, content)
        self.parent[ino] = os.fstat(fd).st_ino
        self.spelling[ino] = name.upper()

    def add_file(self, path, fd):
        name = self.fresh_name(b"new") + b".sys"
        self.create(path, fd, name, "file", b"content of " + name)

    def add_directory(self, path, fd):
        self.create(path, fd, self.fresh_name(b"newdir"), "dir", None)

    def add_twin(self, path, fd):
        """An entry named like an existing one in upper case: the target of the
        run's rename of that one, which must then fail and replace nothing."""
        names = [n for n in self.names(fd, False) + self.names(fd, True) if n != n.upper()]
        if names:
            kind = self.rng.choice(["dir", "file"])
            self.create(path, fd, self.rng.choice(names).upper(), kind,
                        None if kind == "dir" else b"twin")

    def remove(self, path, fd):
        names = self.names(fd, False)
        if names:
            name = self.rng.choice(names)
            ino = os.stat(name, dir_fd=fd, follow_symlinks=False).st_ino
            os.unlink(name, dir_fd=fd)
            del self.alive[ino], self.parent[ino], self.spelling[ino]

    def rename_file(self, path, fd):
        names = self.names(fd, False)
        if names:
            name = self.rng.choice(names)
            ino = os.stat(name, dir_fd=fd, follow_symlinks=False).st_ino
            target = self.fresh_name(b"moved")
            os.rename(name, target, src_dir_fd=fd, dst_dir_fd=fd)
            self.spelling[ino] = target.upper()

    def rename_directory(self, path, fd):
        names = self.names(fd, True)
        if names:
            name = self.rng.choice(names)
            ino = os.stat(name, dir_fd=fd, follow_symlinks=False).st_ino
            target = self.fresh_name(b"movdir")
            os.rename(name, target, src_dir_fd=fd, dst_dir_fd=fd)
            self.spelling[ino] = target.upper()


CHANGE_ROUNDS = 6


def test_entries_changed_by_another_process_during_the_run(dazi, tmp_path, config):
    native_only(dazi, "the changes are timed for the native program")
    config(LARGE_CONFIG)
    changes = 0
    for round_number in range(CHANGE_ROUNDS):
        out = tmp_path / f"round{round_number}" / "out"
        make_tree(out, large_tree(directories=20))
        changer = TreeChanger(os.fsencode(out), b"i386/system32/drivers", seed=round_number)
        process = subprocess.Popen(dazi.command(dazi.path(out)), cwd=out.parent,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        changer.start()
        try:
            _, stderr = process.communicate(timeout=300)
        finally:
            changer.done.set()
            changer.join()
        assert changer.error is None
        assert (stderr, process.returncode) == (b"", 0)
        changes += changer.changes
        after = inventory(out)
        lost = [changer.expected_path(ino) for ino in changer.alive.keys() - after.keys()]
        added = [after[ino][0] for ino in after.keys() - changer.alive.keys()]
        assert (lost, added) == ([], [])
        for ino, (path, kind, content) in after.items():
            assert (kind, content) == changer.alive[ino], path
            assert path.upper() == changer.expected_path(ino)
    assert changes >= CHANGE_ROUNDS * 10

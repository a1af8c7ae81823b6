"""The native program finds its own file, and so its configuration file,
where /proc is not mounted (a chroot, a minimal container) as it does where
it is: from the name it was started under, as the shell found it, never from
the current directory. There it still renames directories on a device that
is not FUSE, and keeps them as they are on FAT through fusefat, and its
failure report still names the program.

/proc is hidden by an empty tmpfs over it in a private mount namespace, which
takes root. The program is started by bash's exec, which sets the name it
is started under (-a) apart from the file it runs."""

import os
import shutil
import subprocess
from contextlib import nullcontext
from dataclasses import dataclass

import pytest

from conftest import NATIVE, SANITIZED
from test_case_folding_fs import FAT, mounted
from trees import make_tree, read_tree

F = b" - Failure."
START = 'exec -a "$0" "$@"'
HIDE_PROC = ["unshare", "--mount", "--propagation", "private", "bash", "-c",
             "mount -t tmpfs none /proc && " + START]
SHOW_PROC = ["bash", "-c", START]
# The lines of the entries of the configuration files, printed in upper case.
ENTRIES = {b"BESIDE.TXT", b"CWD.TXT", b"DECOY.TXT"}


@dataclass
class Start:
    started_as: str  # the name: "dazi" found through PATH, or a path with a slash
    on_path: tuple  # the directories of PATH before /usr/bin and /bin
    hide_proc: bool = True
    runs: str = ""  # the file run where the name does not lead to it
    where: str = "ext4"  # the tree's file system: ext4, or fat through fusefat
    directories: str = ""  # "renamed", "kept", or "" where not looked at


CASES = {
    "by-PATH-without-proc": Start("dazi", ("not_executable", "directory", "bin")),
    "by-PATH-with-proc": Start("dazi", ("not_executable", "directory", "bin"), hide_proc=False),
    "by-slash-without-proc": Start("../bin/dazi", ("not_executable",)),
    "through-a-link-without-proc": Start("dazi", ("link", "bin")),
    # Nothing tells where the program lies: no configuration file is read.
    "by-a-name-that-leads-nowhere": Start("dazi", ("not_executable",), runs="bin/dazi"),
    "ext4-directories-without-proc": Start("dazi", ("bin",), directories="renamed"),
    "fat-directories-without-proc": Start("dazi", ("bin",), where="fat", directories="kept"),
}


def cannot_hide_proc():
    if SANITIZED:
        return "the sanitizers' run-time reads /proc itself (the plain build runs these)"
    if os.geteuid() != 0:
        return "not root"
    if shutil.which("unshare") is None:
        return "no unshare"
    probe = subprocess.run([*HIDE_PROC, "probe", "test", "!", "-e", "/proc/self"],
                           capture_output=True)
    return None if probe.returncode == 0 else probe.stderr.decode().strip() or "/proc stays"


def file_system_of(path):
    return subprocess.run(["findmnt", "-no", "FSTYPE", "-T", str(path)], capture_output=True,
                          text=True).stdout.strip()


def lay_out(tmp_path):
    """The program in bin/ with the configuration file that names beside.txt;
    decoys that name decoy.txt beside a `dazi` that is no executable file
    (not_executable/, directory/) and beside a link to the program (link/);
    the current directory work/ with an executable `dazi` and a dazi.env that
    names cwd.txt."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    shutil.copy(NATIVE, bin_dir / "dazi")
    (bin_dir / "dazi.env").write_bytes(b"[FILES]\r\nbeside.txt\r\n")
    decoy = b"[FILES]\r\ndecoy.txt\r\n"
    for name, make in [("not_executable", lambda p: p.write_bytes(b"#!/bin/sh\n")),
                       ("directory", lambda p: p.mkdir()),
                       ("link", lambda p: p.symlink_to(bin_dir / "dazi")),
                       ("work", lambda p: (p.write_bytes(b"#!/bin/sh\nexit 99\n"),
                                           p.chmod(0o755)))]:
        (tmp_path / name).mkdir()
        make(tmp_path / name / "dazi")
        (tmp_path / name / "dazi.env").write_bytes(decoy)
    (tmp_path / "work/dazi.env").write_bytes(b"[FILES]\r\ncwd.txt\r\n")
    return tmp_path / "work"


def start(tmp_path, case, out):
    path = ":".join([*(str(tmp_path / d) for d in case.on_path), "/usr/bin", "/bin"])
    runs = str(tmp_path / case.runs) if case.runs else case.started_as
    return subprocess.run([*(HIDE_PROC if case.hide_proc else SHOW_PROC), case.started_as, runs,
                           str(out)], cwd=tmp_path / "work", env=dict(os.environ, PATH=path),
                          capture_output=True, timeout=120)


@pytest.mark.parametrize("name", CASES)
def test_program_reads_the_configuration_file_beside_itself(tmp_path, name):
    case = CASES[name]
    if case.hide_proc and (why := cannot_hide_proc()):
        pytest.skip(f"cannot hide /proc here: {why}")
    if case.where == "ext4" and (fs := file_system_of(tmp_path)) != "ext4":
        pytest.skip(f"{tmp_path} is on {fs or 'an unknown file system'}, not on ext4")
    lay_out(tmp_path)
    with mounted(FAT, tmp_path) if case.where == "fat" else nullcontext() as mount:
        out = (mount.path if mount else tmp_path) / "out"
        make_tree(out, ["programs/", "i386/txtsetup.sif", "beside.txt", "cwd.txt", "decoy.txt"])
        result = start(tmp_path, case, out)
        assert (result.stderr, result.returncode) == (b"", 0)
        lines = result.stdout.split(b"\r\n")
        read = {l.removesuffix(F) for l in lines} & ENTRIES
        assert read == (set() if case.runs else {b"BESIDE.TXT"})
        names = read_tree(out)
    if not case.runs:
        assert {"BESIDE.TXT", "cwd.txt", "decoy.txt"} <= set(names)
    if case.directories == "renamed":
        assert {b"PROGRAMS", b"I386"} <= set(lines)
        assert {"PROGRAMS/", "I386/TXTSETUP.SIF"} <= set(names)
    elif case.directories == "kept":
        assert {b"PROGRAMS" + F, b"I386" + F, b"txtsetup.sif"} <= set(lines)
        assert {"programs/", "i386/TXTSETUP.SIF"} <= set(names)


def test_failure_report_names_the_program_without_proc(tmp_path):
    """A configuration file that cannot be read (a FIFO): the report names
    the file beside the program and the program as its module."""
    if why := cannot_hide_proc():
        pytest.skip(f"cannot hide /proc here: {why}")
    lay_out(tmp_path)
    config = tmp_path / "bin/dazi.env"
    config.unlink()
    os.mkfifo(config)
    make_tree(tmp_path / "out", ["programs/"])
    result = start(tmp_path, Start("dazi", ("bin",)), tmp_path / "out")
    assert result.returncode == 1
    assert result.stderr.startswith("EFOpenError がモジュール dazi の ".encode())
    assert f'"{config}". '.encode() in result.stderr

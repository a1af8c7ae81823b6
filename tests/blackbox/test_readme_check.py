"""The checks that README.md gives build scripts on Linux, read from README.md
and run with sh as written there: `dazi` on the PATH, `./out` and `dazi.log`
in the current directory. The plain check passes after a complete run only: a
failed line, the usage text, and a log that lost lines because the disk it
lies on is full all make it fail. The check that leaves the lines of two
files out by name passes where only those fail, on the CR LF lines as
printed."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import NATIVE, NOTES, ROOT
from trees import make_tree

FIXED_FILES = [
    "bootsect.bin", "bootfont.bin", "i386/bootfix.bin", "i386/ntdetect.com",
    "i386/setupldr.bin", "i386/spcmdcon.sys", "i386/system32/biosinfo.inf",
    "i386/system32/bootvid.dll", "i386/system32/kdcom.dll", "i386/system32/ntkrnlmp.exe",
    "i386/system32/ntoskrnl.exe", "i386/system32/setupreg.hiv",
]
# Enough lines of the drivers' files that the report outgrows a page; the
# line of setupreg.hiv, the last file, comes after them all.
DRIVERS = [f"i386/system32/drivers/driver_with_a_long_name_{i:03}.sys" for i in range(200)]
COMPLETE = ["programs/"] + FIXED_FILES + DRIVERS
MISSING = "i386/system32/setupreg.hiv"
LEFT_OUT = ["i386/spcmdcon.sys", MISSING]  # the files the second check leaves out
PAGE = os.sysconf("SC_PAGE_SIZE")


def linux_checks():
    """The indented blocks that run dazi in the README's exit status part: the
    plain check, then the one that leaves files out."""
    text = (ROOT / "README.md").read_text()
    part = text.split("\n## Exit status", 1)[1].split("\n## ", 1)[0]
    blocks, block = [], []
    for line in part.split("\n") + ["(end)"]:
        if line.startswith("    ") or (block and not line):
            block.append(line[4:])
            continue
        if block and block[0].startswith("dazi ./out > dazi.log"):
            blocks.append("\n".join(block).strip() + "\n")
        block = []
    assert len(blocks) == 2, blocks
    return blocks


def linux_check(which=0):
    return linux_checks()[which]


def run_check(where, tmp_path, which=0):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir(exist_ok=True)
    shutil.copy(NATIVE, bin_dir / "dazi")
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}")
    return subprocess.run(["sh", "-c", linux_check(which)], cwd=where, env=env,
                          capture_output=True, timeout=120)


PLAIN, LEAVING_OUT = 0, 1
CASES = {
    "a complete run": (PLAIN, COMPLETE, 0),
    "a run with a failed line": (PLAIN, [p for p in COMPLETE if p != MISSING], 1),
    "the usage text (no ./out)": (PLAIN, None, 1),
    "leaving out: a complete run": (LEAVING_OUT, COMPLETE, 0),
    "leaving out: only those fail": (LEAVING_OUT, [p for p in COMPLETE if p not in LEFT_OUT], 0),
    "leaving out: another fails too": (
        LEAVING_OUT, [p for p in COMPLETE if p not in LEFT_OUT + ["i386/ntdetect.com"]], 1),
    "leaving out: the usage text": (LEAVING_OUT, None, 1),
}


@pytest.mark.parametrize("case", CASES)
def test_readme_check(tmp_path, case):
    which, tree, verdict = CASES[case]
    if tree is not None:
        make_tree(tmp_path / "out", tree)
    result = run_check(tmp_path, tmp_path, which)
    assert result.returncode == verdict, (result.stdout, result.stderr)
    log = (tmp_path / "dazi.log").read_bytes()
    assert log.endswith(b"\r\nDone.\r\n") == (tree is not None)


@pytest.fixture
def small_tmpfs(tmp_path):
    """A tmpfs of two pages, or the test skipped where none can be mounted."""
    point = tmp_path / "small"
    point.mkdir()
    mount = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={2 * PAGE}", "tmpfs", str(point)],
                           capture_output=True, text=True)
    if mount.returncode != 0:
        why = f"cannot mount a tmpfs here ({mount.stderr.strip() or 'not root'})"
        NOTES.append(f"the README check on a full disk is skipped: {why}")
        pytest.skip(why)
    try:
        yield point
    finally:
        subprocess.run(["umount", str(point)], check=True)


@pytest.mark.parametrize("which", [PLAIN, LEAVING_OUT], ids=["plain", "leaving out"])
@pytest.mark.parametrize("room", [0, 1], ids=["no room", "one page of room"])
def test_readme_check_fails_when_the_log_lost_lines(tmp_path, small_tmpfs, room, which):
    """A run whose failed line is lost, with the log on a disk that is full
    from the start or fills up one page into the report."""
    make_tree(tmp_path / "out", [p for p in COMPLETE if p != MISSING])
    (small_tmpfs / "out").symlink_to(tmp_path / "out")
    (small_tmpfs / "filler").write_bytes(b"\0" * (2 - room) * PAGE)
    result = run_check(small_tmpfs, tmp_path, which)
    log = (small_tmpfs / "dazi.log").read_bytes()
    assert len(log) == room * PAGE
    assert b" - Failure." not in log and b"Done." not in log
    assert result.returncode == 1, (result.stdout, result.stderr)

"""The check that README.md gives build scripts on Linux, read from README.md
and run with sh as written there: `dazi` on the PATH, `./out` and `dazi.log`
in the current directory. It passes after a complete run only: a failed line,
the usage text, and a log that lost lines because the disk it lies on is full
all make it fail."""

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
PAGE = os.sysconf("SC_PAGE_SIZE")


def linux_check():
    """The indented block after "On Linux:" in the README's exit status part."""
    text = (ROOT / "README.md").read_text()
    part = text.split("\n## Exit status", 1)[1].split("\n## ", 1)[0]
    lines = part.split("On Linux:\n\n", 1)[1].split("\n")
    block = []
    for line in lines:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    check = "\n".join(block).strip() + "\n"
    assert check.startswith("dazi ./out > dazi.log"), check
    return check


def run_check(where, tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir(exist_ok=True)
    shutil.copy(NATIVE, bin_dir / "dazi")
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}")
    return subprocess.run(["sh", "-c", linux_check()], cwd=where, env=env, capture_output=True,
                          timeout=120)


CASES = {
    "a complete run": (COMPLETE, 0),
    "a run with a failed line": ([p for p in COMPLETE if p != MISSING], 1),
    "the usage text (no ./out)": (None, 1),
}


@pytest.mark.parametrize("case", CASES)
def test_readme_check(tmp_path, case):
    tree, verdict = CASES[case]
    if tree is not None:
        make_tree(tmp_path / "out", tree)
    result = run_check(tmp_path, tmp_path)
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


@pytest.mark.parametrize("room", [0, 1], ids=["no room", "one page of room"])
def test_readme_check_fails_when_the_log_lost_lines(tmp_path, small_tmpfs, room):
    """A run whose failed line is lost, with the log on a disk that is full
    from the start or fills up one page into the report."""
    make_tree(tmp_path / "out", [p for p in COMPLETE if p != MISSING])
    (small_tmpfs / "out").symlink_to(tmp_path / "out")
    (small_tmpfs / "filler").write_bytes(b"\0" * (2 - room) * PAGE)
    result = run_check(small_tmpfs, tmp_path)
    log = (small_tmpfs / "dazi.log").read_bytes()
    assert len(log) == room * PAGE
    assert b" - Failure." not in log and b"Done." not in log
    assert result.returncode == 1, (result.stdout, result.stderr)

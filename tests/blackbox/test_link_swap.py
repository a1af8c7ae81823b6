"""A directory of the tree swapped for a link while a run goes on.

The run is held at a known point: its standard output is a pipe of one page
that nobody reads, so the program blocks in a write while it is still among
the lines of a/, after renaming every entry printed so far. Then b/ (already
renamed to B/) is moved out of the tree and a link takes its place, and the
rest of the output is read. Nothing behind the link may be renamed, and each
entry of b/ is reported failed."""

import fcntl
import os
import subprocess
import time

import pytest

from conftest import BANNER, _without_wine_noise
from trees import contents, inventory, make_tree

DRIVERS = "i386/system32/drivers"
RENAMED = DRIVERS.upper()  # by the time of the swap
COUNT = 300
A_NAMES = [f"a_entry_{i:03d}.sys" for i in range(COUNT)]
B_NAMES = [f"b_entry_{i:03d}.sys" for i in range(COUNT)]
PIPE_SIZE = 4096
PIECE = 128  # the program's largest write
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def wait_until_blocked(reader, process, timeout=120):
    """Waits until the pipe is full: the program is then held in its next
    write, or in the one after a last rename."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        waiting = int.from_bytes(fcntl.ioctl(reader, 0x541B, b"\0\0\0\0"), "little")  # FIONREAD
        if waiting >= PIPE_SIZE:
            return
        assert process.poll() is None, "the run ended before filling the pipe"
        time.sleep(0.02)
    pytest.fail("the run never filled the pipe")


def named_like_b(folder):
    """The files of folder named like those of b/, with their contents (as
    make_tree writes them, each its own name)."""
    return {name: (folder / name).read_bytes() for name in B_NAMES}


def read_all(reader):
    chunks = []
    while chunk := os.read(reader, 65536):
        chunks.append(chunk)
    return b"".join(chunks)


# Where the link points, relative to the test's folder, and the folder holding
# the names of b/ that the link would lead the run to.
TARGETS = {
    "directory": ("outside", "outside"),
    "file": (f"outside/{B_NAMES[0]}", "outside"),
    "parent": ("..", f"out/{RENAMED}/.."),
}


@pytest.mark.parametrize("variant", sorted(TARGETS))
def test_directory_swapped_for_a_link(dazi, tmp_path, no_config, variant):
    target, bait = TARGETS[variant]
    out = tmp_path / "out"
    make_tree(out, [f"{DRIVERS}/a/{n}" for n in A_NAMES] + [f"{DRIVERS}/b/{n}" for n in B_NAMES])
    make_tree(tmp_path / "outside", B_NAMES)
    make_tree(out / DRIVERS / "..", B_NAMES)
    outside_before = inventory(tmp_path / "outside")
    b_before = contents(out / DRIVERS / "b")

    reader, writer = os.pipe()
    fcntl.fcntl(writer, F_SETPIPE_SZ, PIPE_SIZE)
    with open(tmp_path / "stderr", "wb") as stderr:
        process = subprocess.Popen(dazi.command(dazi.path(out)), cwd=tmp_path, stdout=writer,
                                   stderr=stderr, env=dazi.environment())
    os.close(writer)
    try:
        wait_until_blocked(reader, process)
        drivers = out / RENAMED
        [b] = [name for name in os.listdir(drivers) if name.upper() == "B"]
        os.rename(drivers / b, tmp_path / "aside")
        os.symlink(target if variant == "parent" else tmp_path / target, drivers / b)
        printed = read_all(reader)
    finally:
        os.close(reader)
        code = process.wait(timeout=300)
    errors = (tmp_path / "stderr").read_bytes()
    assert (_without_wine_noise(errors) if dazi.windows else errors, code) == (b"", 0)
    assert printed.startswith(BANNER) and printed.endswith(b"\r\nDone.\r\n")

    # The hook held the run among a/'s lines: every b/ line came after the swap.
    before_swap = printed[:PIPE_SIZE].rsplit(b"\r\n", 2)[-2]
    assert before_swap.startswith(b"a_entry_"), before_swap
    assert printed.index(b"b_entry_") > PIPE_SIZE + PIECE

    assert inventory(tmp_path / "outside") == outside_before
    assert named_like_b(tmp_path / bait) == {name: name.encode() for name in B_NAMES}
    assert contents(tmp_path / "aside") == b_before
    assert sorted(os.listdir(out / RENAMED / "A")) == [n.upper() for n in A_NAMES]
    for name in A_NAMES:
        assert f"\r\n{name}\r\n".encode() in printed, name
    for name in B_NAMES:
        assert f"\r\n{name} - Failure.\r\n".encode() in printed, name

"""Trees that push the run: very deep and very wide directories, names that
are awkward for a console or a command line, and links that lead in circles
or out of the tree."""

import os
import subprocess

import pytest

from conftest import BANNER, SANITIZED
from test_rename_run import SAMPLE
from trees import assert_nothing_lost, inventory, make_tree

DRIVERS = b"i386/system32/drivers"
# The sanitized program is run on smaller trees: its renames slow down with
# the size of a directory and the depth of a path far more than the plain
# program's, and the plain program takes the full sizes.
DEPTH = 300 if SANITIZED else 1000
WIDTH = 20_000 if SANITIZED else 100_000


def native_only(dazi, why):
    if dazi.windows:
        pytest.skip(why)


def run(dazi, out, *args, wrapper=(), timeout=300):
    result = dazi.run(*args, dazi.path(out), cwd=out.parent, wrapper=wrapper, timeout=timeout)
    assert (result.stderr, result.code) == (b"", 0)
    assert result.stdout.startswith(BANNER) and result.stdout.endswith(b"\r\nDone.\r\n")
    return result.stdout


def remove_tree(top):
    """Removes a tree of any depth (shutil.rmtree recurses once per level)."""
    pending, found = [os.fsencode(top)], []
    while pending:
        path = pending.pop()
        found.append(path)
        for entry in os.scandir(path):
            if entry.is_dir(follow_symlinks=False):
                pending.append(entry.path)
            else:
                os.unlink(entry.path)
    for path in reversed(found):
        os.rmdir(path)


def all_upper_case(found):
    return [path for path, _, _ in found.values() if path != path.upper()]


def test_deep_directory(dazi, tmp_path, no_config):
    """DEPTH levels, under a limit of 128 file descriptors: a scan must not
    need one open directory for each level it is down."""
    native_only(dazi, "the Windows program's paths end at 260 characters")
    out = tmp_path / "out"
    path = os.path.join(os.fsencode(out), DRIVERS)
    os.makedirs(path)
    try:
        for _ in range(DEPTH):
            path = os.path.join(path, b"d")
            os.mkdir(path)
        with open(os.path.join(path, b"leaf.txt"), "wb") as f:
            f.write(b"at the bottom")
        before = inventory(out)
        printed = run(dazi, out, wrapper=["prlimit", "--nofile=128"])
        after = inventory(out)
        assert_nothing_lost(before, after)
        assert all_upper_case(after) == []
        assert printed.count(b"\r\nI386\\SYSTEM32\\DRIVERS\\d") == DEPTH
    finally:
        remove_tree(out)


def test_wide_directory(dazi, tmp_path, no_config):
    """WIDTH entries in one directory."""
    native_only(dazi, "too slow a start for each entry under Wine")
    out = tmp_path / "out"
    many = os.path.join(os.fsencode(out), DRIVERS, b"many")
    os.makedirs(many)
    for i in range(WIDTH):
        fd = os.open(os.path.join(many, b"f%05d.sys" % i), os.O_WRONLY | os.O_CREAT)
        os.write(fd, b"%d" % i)
        os.close(fd)
    before = inventory(out)
    printed = run(dazi, out, timeout=900)
    after = inventory(out)
    assert_nothing_lost(before, after)
    assert all_upper_case(after) == []
    assert printed.count(b".sys\r\n") == WIDTH


# Names that a console, a command line or a UTF-8 reader may trip over.
PLAIN_ODD_NAMES = [b"a b.sys", b" lead.sys", b"-x.sys", b"--help", b"x,y;z.sys"]
RAW_ODD_NAMES = [b"-?", b"ctl\x01\x1f\x7f.sys", b"new\nline.sys", b"tab\tname.sys", b"cr\rname",
                 b"\xff\xfe.sys", b"caf\xe9.sys", b"\xc3(.sys", b"\xe0\x80\x80.sys"]


def test_awkward_names(dazi, tmp_path, no_config):
    """Names with blanks, a leading hyphen, control bytes and bytes that are no
    UTF-8 are renamed like any other (upper case for their ASCII letters) and
    printed as they are; the target directory's own name starts with a hyphen
    and holds a blank."""
    names = PLAIN_ODD_NAMES + ([] if dazi.windows else RAW_ODD_NAMES)
    out = tmp_path / "-odd out"
    make_tree(out, SAMPLE)
    drivers = os.path.join(os.fsencode(out), DRIVERS)
    for name in names:
        with open(os.path.join(drivers, name), "wb") as f:
            f.write(b"content of " + name)
    before = inventory(out)
    result = dazi.run("-odd out", cwd=tmp_path)
    assert (result.stderr, result.code) == (b"", 0)
    for name in names:
        assert b"\r\n" + name + b"\r\n" in result.stdout, name
    after = inventory(out)
    assert_nothing_lost(before, after)
    renamed = {os.path.basename(path) for path, _, _ in after.values()}
    assert {name.upper() for name in names} <= renamed


def test_links_are_never_followed(dazi, tmp_path, no_config):
    """A link to a folder outside the tree, a link to its own directory, one
    to the parent and two that point at each other: the run ends, nothing
    outside the tree is touched, and each link keeps its target. The native
    program renames each link as itself (Wine's renames of links fail)."""
    outside = tmp_path / "outside"
    make_tree(outside, ["keep/me.txt", "also.txt"])
    outside_before = inventory(outside)
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    drivers = out / DRIVERS.decode()
    links = {"away": str(outside), "here": ".", "etc/up": "..", "ping": "pong", "pong": "ping"}
    for name, target in links.items():
        (drivers / name).symlink_to(target)
    before = inventory(out)
    run(dazi, out)
    assert inventory(outside) == outside_before
    assert_nothing_lost(before, inventory(out))
    if not dazi.windows:
        for name, target in links.items():
            assert os.readlink(out / "I386/SYSTEM32/DRIVERS" / name.upper()) == target

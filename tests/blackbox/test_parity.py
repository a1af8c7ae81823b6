"""Both programs print the same report and leave the same tree."""

import random

import pytest

from conftest import NATIVE, Program, windows_program
from trees import make_tree, read_tree

# Signs that both file systems accept in names; hyphen and apostrophe are left
# out (the Windows word sort treats them apart), and so is the tilde, which
# Wine reads as part of a short name.
SIGNS = "!#$%&(),.;@[]^_`{}+="
ALPHABET = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789" + SIGNS


RESERVED = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{i}" for d in ("COM", "LPT") for i in range(10)}


def random_name(rng):
    while True:
        name = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 8))).rstrip(". ")
        if name and name.upper().split(".")[0] not in RESERVED:
            return name


def random_tree(seed):
    """Paths below the drivers tree and the pattern-scanned directories, with
    names unique without regard to case within each directory."""
    rng = random.Random(seed)
    paths = []
    taken = set()

    def unique(parent):
        while True:
            name = random_name(rng)
            key = (parent, name.upper())
            if key not in taken:
                taken.add(key)
                return name

    dirs = ["i386/system32/drivers"]
    for _ in range(60):
        parent = rng.choice(dirs)
        name = unique(parent)
        if rng.random() < 0.25 and parent.count("/") < 6:
            dirs.append(parent + "/" + name)
            paths.append(parent + "/" + name + "/")
        else:
            paths.append(parent + "/" + name)
    for parent, suffix in [("i386/system32", ".nls"), ("i386/system32", ".FON"),
                           ("i386", ".sif"), ("", "")]:
        for _ in range(5):
            name = unique(parent) + suffix
            prefix = "win" if parent == "" else ""
            paths.append((parent + "/" if parent else "") + prefix + name)
    return paths


@pytest.mark.parametrize("seed", range(8))
def test_native_and_windows_print_the_same_report(tmp_path, seed):
    windows = windows_program()
    native = Program("native", NATIVE)
    for program in (native, windows):
        program.executable.with_suffix(".env").unlink(missing_ok=True)
    tree = random_tree(seed)
    results = {}
    for program in (native, windows):
        out = tmp_path / program.kind / "out"
        make_tree(out, tree)
        result = program.run(program.path(out), cwd=out.parent)
        assert (result.stderr, result.code) == (b"", 0)
        results[program.kind] = (result.stdout, read_tree(out))
    assert results["native"][0] == results["windows"][0]
    assert results["native"][1] == results["windows"][1]
    directories = results["native"][0].split(b"Processing Files.")[0]
    assert directories.count(b" - Failure.") == directories.count(b"PROGRAMS - Failure.") == 1

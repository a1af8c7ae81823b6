"""Names the run cannot tell apart, on the native program: two or more
spellings of one name in a directory (names the locale's upper case makes
one, hard links under two spellings too), and a scanned name that holds a
backslash. Every line naming such an entry fails, and no entry is touched:
not the twins, whichever of them is upper case already, and not another
entry that a path built from the name would lead to. The same trees on a
real NTFS disk mounted with plain ntfs-3g, and through bindfs over a tree
that joins a case-sensitive and a case-folding file system under one device
number."""

import os
import shutil
import subprocess
from contextlib import ExitStack, contextmanager

import pytest

from test_case_folding_fs import EXFAT, NTFS, mounted, native, run  # noqa: F401
from test_rename_run import SAMPLE
from trees import make_tree

F = b" - Failure."
Y_UML = "\u0178"  # LATIN CAPITAL LETTER Y WITH DIAERESIS
y_uml = "\u00ff"


class Case:
    def __init__(self, name, add, fails, kept, dirs=(), config=None, fs=None, locale="C.UTF-8",
                 bindfs=False):
        self.name = name
        self.add = add        # files made beside the sample tree: path -> contents
        self.dirs = dirs      # directories made beside it
        self.fails = fails    # printed lines (without the mark) that must fail
        self.kept = kept      # path before the run -> path after it, holding the same
        self.config = config
        self.fs = fs
        self.locale = locale
        self.bindfs = bindfs

    def __repr__(self):
        return self.name


THREE_SPELLINGS = {f"i386/A{Y_UML}.SIF": "upper", f"i386/a{Y_UML}.sif": "lower",
                   f"i386/A{y_uml}.SIF": "small y"}


def in_upper_case_directories(*paths):
    """Each path, and where it is after the run: its directories renamed."""
    return {p: os.path.dirname(p).upper() + "/" + os.path.basename(p) for p in paths}


THREE_KEPT = in_upper_case_directories(*THREE_SPELLINGS)
HAL_KEPT = in_upper_case_directories("i386/system32/HAL.DLL", "i386/system32/hal.dll")

CASES = [
    Case("upper-case directory beside its twin", {"PROGRAMS/own.txt": "own"}, ["PROGRAMS"],
         {"PROGRAMS/own.txt": "PROGRAMS/own.txt", "programs/readme.txt": "programs/readme.txt"}),
    Case("upper-case file beside its twin", {"i386/system32/HAL.DLL": "twin"},
         ["hal.dll", "HAL.DLL"], HAL_KEPT),
    Case("hard link under a second spelling", {}, ["kdcom.dll"],
         in_upper_case_directories("i386/system32/kdcom.dll", "i386/system32/KDCOM.DLL")),
    Case("three spellings, non-ASCII", THREE_SPELLINGS,
         [f"A{Y_UML}.SIF", f"a{Y_UML}.sif", f"A{y_uml}.SIF"], THREE_KEPT),
    Case("a backslash in a scanned name", {"i386/x\\y.sif": "one name", "i386/x/y.sif": "other"},
         ["y.sif"], {"i386/x\\y.sif": "I386/x\\y.sif", "i386/x/y.sif": "I386/x/y.sif"}),
    Case("three spellings on ntfs-3g", THREE_SPELLINGS, [
        f"A{Y_UML}.SIF", f"a{Y_UML}.sif", f"A{y_uml}.SIF"], THREE_KEPT, fs=NTFS),
    Case("folding learnt below bindfs in another file system",
         {"i386/system32/HAL.DLL": "twin", "programs/fold/sub/abc.txt": "on exfat"},
         ["hal.dll", "HAL.DLL"], HAL_KEPT,
         config=b"[DIRECTORIES]\r\nPROGRAMS\\FOLD\\SUB,1\r\n", fs=EXFAT, bindfs=True),
]


@contextmanager
def place_for(case, tmp_path):
    """The directory the tree is made in: tmp_path (ext4), a fresh mount of
    the case's file system, or, for bindfs, an ext4 tree whose programs/fold
    is an exFAT mount, the whole seen through bindfs."""
    with ExitStack() as stack:
        if case.fs is None:
            yield tmp_path / "out", None
            return
        made = stack.enter_context(mounted(case.fs, tmp_path))
        if not case.bindfs:
            yield made.path / "out", None
            return
        if shutil.which("bindfs") is None:
            pytest.skip("bindfs is missing")
        real = tmp_path / "real"
        (real / "programs").mkdir(parents=True)
        (real / "programs" / "fold").mkdir()
        subprocess.run(["mount", "--bind", str(made.path), str(real / "programs" / "fold")],
                       check=True)
        # The run renames programs: the bind mount is let go under either name.
        for spelling in ("programs", "PROGRAMS"):
            stack.callback(subprocess.run, ["umount", str(real / spelling / "fold")],
                           capture_output=True)
        view = tmp_path / "view"
        view.mkdir()
        subprocess.run(["bindfs", str(real), str(view)], check=True)
        stack.callback(subprocess.run, ["fusermount", "-u", str(view)])
        yield view, real


def contents(root, rel):
    with open(os.path.join(os.fsencode(root), os.fsencode(rel)), "rb") as f:
        return f.read()


@pytest.mark.parametrize("case", CASES, ids=repr)
def test_names_the_run_cannot_tell_apart(native, case, tmp_path):  # noqa: F811
    program, configure = native
    with place_for(case, tmp_path) as (out, real):
        make_tree(out, SAMPLE)
        for d in case.dirs:
            os.makedirs(os.path.join(os.fsencode(out), os.fsencode(d)), exist_ok=True)
        for rel, text in case.add.items():
            path = os.path.join(os.fsencode(out), os.fsencode(rel))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(text.encode())
        if case.name.startswith("hard link"):
            os.link(out / "i386/system32/kdcom.dll", out / "i386/system32/KDCOM.DLL")
        before = {after: contents(out, rel) for rel, after in case.kept.items()}
        configure(case.config)
        result = program.run(str(out), cwd=out.parent, env={"LC_ALL": case.locale})
        assert (result.stderr, result.code) == (b"", 0)
        lines = result.stdout.split(b"\r\n")
        for name in case.fails:
            shown = name.encode()
            assert shown + F in lines, name
            assert shown not in lines, f"{name} printed as done"
        assert {after: contents(out, after) for after in case.kept.values()} == before

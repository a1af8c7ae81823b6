"""The native program loads the system's ICU only when a comparison needs the
collator, and where it needs it and cannot load it, reports the library and
renames nothing."""

import os
import re
import shutil
import subprocess

import pytest

from conftest import BANNER, NATIVE, Program
from test_faults import REPORT_LINE
from trees import read_tree

PLAIN = ["win.ini", "Winz.ini", "Win_b.ini", "win-a.txt", "I386/a.sif", "I386/B.sif"]
OTHER = ["winé.ini", "Winz.ini", "winÅ.txt", "I386/a.sif"]
LOADED = re.compile(rb"calling init: (\S*/libicu(uc|i18n)\.so\.\d+)$", re.M)

# names, locale, the ICU library replaced for the run (by an empty file, or by
# a library of another name that lacks ICU's entry points) or None; then
# whether ICU is loaded, or the library the failure report names.
CASES = {
    "plain names": (PLAIN, "C.UTF-8", None, False),
    "plain names, Turkish": (PLAIN, "tr_TR.UTF-8", None, False),
    "other names": (OTHER, "C.UTF-8", None, True),
    "plain names, single-byte character set": (PLAIN, "de_DE.ISO-8859-1", None, True),
    "plain names, ICU unreadable": (PLAIN, "C.UTF-8", ("uc", "empty"), False),
    "other names, ICU unreadable": (OTHER, "C.UTF-8", ("uc", "empty"), "uc"),
    "other names, ICU without its entry points": (OTHER, "C.UTF-8", ("i18n", "foreign"), "i18n"),
}


@pytest.fixture(scope="module")
def icu_libraries(tmp_path_factory):
    """The ICU libraries the program loads, by part ("uc", "i18n"): the path
    the loader took and the file it read."""
    out = tmp_path_factory.mktemp("probe") / "out"
    out.mkdir()
    (out / "winé.ini").write_text("x")
    log = _run_logged(Program("native", NATIVE), out, "C.UTF-8")[1]
    found = {m.group(2).decode(): m.group(1).decode() for m in LOADED.finditer(log)}
    assert set(found) == {"uc", "i18n"}, log
    return {part: (path, os.path.realpath(path)) for part, path in found.items()}


def _run_logged(program, out, locale, wrapper=()):
    """Runs the program on out with the dynamic loader's log of libraries;
    gives the result and the log."""
    log = out.parent / "loader"
    env = {"LANG": locale, "LC_ALL": "", "LD_DEBUG": "libs", "LD_DEBUG_OUTPUT": str(log)}
    result = program.run(str(out), cwd=out.parent, env=env, wrapper=wrapper)
    text = b"".join(p.read_bytes() for p in out.parent.glob("loader.*"))
    for p in out.parent.glob("loader.*"):
        p.unlink()
    return result, text


def _replacing(target, by):
    """A wrapper that runs the program in a mount namespace of its own, with
    the file target replaced by the file by."""
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed: a library cannot be replaced for one run")
    namespace = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-rm"]
    probe = subprocess.run([*namespace, "mount", "--bind", by, target], capture_output=True)
    if probe.returncode != 0:
        pytest.skip("no private mount namespace here to replace a library in: "
                    + probe.stderr.decode(errors="replace").strip())
    return [*namespace, "sh", "-c", 'mount --bind "$1" "$2" && shift 2 && exec "$@"', "replace",
            by, target]


@pytest.mark.parametrize("case", CASES)
def test_icu_is_loaded_only_where_a_comparison_needs_it(case, tmp_path, icu_libraries):
    names, locale, replaced, expected = CASES[case]
    NATIVE.with_suffix(".env").unlink(missing_ok=True)
    out = tmp_path / "out"
    for name in names:
        (out / name).parent.mkdir(parents=True, exist_ok=True)
        (out / name).write_text(name)
    wrapper = ()
    if replaced:
        part, kind = replaced
        by = tmp_path / "empty"
        by.write_bytes(b"")
        if kind == "foreign":
            by = subprocess.run(["sh", "-c", "ldconfig -p | sed -n 's/.*libm.so.6.* => //p'"],
                                capture_output=True, text=True).stdout.split()[0]
        wrapper = _replacing(icu_libraries[part][1], str(by))
    before = read_tree(out)
    result, log = _run_logged(Program("native", NATIVE), out, locale, wrapper)

    if isinstance(expected, bool):
        assert (result.code, result.stderr) == (0, b""), result.stderr
        assert result.stdout.endswith(b"\r\nDone.\r\n")
        assert "WINZ.INI" in read_tree(out)
        assert bool(LOADED.search(log)) == expected
        return
    soname = os.path.basename(icu_libraries[expected][0])
    found = REPORT_LINE.match(result.stderr)
    assert found and found.group(1) == b"ELibraryError", result.stderr
    message = result.stderr[found.end():].decode()
    assert message.startswith(f"ライブラリ {soname} を読み込めません (")
    assert message.endswith(").\r\n\r\n")
    assert (result.code, result.stdout) == (1, BANNER)
    assert read_tree(out) == before

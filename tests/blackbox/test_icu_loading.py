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


def _in_mount_namespace(script, *args):
    """A wrapper that runs the program in a mount namespace of its own, once
    the shell script (given the args) has mounted there what it mounts."""
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed: a library cannot be replaced for one run")
    namespace = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-rm"]
    wrapper = [*namespace, "sh", "-c", script + ' && exec "$@"', "mount", *args]
    probe = subprocess.run([*wrapper, "true"], capture_output=True)
    if probe.returncode != 0:
        pytest.skip("no private mount namespace here to replace a library in: "
                    + probe.stderr.decode(errors="replace").strip())
    return wrapper


def _replacing(target, by):
    """A wrapper that runs the program with the file target replaced by the
    file by."""
    return _in_mount_namespace('mount --bind "$1" "$2" && shift 2', by, target)


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


# Another ICU than the machine's: a library pair made from it that answers
# only as another version (its functions carry that version's suffix and
# forward to the machine's), the machine's own hidden from the program. The
# program must sort and compare exactly as with the machine's ICU.

# Names that only the collator orders, in each locale's character set (those
# it cannot write are left out), below the directory the run scans.
SORTED_NAMES = ["Ärger.sys", "apfel.sys", "Zebra.sys", "éclair.sys", "eclair.sys", "co-op.sys",
                "coop.sys", "straße.sys", "strasse.sys", "ıslak.sys", "İzmir.sys", "Iris.sys",
                "ñandú-und-ein-langer-name.sys", "名前.sys", "a_b.sys", "a!b.sys", "Überordner/",
                "Überordner/öl.sys", "ilk.sys", "Ilk2.sys"]
SORT_LOCALES = ["C.UTF-8", "en_US.UTF-8", "tr_TR.UTF-8", "de_DE.ISO-8859-1", "zh_CN.GBK"]
# The ICU the program is given: the version its pair answers as (None: the
# unversioned names), or no ICU at all.
OTHER_ICU = {"newest looked for": 99, "oldest looked for": 60, "unversioned": None}
ICU_SYMBOL = re.compile(r"^\S+ [TWi] (\w+)_(\d+)$", re.M)


def _charset_names(locale):
    charset = locale.partition(".")[2]
    names = []
    for name in SORTED_NAMES:
        try:
            names.append(name.encode(charset))
        except UnicodeEncodeError:
            pass
    return names


def _make_sorted_tree(out, names):
    drivers = os.path.join(os.fsencode(out), b"i386", b"system32", b"drivers")
    os.makedirs(drivers)
    for name in names:
        path = os.path.join(drivers, name)
        if name.endswith(b"/"):
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as f:
                f.write(name)


def _tree_bytes(out):
    root = os.fsencode(out)
    return sorted(os.path.relpath(os.path.join(d, n), root)
                  for d, dirs, files in os.walk(root) for n in dirs + files)


@pytest.fixture(scope="module")
def without_icu(tmp_path_factory, icu_libraries):
    """A wrapper that runs the program in a mount namespace where the
    directory of the machine's ICU holds everything but ICU (links to its
    other files), and the directory itself is seen at the returned path."""
    library_dir = os.path.dirname(icu_libraries["uc"][1])
    base = tmp_path_factory.mktemp("without-icu")
    view, seen = base / "view", base / "seen"
    view.mkdir()
    seen.mkdir()
    for entry in os.listdir(library_dir):
        if not entry.startswith("libicu"):
            (view / entry).symlink_to(seen / entry)
    script = 'mount --bind "$1" "$2" && mount --bind "$3" "$1" && shift 3'
    return _in_mount_namespace(script, library_dir, str(seen), str(view)), seen


def _forwarding_source(real, real_dir, version, needs):
    """C source of a library whose functions are ICU's by the suffix of the
    given version (none for None) and jump to the real library's, opened by
    path after those it needs."""
    symbols = subprocess.run(["nm", "-D", "--defined-only", real], capture_output=True,
                             text=True, check=True).stdout
    suffix = "" if version is None else f"_{version}"
    lines = ["#include <dlfcn.h>", "#include <stdlib.h>", "typedef void function(void);",
             "static void* real;",
             "__attribute__((constructor)) static void open_real(void) {"]
    for path in [*needs, real]:
        lines.append(f'  real = dlopen("{real_dir}/{os.path.basename(path)}", RTLD_NOW);')
        lines.append("  if (real == NULL) abort();")
    lines.append("}")
    for name, real_version in ICU_SYMBOL.findall(symbols):
        lines.append(f'static function* find_{name}(void) {{ return (function*)dlsym(real, '
                     f'"{name}_{real_version}"); }}')
        lines.append(f'void {name}{suffix}(void) __attribute__((ifunc("find_{name}")));')
    return "\n".join(lines) + "\n"


@pytest.fixture(scope="module")
def other_icu(tmp_path_factory, icu_libraries, without_icu):
    """By case of OTHER_ICU, the directory of a library pair made from the
    machine's ICU that answers as that version."""
    seen = without_icu[1]
    data = os.path.realpath(re.sub(r"libicuuc", "libicudata", icu_libraries["uc"][0]))
    made = {}
    for case, version in OTHER_ICU.items():
        directory = tmp_path_factory.mktemp("icu")
        for part, needs in (("uc", [data]), ("i18n", [data, icu_libraries["uc"][1]])):
            soname = f"libicu{part}.so" + ("" if version is None else f".{version}")
            source = directory / f"{part}.c"
            real = icu_libraries[part][1]
            source.write_text(_forwarding_source(real, seen, version, needs))
            subprocess.run(["cc", "-shared", "-fPIC", "-o", str(directory / soname),
                            f"-Wl,-soname,{soname}", str(source), "-ldl"], check=True)
        made[case] = directory
    return made


def _sorted_run(out, locale, wrapper=(), library_path=None):
    names = _charset_names(locale)
    _make_sorted_tree(out, names)
    env = {"LANG": locale, "LC_ALL": ""}
    if library_path:
        env["LD_LIBRARY_PATH"] = str(library_path)
    result = Program("native", NATIVE).run(str(out), cwd=out.parent, env=env, wrapper=wrapper)
    return result, _tree_bytes(out)


@pytest.mark.parametrize("locale", SORT_LOCALES)
@pytest.mark.parametrize("icu", OTHER_ICU)
def test_an_icu_of_another_version_sorts_as_the_machines(icu, locale, tmp_path, other_icu,
                                                          without_icu):
    NATIVE.with_suffix(".env").unlink(missing_ok=True)
    expected, expected_tree = _sorted_run(tmp_path / "machine" / "out", locale)
    assert (expected.code, expected.stderr) == (0, b""), expected.stderr
    assert expected.stdout.endswith(b"\r\nDone.\r\n")
    result, tree = _sorted_run(tmp_path / "other" / "out", locale, without_icu[0],
                               other_icu[icu])
    assert (result.code, result.stderr) == (0, b""), result.stderr
    assert (result.stdout, tree) == (expected.stdout, expected_tree)


def test_without_any_icu_a_name_that_needs_it_renames_nothing(tmp_path, without_icu):
    NATIVE.with_suffix(".env").unlink(missing_ok=True)
    out = tmp_path / "out"
    _make_sorted_tree(out, _charset_names("C.UTF-8"))
    before = _tree_bytes(out)
    result = Program("native", NATIVE).run(str(out), cwd=tmp_path, env={"LANG": "C.UTF-8",
                                           "LC_ALL": ""}, wrapper=without_icu[0])
    found = REPORT_LINE.match(result.stderr)
    assert found and found.group(1) == b"ELibraryError", result.stderr
    message = result.stderr[found.end():].decode()
    assert message.startswith("ライブラリ libicuuc.so を読み込めません (libicuuc.so: ")
    assert message.endswith(f"{os.strerror(2)}).\r\n\r\n")
    assert (result.code, result.stdout) == (1, BANNER)
    assert _tree_bytes(out) == before

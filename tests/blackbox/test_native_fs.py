"""Native runs on a case-sensitive and on a case-insensitive file system."""

import pytest

from conftest import NATIVE, Program
from test_case_folding_fs import FAT, mounted
from test_rename_run import SAMPLE, SAMPLE_AFTER
from trees import contents, make_tree, read_tree


@pytest.fixture
def native(tmp_path):
    NATIVE.with_suffix(".env").unlink(missing_ok=True)
    return Program("native", NATIVE)


def test_names_equal_but_for_case_keep_both_files(native, tmp_path):
    out = tmp_path / "out"
    make_tree(out, ["i386/system32/drivers/abc.sys", "i386/system32/drivers/ABC.SYS"])
    before = contents(out)
    result = native.run(str(out), cwd=tmp_path)
    printed = result.stdout.split(b"\r\n")
    assert result.code == 0
    # Two spellings of one name: both lines fail, the upper-case one too.
    assert sorted(l for l in printed if l.lower().startswith(b"abc.sys")) == [
        b"ABC.SYS - Failure.", b"abc.sys - Failure."]
    assert contents(out) == {
        "I386/SYSTEM32/DRIVERS/ABC.SYS": before["i386/system32/drivers/ABC.SYS"],
        "I386/SYSTEM32/DRIVERS/abc.sys": before["i386/system32/drivers/abc.sys"]}


@pytest.fixture
def fat_mount(tmp_path):
    with mounted(FAT, tmp_path) as mount:
        yield mount.path


def test_native_run_on_fat_upper_cases_the_files(native, fat_mount):
    """fusefat loses the contents of a directory that is renamed, so the tool
    leaves directories there as they are and reports them as failed."""
    out = fat_mount / "out"
    make_tree(out, SAMPLE)
    before = contents(out)
    result = native.run(str(out), cwd=fat_mount)
    assert result.code == 0
    failures = [l for l in result.stdout.split(b"\r\n") if l.endswith(b" - Failure.")]
    missing = [b"spcmdcon.sys", b"biosinfo.inf", b"bootvid.dll", b"ntkrnlmp.exe",
               b"setupreg.hiv"]
    directories = [b"PROGRAMS", b"I386\\SYSTEM32\\DRIVERS\\etc", b"I386\\SYSTEM32\\DRIVERS",
                   b"I386\\SYSTEM32", b"I386", b"winnt", b"etc"]
    assert sorted(failures) == sorted(n + b" - Failure." for n in missing + directories)
    untouched = {"programs/readme.txt", "winnt/setup.log"}

    def renamed(path):
        if path in untouched:
            return path
        head, _, name = path.rpartition("/")
        return (head + "/" if head else "") + name.upper()

    assert contents(out) == {renamed(k): v for k, v in before.items()}

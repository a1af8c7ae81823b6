"""The rename run: what is collected, the printed report and the tree after."""

import pytest

from conftest import BANNER
from trees import contents, lines, make_tree, read_tree

F = " - Failure."

SAMPLE = [
    "bootfont.bin", "bootsect.bin", "i386/bootfix.bin", "i386/ntdetect.com",
    "i386/setupldr.bin", "i386/txtsetup.sif", "i386/system32/c_1252.nls",
    "i386/system32/hal.dll", "i386/system32/kdcom.dll", "i386/system32/ntoskrnl.exe",
    "i386/system32/vgaoem.fon", "i386/system32/drivers/atapi.sys",
    "i386/system32/drivers/etc/hosts", "programs/readme.txt", "win51", "winnt/setup.log",
]

SAMPLE_AFTER = sorted([
    "BOOTFONT.BIN", "BOOTSECT.BIN", "I386/", "I386/BOOTFIX.BIN", "I386/NTDETECT.COM",
    "I386/SETUPLDR.BIN", "I386/TXTSETUP.SIF", "I386/SYSTEM32/", "I386/SYSTEM32/C_1252.NLS",
    "I386/SYSTEM32/HAL.DLL", "I386/SYSTEM32/KDCOM.DLL", "I386/SYSTEM32/NTOSKRNL.EXE",
    "I386/SYSTEM32/VGAOEM.FON", "I386/SYSTEM32/DRIVERS/", "I386/SYSTEM32/DRIVERS/ATAPI.SYS",
    "I386/SYSTEM32/DRIVERS/ETC/", "I386/SYSTEM32/DRIVERS/ETC/HOSTS", "PROGRAMS/",
    "PROGRAMS/readme.txt", "WIN51", "WINNT/", "WINNT/setup.log",
])


def run(dazi, out, *extra):
    result = dazi.run(dazi.path(out), *extra, cwd=out.parent)
    assert result.stderr == b""
    assert result.code == 0
    assert result.stdout.startswith(BANNER)
    return result.stdout[len(BANNER):]


def report(dirs, files):
    return lines("Processing Directories.", *dirs, "", "Processing Files.", *files, "", "Done.")


def test_empty_output_directory_fails_every_fixed_path(dazi, tmp_path, no_config):
    out = tmp_path / "out"
    out.mkdir()
    assert run(dazi, out) == report(
        ["PROGRAMS" + F, "I386\\SYSTEM32\\DRIVERS" + F, "I386\\SYSTEM32" + F, "I386" + F],
        [name + F for name in [
            "bootfont.bin", "bootsect.bin", "bootfix.bin", "ntdetect.com", "setupldr.bin",
            "spcmdcon.sys", "biosinfo.inf", "bootvid.dll", "kdcom.dll", "ntkrnlmp.exe",
            "ntoskrnl.exe", "setupreg.hiv"]])
    assert read_tree(out) == []


def test_typical_run_without_configuration(dazi, tmp_path, no_config):
    out = tmp_path / "out"
    make_tree(out, SAMPLE)
    before = contents(out)
    assert run(dazi, out) == report(
        ["PROGRAMS", "I386\\SYSTEM32\\DRIVERS\\etc", "I386\\SYSTEM32\\DRIVERS", "I386\\SYSTEM32",
         "I386"],
        ["win51", "winnt", "bootfont.bin", "bootsect.bin", "bootfix.bin", "ntdetect.com",
         "setupldr.bin", "spcmdcon.sys" + F, "biosinfo.inf" + F, "bootvid.dll" + F,
         "c_1252.nls", "atapi.sys", "etc", "hosts", "hal.dll", "kdcom.dll", "ntkrnlmp.exe" + F,
         "ntoskrnl.exe", "setupreg.hiv" + F, "vgaoem.fon", "txtsetup.sif"])
    assert read_tree(out) == SAMPLE_AFTER
    assert sorted(contents(out).values()) == sorted(before.values())


TYPICAL_CONFIG = (b"[DIRECTORIES]\r\n; extra trees\r\nPROGRAMS\\A43,1\r\n\"MINI NT\",0\r\n"
                  b"[FILES]\r\nI386\\SYSTEM32\\*.dll\r\nI386\\layout.inf\r\n")


def test_typical_run_with_configuration(dazi, tmp_path, config):
    out = tmp_path / "out"
    make_tree(out, SAMPLE + ["programs/a43/x/y.txt", "mini nt/", "i386/system32/ole32.dll"])
    config(TYPICAL_CONFIG)
    assert run(dazi, out) == report(
        ["PROGRAMS\\A43\\x", "PROGRAMS\\A43", "PROGRAMS", "MINI NT",
         "I386\\SYSTEM32\\DRIVERS\\etc", "I386\\SYSTEM32\\DRIVERS", "I386\\SYSTEM32", "I386"],
        ["win51", "winnt", "bootfont.bin", "bootsect.bin", "bootfix.bin", "LAYOUT.INF" + F,
         "ntdetect.com", "setupldr.bin", "spcmdcon.sys" + F, "biosinfo.inf" + F,
         "bootvid.dll" + F, "c_1252.nls", "atapi.sys", "etc", "hosts", "hal.dll", "hal.dll",
         "kdcom.dll", "kdcom.dll", "ntkrnlmp.exe" + F, "ntoskrnl.exe", "ole32.dll",
         "setupreg.hiv" + F, "vgaoem.fon", "txtsetup.sif", "x", "y.txt"])
    after = read_tree(out)
    for name in ["PROGRAMS/A43/", "PROGRAMS/A43/X/", "PROGRAMS/A43/X/Y.TXT", "MINI NT/",
                 "I386/SYSTEM32/OLE32.DLL"]:
        assert name in after


def test_drivers_subdirectory_is_listed_twice_contents_first(dazi, tmp_path, no_config):
    out = tmp_path / "out"
    make_tree(out, ["i386/system32/drivers/a.sys", "i386/system32/drivers/sub/b.sys"])
    printed = run(dazi, out).split(b"\r\n")
    assert printed[1:6] == [b"PROGRAMS - Failure.", b"I386\\SYSTEM32\\DRIVERS\\sub",
                            b"I386\\SYSTEM32\\DRIVERS", b"I386\\SYSTEM32", b"I386"]
    assert b"sub" in printed[8:] and b"b.sys" in printed[8:]
    assert read_tree(out) == ["I386/", "I386/SYSTEM32/", "I386/SYSTEM32/DRIVERS/",
                              "I386/SYSTEM32/DRIVERS/A.SYS", "I386/SYSTEM32/DRIVERS/SUB/",
                              "I386/SYSTEM32/DRIVERS/SUB/B.SYS"]


def test_root_pattern_matches_print_bare_names(dazi, tmp_path, no_config):
    out = tmp_path / "out"
    make_tree(out, ["winlog", "winner.txt", "WINNT/", "other"])
    files = run(dazi, out).split(b"\r\n")
    assert files[7:10] == [b"winlog", b"winner.txt", b"WINNT"]
    assert read_tree(out) == ["WINLOG", "WINNER.TXT", "WINNT/", "other"]

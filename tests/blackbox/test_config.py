"""The configuration file beside the program: its sections and entries."""

import os

import pytest

from conftest import BANNER
from trees import make_tree, read_tree

FIXED_DIRS = {b"PROGRAMS", b"I386\\SYSTEM32\\DRIVERS", b"I386\\SYSTEM32", b"I386"}
FIXED_FILES = {b"bootfont.bin", b"bootsect.bin", b"bootfix.bin", b"ntdetect.com",
               b"setupldr.bin", b"spcmdcon.sys", b"biosinfo.inf", b"bootvid.dll", b"kdcom.dll",
               b"ntkrnlmp.exe", b"ntoskrnl.exe", b"setupreg.hiv"}


def extra_lines(stdout):
    """The directory and file lines beyond the fixed set, in printed order."""
    body = stdout[len(BANNER):].decode("latin-1")
    dirs_part, files_part = body.split("\r\n\r\nProcessing Files.\r\n")
    dirs = dirs_part.split("\r\n")[1:]
    files = files_part.split("\r\n\r\nDone.\r\n")[0].split("\r\n")
    files = [f for f in files if f]

    def bare(line):
        return line.removesuffix(" - Failure.").encode("latin-1")

    return ([d for d in dirs if bare(d) not in FIXED_DIRS],
            [f for f in files if bare(f) not in FIXED_FILES])


def run_with(dazi, config, tmp_path, text, tree):
    out = tmp_path / "out"
    make_tree(out, tree)
    config(text)
    result = dazi.run(dazi.path(out), cwd=tmp_path)
    assert (result.stderr, result.code) == (b"", 0)
    return extra_lines(result.stdout), out


CASES = {
    "headers in any case, trailing text, comments and blank lines": (
        b"[directories] ; x\r\n; comment\r\n\r\n  a  \r\n   [FILES] old list\r\nf.txt\r\n",
        ["a/", "f.txt"], (["A"], ["F.TXT"])),
    "a longer header ends the section": (
        b"[DIRECTORIES]\na\n[DIRECTORIESX]\nb\n[FILES]\n", ["a/", "b/"], (["A"], [])),
    "quotes, separators inside them and a trailing comment": (
        b"[DIRECTORIES]\n\"MINI NT\",0 ; the mini tree\n\"x,y\"\n", ["mini nt/", "x,y/"],
        (["x,y".upper(), "MINI NT"], [])),
    "modes 0, 1, 2 and 256": (
        b"[DIRECTORIES]\nzero,0\none,1\ntwo,2\nwrap,256\nbad,one\n",
        ["zero/z.txt", "one/o.txt", "two/", "wrap/w.txt", "bad/"],
        (["ZERO", "WRAP", "ONE", "BAD"], ["o.txt"])),
    "wildcards in the name part only": (
        b"[FILES]\ni386\\*.inf\nI386\\*\\x.dll\ni386\\l?.txt\n",
        ["i386/a.inf", "i386/B.INF", "i386/c.txt", "i386/sub/x.dll", "i386/l1.txt",
         "i386/l22.txt"], ([], ["a.inf", "B.INF", "l1.txt"])),
    "sections in reverse order": (
        b"[FILES]\nf.txt\n[DIRECTORIES]\nd\n", ["d/", "f.txt"], (["D"], ["F.TXT"])),
    "a byte-order mark before the first header, [FILES]": (
        b"\xef\xbb\xbf[FILES]\nf.txt\n[DIRECTORIES]\nd\n", ["d/", "f.txt"], (["D"], ["F.TXT"])),
    "a byte-order mark before the first header, [DIRECTORIES] with a long name": (
        b"\xef\xbb\xbf[DIRECTORIES]\r\nprograms\\a_longer_tools_dir,1\r\n[FILES]\r\nf.txt\r\n",
        ["programs/a_longer_tools_dir/setup_helper_tool.exe", "f.txt"],
        (["PROGRAMS\\A_LONGER_TOOLS_DIR"], ["F.TXT", "setup_helper_tool.exe"])),
    "a file in UTF-16 (little-endian) yields no entries": (
        "\ufeff[DIRECTORIES]\r\nd\r\n[FILES]\r\nf.txt\r\n".encode("utf-16-le"),
        ["d/", "f.txt"], ([], [])),
    "a file in UTF-16 (big-endian) yields no entries": (
        "\ufeff[DIRECTORIES]\r\nd\r\n[FILES]\r\nf.txt\r\n".encode("utf-16-be"),
        ["d/", "f.txt"], ([], [])),
    "CR, LF and CR LF line ends": (
        b"[DIRECTORIES]\ra\nb\r\nc\r[FILES]\nf.txt", ["a/", "b/", "c/", "f.txt"],
        (["C", "B", "A"], ["F.TXT"])),
    "a missing entry fails at its rename": (
        b"[DIRECTORIES]\nnothing\n[FILES]\nno.txt\n", [],
        (["NOTHING - Failure."], ["NO.TXT - Failure."])),
}


@pytest.mark.parametrize("case", CASES)
def test_configuration_entries(dazi, config, tmp_path, case):
    text, tree, expected = CASES[case]
    assert run_with(dazi, config, tmp_path, text, tree)[0] == expected


def test_lone_quote_lists_the_output_directory_itself(dazi, config, tmp_path):
    (dirs, files), out = run_with(dazi, config, tmp_path, b"[DIRECTORIES]\n\"\n", ["x/"])
    assert dirs == [""]
    assert files == []


def test_configuration_directory_is_no_configuration(dazi, config, tmp_path):
    path = config(b"")
    path.unlink()
    path.mkdir()
    (dirs, files), out = run_with(dazi, lambda data: None, tmp_path, b"", [])
    assert (dirs, files) == ([], [])


def test_unopenable_configuration_is_reported_after_the_lines_so_far(dazi, config, tmp_path):
    if dazi.windows:
        pytest.skip("no file that exists but cannot be opened can be made under Wine here")
    path = config(b"")
    path.unlink()
    os.mkfifo(path)
    out = tmp_path / "out"
    out.mkdir()
    result = dazi.run(dazi.path(out), cwd=tmp_path)
    assert result.code == 1
    assert result.stdout == BANNER
    assert result.stderr.startswith(b"EFOpenError \xe3\x81\x8c")
    assert result.stderr.endswith("は開けません.\r\n\r\n".encode())
    assert str(path).encode() in result.stderr

"""Start-up: banner, usage text and the resolution of the target directory."""

import pytest

from conftest import BANNER, USAGE


def test_no_arguments_prints_banner_and_usage(dazi, tmp_path):
    result = dazi.run(cwd=tmp_path)
    assert (result.stdout, result.stderr, result.code) == (BANNER + USAGE, b"", 0)


@pytest.mark.parametrize("args", [
    ["-?"],
    ["--HELP"],
    ["--help", "{dir}"],
    ["{dir}", "--help"],
    ["{dir}", "-?"],
    ["/?"],
    ["{missing}"],
    ["{file}"],
])
def test_help_switch_or_no_directory_prints_usage(dazi, tmp_path, args):
    (tmp_path / "out").mkdir()
    (tmp_path / "plain.txt").write_text("x")
    names = {"dir": dazi.path(tmp_path / "out"), "missing": dazi.path(tmp_path / "nothing"),
             "file": dazi.path(tmp_path / "plain.txt")}
    result = dazi.run(*[a.format(**names) for a in args], cwd=tmp_path)
    assert (result.stdout, result.stderr, result.code) == (BANNER + USAGE, b"", 0)


def test_help_switch_wins_over_a_directory_of_that_name(dazi, tmp_path):
    (tmp_path / "-?").mkdir()
    result = dazi.run("-?", cwd=tmp_path)
    assert result.stdout == BANNER + USAGE


@pytest.mark.parametrize("form", ["{dir}", "{dir}{sep}", "{dir}{sep}{sep}"])
def test_existing_directory_starts_the_run(dazi, tmp_path, form):
    (tmp_path / "out").mkdir()
    arg = form.format(dir=dazi.path(tmp_path / "out"), sep=dazi.sep())
    result = dazi.run(arg, cwd=tmp_path)
    assert (result.stdout[:len(BANNER)], result.code) == (BANNER, 0)
    assert USAGE not in result.stdout


@pytest.mark.parametrize("arg, found", [
    (".{sep}out", True),
    ("..{sep}work{sep}out", True),
    (".{sep}missing", False),
    ("out", True),
])
def test_relative_directory_resolves_against_current_directory(dazi, tmp_path, arg, found):
    work = tmp_path / "work"
    (work / "out").mkdir(parents=True)
    result = dazi.run(arg.format(sep=dazi.sep()), cwd=work)
    assert result.code == 0
    assert (USAGE not in result.stdout) == found


def test_environment_references_are_expanded(dazi, tmp_path):
    (tmp_path / "b" / "out").mkdir(parents=True)
    env = {"BUILD": dazi.path(tmp_path / "b")}
    found = dazi.run("%BUILD%" + dazi.sep() + "out", cwd=tmp_path, env=env)
    assert USAGE not in found.stdout
    undefined = dazi.run("%NOSUCHNAME%" + dazi.sep() + "out", cwd=tmp_path, env=env)
    assert undefined.stdout == BANNER + USAGE


def test_banner_and_usage_reach_a_pipe_whole(dazi, tmp_path):
    result = dazi.run("-?", cwd=tmp_path)
    assert result.stdout.count(b"\r\n") == 8
    assert b"\n" not in result.stdout.replace(b"\r\n", b"")

"""Runs the built DAZI programs over real temporary trees.

Every test that takes the `dazi` fixture runs twice: on the native program and
on the Windows program under Wine. Paths are handed to the Windows program in
Wine's Z: drive form. With DAZI_NATIVE_ONLY=1 (the sanitized build) only the
native program runs, and tests that need the Windows one are skipped;
DAZI_SANITIZED=1 says that the native program carries the sanitizers. Where
no Windows program is built, or Wine is missing, the Windows cases are skipped
and the end of the output says why.
"""

import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
NATIVE = Path(os.environ.get("DAZI_NATIVE", ROOT / "build/native/dazi"))
WINDOWS32 = Path(os.environ.get("DAZI_WINDOWS", ROOT / "build/windows/DAZI.exe"))
WINDOWS64 = Path(os.environ.get("DAZI_WINDOWS64", ROOT / "build/windows64/DAZI.exe"))
WINE = Path(os.environ.get("DAZI_WINE", "/usr/lib/wine/wine64"))
WINE_RUN = Path(os.environ.get("DAZI_WINE_RUN", ROOT / "tests/wine-run"))
NATIVE_ONLY = os.environ.get("DAZI_NATIVE_ONLY") == "1"
SANITIZED = os.environ.get("DAZI_SANITIZED") == "1"

BANNER = b"-------------------------\r\n  \r\n-------------------------\r\n"
USAGE = (b"Usage:\r\n  DAZI %outdir%\r\nOptions:\r\n  -?, --help\r\n"
         b"\tdisplay this help and exit.\r\n")


def _shown(path):
    return str(path.relative_to(ROOT)) if path.is_relative_to(ROOT) else str(path)


def _windows_program():
    """The 32-bit program where this kernel can run it, else its x86-64 twin,
    and a note; or no program and the reason why the Windows cases skip."""
    if not WINE.exists():
        return None, ("Wine is missing here (scripts/install-deps installs it): "
                      "the Windows cases are skipped")
    if WINDOWS32.exists():
        probe = subprocess.run([str(WINE_RUN), str(WINDOWS32), "-?"], capture_output=True)
        if probe.returncode == 0 and probe.stdout.startswith(BANNER):
            return WINDOWS32, None
    if not WINDOWS64.exists():
        return None, (f"no Windows program is built ({_shown(WINDOWS32)}, {_shown(WINDOWS64)}): "
                      "the Windows cases are skipped; build the windows or windows64 preset "
                      "to run them")
    if not WINDOWS32.exists():
        return WINDOWS64, (f"{_shown(WINDOWS32)} is not built; "
                           f"the Windows cases run {_shown(WINDOWS64)} instead")
    return WINDOWS64, ("32-bit Windows programs cannot run on this kernel; "
                       f"the Windows cases run {_shown(WINDOWS64)} instead")


class Result:
    def __init__(self, completed):
        self.stdout = completed.stdout
        self.stderr = completed.stderr
        self.code = completed.returncode


class Program:
    def __init__(self, kind, executable):
        self.kind = kind
        self.executable = executable

    @property
    def windows(self):
        return self.kind == "windows"

    def path(self, p):
        """A path as this program's user would type it."""
        p = str(p)
        if self.windows and p.startswith("/"):
            return "Z:" + p.replace("/", "\\")
        return p

    def sep(self):
        return "\\" if self.windows else "/"

    def command(self, *args, wrapper=()):
        """The command line that runs the program, behind an optional wrapper
        such as setpriv or prlimit."""
        command = [str(self.executable), *args]
        if self.windows:
            command = [str(WINE_RUN), *command]
        return [*wrapper, *command]

    def environment(self, env=None):
        full_env = dict(os.environ)
        full_env.update(env or {})
        return full_env

    def run(self, *args, cwd=None, env=None, wrapper=(), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, preexec_fn=None, timeout=300):
        completed = subprocess.run(self.command(*args, wrapper=wrapper), cwd=cwd,
                                   env=self.environment(env), stdout=stdout, stderr=stderr,
                                   preexec_fn=preexec_fn, timeout=timeout)
        result = Result(completed)
        if self.windows and result.stderr:
            result.stderr = _without_wine_noise(result.stderr)
        return result


def _without_wine_noise(stderr):
    lines = stderr.split(b"\n")
    kept = [l for l in lines
            if not l.startswith((b"wine:", b"fixme:", b"err:", b"warn:"))
            and b":fixme:" not in l and b":err:" not in l]
    return b"\n".join(kept)


_windows_choice = {}
# Lines for the end of the test output: what a test saw that its verdict
# alone does not tell.
NOTES = []


def pytest_generate_tests(metafunc):
    if "dazi" in metafunc.fixturenames:
        kinds = ["native"] if NATIVE_ONLY else ["native", "windows"]
        metafunc.parametrize("dazi", kinds, indirect=True)


def windows_program():
    """The Windows program that this kernel can run; skips the test where only
    the native program is under test."""
    if NATIVE_ONLY:
        pytest.skip("only the native program is under test")
    if "program" not in _windows_choice:
        _windows_choice["program"], _windows_choice["note"] = _windows_program()
    if _windows_choice["program"] is None:
        pytest.skip(_windows_choice["note"])
    return Program("windows", _windows_choice["program"])


@pytest.fixture
def dazi(request):
    if request.param == "native":
        return Program("native", NATIVE)
    return windows_program()


def pytest_terminal_summary(terminalreporter):
    note = _windows_choice.get("note")
    if note:
        terminalreporter.write_line("NOTE: " + note)
    for line in NOTES:
        terminalreporter.write_line("NOTE: " + line)


@pytest.fixture
def no_config(dazi):
    """No configuration file beside the program under test."""
    path = dazi.executable.with_suffix(".env")
    path.unlink(missing_ok=True)
    yield
    path.unlink(missing_ok=True)


@pytest.fixture
def config(dazi):
    """Writes the configuration file beside the program under test."""
    path = dazi.executable.with_suffix(".env")

    def write(data):
        path.write_bytes(data)
        return path

    yield write
    if path.is_dir():
        path.rmdir()
    else:
        path.unlink(missing_ok=True)

"""Where no Windows program is built, or Wine is missing, the black-box tests
still pass on the native program alone: the Windows cases are skipped, each
with the reason, which the end of the output repeats."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import NATIVE

HERE = Path(__file__).resolve().parent


@pytest.mark.parametrize("missing, reason", [
    ({"DAZI_WINDOWS": "DAZI.exe", "DAZI_WINDOWS64": "DAZI64.exe"}, "no Windows program is built"),
    ({"DAZI_WINE": "wine64"}, "Wine is missing here"),
], ids=["no-program", "no-wine"])
def test_windows_cases_skip_with_the_reason(tmp_path, missing, reason):
    env = dict(os.environ, DAZI_NATIVE=str(NATIVE), DAZI_NATIVE_ONLY="0",
               **{name: str(tmp_path / "absent" / file) for name, file in missing.items()})
    done = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider",
         str(HERE / "test_startup.py"), "-k", "test_no_arguments_prints_banner_and_usage"],
        env=env, cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "1 passed, 1 skipped" in done.stdout
    skipped = [line for line in done.stdout.splitlines() if line.startswith("SKIPPED")]
    notes = [line for line in done.stdout.splitlines() if line.startswith("NOTE:")]
    assert len(skipped) == 1 and reason in skipped[0]
    assert len(notes) == 1 and reason in notes[0]

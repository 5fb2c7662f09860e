"""The shipped type stubs agree with the built modules (mypy's stubtest)."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

import pytest

import vora

SITE = pathlib.Path(vora.__file__).resolve().parent.parent

# The framework core is not ours to describe: it ships no stubs.
MYPY_CONFIG = """\
[mypy]
[mypy-vora.core.properties,vora.core._event,vora.core.utils]
ignore_missing_imports = True
"""


@pytest.mark.skipif(shutil.which("stubtest") is None, reason="mypy's stubtest is not installed")
@pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="mypy runs on the release interpreter")
def test_stubs_match_the_modules(tmp_path):
    assert (SITE / "vora" / "py.typed").exists()
    config = tmp_path / "mypy.ini"
    config.write_text(MYPY_CONFIG)
    env = dict(os.environ)
    # An installed package (wheel mode) is found as any typed package is, and
    # mypy refuses a site-packages folder on its own path.
    if str(SITE) not in {sysconfig.get_path("purelib"), sysconfig.get_path("platlib")}:
        env.update(MYPYPATH=str(SITE), PYTHONPATH=str(SITE))
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", str(config),
         "--concise", "vora.uix._html", "vora.uix._tree", "vora.core._attributes"],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600)
    if result.returncode != 0 and "ModuleNotFoundError" in result.stderr:
        # Debian builds mypy's compiled parts for its default interpreter
        # only; on another one mypy cannot check even a line of its own.
        probe = subprocess.run([sys.executable, "-m", "mypy", "--show-traceback", "-c", "x = 1"],
                               capture_output=True, text=True, cwd=tmp_path, timeout=600)
        missing = [line for line in (probe.stdout + probe.stderr).splitlines()
                   if line.startswith("ModuleNotFoundError")]
        if missing:
            pytest.skip(f"mypy does not run on Python {sys.version_info[0]}.{sys.version_info[1]} "
                        f"here: {missing[-1]}")
    assert result.returncode == 0, result.stdout + result.stderr

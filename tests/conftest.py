"""Shared test set-up: the package under test is the staged build, and the
hypothesis profile follows the test mode.

Profiles (VORA_HYPOTHESIS names one; scripts/test sets it for the modes that
need their own):
  ci        the default: a fixed small budget, derandomised, no database
  long      for local runs: many random examples, failures kept in .hypothesis/
  leaks     leak mode: every run of a test must draw the same examples
  valgrind  valgrind mode: a smaller budget and no explain phase (it traces)
"""

import os
import pathlib
import sys

import hypothesis
import vora

_here = pathlib.Path(__file__).resolve().parent.parent
if pathlib.Path(vora.__file__).resolve().is_relative_to(_here / "vora"):
    raise RuntimeError(
        "tests import vora from the source tree, which has no native modules; "
        "run them through scripts/test"
    )
# The main job's page and its headless Chromium (demo/) are test inputs.
sys.path.append(str(_here / "demo"))

# Every mode but long draws the same examples on every run, from no database.
_fixed = dict(
    derandomize=True,
    database=None,
    deadline=None,
    suppress_health_check=[hypothesis.HealthCheck.too_slow],
)
hypothesis.settings.register_profile("ci", max_examples=60, print_blob=True, **_fixed)
hypothesis.settings.register_profile("long", max_examples=5000, deadline=None, print_blob=True)
hypothesis.settings.register_profile("leaks", max_examples=25, **_fixed)
hypothesis.settings.register_profile(
    "valgrind",
    max_examples=10,
    phases=[phase for phase in hypothesis.Phase if phase is not hypothesis.Phase.explain],
    **_fixed,
)
hypothesis.settings.load_profile(os.environ.get("VORA_HYPOTHESIS") or "ci")

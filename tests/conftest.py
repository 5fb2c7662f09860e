"""Shared test set-up: the package under test is the staged build."""

import pathlib

import vora

_here = pathlib.Path(__file__).resolve().parent.parent
if pathlib.Path(vora.__file__).resolve().is_relative_to(_here / "vora"):
    raise RuntimeError(
        "tests import vora from the source tree, which has no native modules; "
        "run them through scripts/test"
    )

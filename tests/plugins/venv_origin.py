"""Wheel mode's guard (-p venv_origin): at the end of each process of the
run (xdist's controller and workers alike), every loaded `vora` module must
have come from the installed package, not from the checkout or a staged
build. Strays are appended to the file that VORA_STRAYS names, which
scripts/test reads when pytest is done: a worker's own exit status is lost."""

import os
import sys
import sysconfig


def strays():
    """The loaded `vora` modules that did not come from the environment's
    site packages, as "name from file"."""
    site = tuple(sysconfig.get_path(key) + os.sep for key in ("purelib", "platlib"))
    return [f"{name} from {module.__file__}" for name, module in list(sys.modules.items())
            if name.partition(".")[0] == "vora"
            and not (getattr(module, "__file__", None) or "").startswith(site)]


def pytest_sessionfinish(session):
    found = strays()
    if found:
        with open(os.environ["VORA_STRAYS"], "a") as report:
            report.writelines(line + "\n" for line in found)

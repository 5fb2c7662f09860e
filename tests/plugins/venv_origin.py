"""Wheel mode's guard (-p venv_origin): at the end of each process of the
run (xdist's controller and workers alike), every loaded `vora` module must
have come from the installed package, not from the checkout or a staged
build. Strays are appended to the file that VORA_STRAYS names, which
scripts/test reads when pytest is done: a worker's own exit status is lost."""

import os
import sys
import sysconfig


def pytest_sessionfinish(session):
    site = {sysconfig.get_path("purelib"), sysconfig.get_path("platlib")}
    strays = [f"{name} from {module.__file__}\n" for name, module in list(sys.modules.items())
              if name.partition(".")[0] == "vora"
              and not (getattr(module, "__file__", None) or "").startswith(
                  tuple(path + os.sep for path in site))]
    if strays:
        with open(os.environ["VORA_STRAYS"], "a") as report:
            report.writelines(strays)

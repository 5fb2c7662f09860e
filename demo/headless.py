"""Headless Chromium through its WebDriver, started the way a closed machine
allows: no sandbox (we run as root), no network of its own, a new empty
profile. The main job takes its screenshot with it, and the browser tests
load their pages with it."""

import os
import shutil
import tempfile

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

FLAGS = (
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
    "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--hide-scrollbars",
)


def missing():
    """Why Chromium cannot be started here, or None when it can."""
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            return f"{path} is not installed"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "selenium is not installed"
    return None


class Chromium:
    """A headless Chromium whose page area is width x height pixels, with its
    own profile folder; both are gone at close()."""

    def __init__(self, width=1280, height=800):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self.profile = tempfile.mkdtemp(prefix="vora-chromium-")
        options = webdriver.ChromeOptions()
        # Given explicitly, so that selenium never looks for a driver to download.
        options.binary_location = CHROMIUM
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument(f"--user-data-dir={self.profile}")
        try:
            self.driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER),
                                           options=options)
        except BaseException:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        # The window size would include the toolbars that a headless window
        # still counts.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def open(self, path):
        """Loads the HTML file at path (the browser takes its encoding from the file)."""
        self.driver.get("file://" + os.path.abspath(path))

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

"""What headless Chromium builds from our markup is the element tree: the
hostile pages and the main job's page, every element compared (dom_check),
styles read back through the browser's CSS object model. Browser mode only
(`scripts/test browser`), where a missing Chromium is a failure."""

import os

import pytest

import headless
from dom_check import HOSTILE, PAGE_FINDINGS, ChromiumPages, hostile_page, problems
from page import build_page
from vora.uix.widgets import js_string

MODE = os.environ.get("VORA_TEST_MODE", "plain")

pytestmark = pytest.mark.skipif(MODE != "browser",
                                reason=f"Chromium runs in browser mode (this is {MODE})")


@pytest.fixture(scope="module")
def chromium():
    reason = headless.missing()
    if reason:
        pytest.fail(f"browser mode needs Chromium: {reason}")
    pages = ChromiumPages()
    yield pages
    pages.close()


@pytest.mark.parametrize("name", HOSTILE)
def test_hostile_text_stays_text(chromium, name):
    text, findings = HOSTILE[name]
    page = hostile_page(text)
    assert problems(page, chromium.document(page), PAGE_FINDINGS + findings) == []


def test_main_page_is_what_the_tree_says(chromium):
    page = build_page()
    assert problems(page, chromium.document(page), PAGE_FINDINGS) == []


@pytest.mark.parametrize("name", HOSTILE)
def test_event_handler_strings_stay_strings(chromium, name):
    # The handler writes ids and event names into script: each must stay
    # one string literal, whatever it holds.
    text, _ = HOSTILE[name]
    assert chromium.browser.driver.execute_script(f"return {js_string(text)};") == text

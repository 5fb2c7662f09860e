"""Planted reference leaks, and clean tests that stress the leak hunt's own
bookkeeping (hypothesis, fixtures, output, warnings). Not collected with the
suite: tests/test_harness.py runs this file in leak mode by name."""

import warnings

import pytest
from hypothesis import given, strategies as st

from vora_testing import _faults


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


def test_leaks_a_reference():
    _faults.leak_reference(object())


def test_leaks_on_error_path():
    with pytest.raises(ValueError):
        _faults.leak_on_error(Unprintable())


def test_clean_call():
    assert _faults.leak_on_error(12) == ["12"]


@given(st.lists(st.text()))
def test_clean_hypothesis(texts):
    assert _faults.leak_on_error(texts) == [str(texts)]


@pytest.mark.parametrize("n", [1, 2])
def test_clean_fixtures(n, tmp_path, capsys, monkeypatch):
    monkeypatch.setenv("VORA_PLANTED", str(n))
    (tmp_path / "x").write_text("x" * n)
    print("out", n)
    assert capsys.readouterr().out == f"out {n}\n"


def test_clean_output_and_warning():
    print("some output")
    warnings.warn("planted warning", UserWarning)

"""A planted use of a borrowed reference after user code dropped it. Not
collected with the suite: tests/test_harness.py runs this file in the memory
checking modes by name."""

from vora_testing import _faults


def test_borrowed_item_used_after_eq():
    items = [object()]

    class Dropper:
        def __eq__(self, other):
            items.clear()
            return True

    _faults.first_if_equal(items, Dropper())

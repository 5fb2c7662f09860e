"""common/'s TextBuilder and append_number, driven piece by piece from a
test-only module, against "".join of the pieces' Python text: the escaping
of a grown text and its growth and widening past the inline buffer, which
no module reaches yet."""

import html

import pytest
from hypothesis import given, strategies as st

from vora_testing import text_builder

# Characters of every width, and the ones escaping replaces.
CHARS = st.one_of(st.sampled_from("&<>\"'x"), st.sampled_from("\xe9\xff\u20ac\U0001d11e"),
                  st.characters())
TEXTS = st.one_of(st.text(CHARS, max_size=30), st.text(CHARS, min_size=40, max_size=160))
ASCII = st.text(st.characters(max_codepoint=127), max_size=20)
NUMBERS = st.one_of(st.integers(), st.integers(-2**70, 2**70), st.floats(), st.booleans(),
                    st.none())
TEXT_PIECES = st.one_of(
    st.tuples(st.just("str"), TEXTS), st.tuples(st.just("escaped"), TEXTS),
    st.tuples(st.just("ascii"), ASCII),
)
PIECES = st.one_of(TEXT_PIECES, st.tuples(st.just("number"), NUMBERS))


def expected(pieces):
    def text(op, value):
        if op == "escaped":
            return html.escape(value, quote=True)
        if op == "number":
            return format(value, "") if type(value) in (int, float) else ""
        return value
    return "".join(text(op, value) for op, value in pieces)


def check(result, pieces):
    want = expected(pieces)
    # Equal strs of another kind compare unequal; the ASCII flag, which
    # equality does not look at, is what isascii() reads.
    assert result == want and result.isascii() == want.isascii()


@given(st.lists(PIECES, max_size=8))
def test_grown_text_is_the_join_of_its_pieces(pieces):
    check(text_builder.build(pieces, False), pieces)


@given(st.lists(TEXT_PIECES, max_size=8))
def test_measured_text_is_the_join_of_its_pieces(pieces):
    check(text_builder.build(pieces, True), pieces)


@pytest.mark.parametrize("measured", [False, True])
def test_nothing_appended_is_the_empty_str(measured):
    assert text_builder.build([], measured) == ""

"""common/'s TextBuilder and append_number, driven piece by piece from a
test-only module, against a Python statement of each operation: the
appends are the join of the pieces' Python text, and a grown text cut or
truncated back to a length taken earlier keeps what the same slices of
that text keep. Texts of every width past the inline buffer, so that text
widens, grows, and is cut back after it widened."""

import html

import pytest
from hypothesis import example, given, strategies as st

from vora_testing import text_builder

# Characters of every width, and the ones escaping replaces; short texts
# also ASCII only, so that a wider one after them is often cut back off.
SPECIALS = st.sampled_from("&<>\"'x")
CHARS = st.one_of(SPECIALS, st.sampled_from("\xe9\xff\u20ac\U0001d11e"), st.characters())
TEXTS = st.one_of(st.text(SPECIALS, max_size=30), st.text(CHARS, max_size=30),
                  st.text(CHARS, min_size=40, max_size=160))
ASCII = st.text(st.characters(max_codepoint=127), max_size=20)
NUMBERS = st.one_of(st.integers(), st.integers(-2**70, 2**70), st.floats(), st.booleans(),
                    st.none())
TEXT_PIECES = st.one_of(
    st.tuples(st.sampled_from(["str", "escaped", "text"]), TEXTS),
    st.tuples(st.just("ascii"), ASCII),
)
PIECES = st.one_of(TEXT_PIECES, st.tuples(st.just("number"), NUMBERS),
                   st.tuples(st.sampled_from(["mark", "truncate", "cut"]), st.none()))


def piece_text(op, value):
    if op == "escaped":
        return html.escape(value, quote=True)
    if op == "text":
        return html.escape(value, quote=False)
    if op == "number":
        return format(value, "") if type(value) in (int, float) else ""
    return value


def expected(pieces):
    """The finished text and the cut texts, by the module's rules."""
    text, marks, cuts = "", [], []
    for op, value in pieces:
        if op == "mark":
            marks.append(len(text))
        elif op in ("truncate", "cut"):
            start = marks.pop() if marks else 0
            if op == "cut":
                cuts.append(text[start:])
            text = text[:start]
        else:
            text += piece_text(op, value)
    return text, cuts


def check(result, want):
    # Equal strs of another kind compare unequal; the ASCII flag, which
    # equality does not look at, is what isascii() reads.
    assert result == want and result.isascii() == want.isascii()


# What a page mostly is once it holds one wider character: markup and
# 1-byte text widened into 2-byte storage, in every length the copy takes
# in its own steps (16 and 8 at a time, and one by one).
WIDENED = [("str", "\u20ac"), ("ascii", '<td id="'), ("ascii", ">"),
           ("str", "0123456789abcdef01234567x"), ("escaped", "e12")]


@given(st.lists(PIECES, max_size=10))
@example(WIDENED)
def test_grown_text_is_its_pieces_joined_and_cut(pieces):
    text, cuts = text_builder.build(pieces, False)
    want_text, want_cuts = expected(pieces)
    assert len(cuts) == len(want_cuts)
    for result, want in zip([text, *cuts], [want_text, *want_cuts]):
        check(result, want)


@given(st.lists(TEXT_PIECES, max_size=8))
@example(WIDENED)
def test_measured_text_is_the_join_of_its_pieces(pieces):
    text, _ = text_builder.build(pieces, True)
    check(text, expected(pieces)[0])


@pytest.mark.parametrize("measured", [False, True])
def test_nothing_appended_is_the_empty_str(measured):
    assert text_builder.build([], measured) == ("", [])

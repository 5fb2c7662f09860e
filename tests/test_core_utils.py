"""get_color_from_hex_255 against a plain statement of its rule."""

import itertools

import pytest

from vora.core.utils import get_color_from_hex_255

HEX = set("0123456789abcdefABCDEF")


def reference(text):
    digits = text[1:] if text.startswith("#") else text
    if len(digits) not in (3, 6, 8) or not set(digits) <= HEX:
        return None
    if len(digits) == 3:
        digits = "".join(d + d for d in digits)
    pairs = [digits[i:i + 2] for i in range(0, len(digits), 2)]
    result = [int(p, 16) for p in pairs[:3]]
    if len(pairs) == 4:
        result.append(int(pairs[3], 16) / 255)
    return result


@pytest.mark.parametrize("text", [
    "#fff", "#000", "f80", "#FF8000", "ff8000", "#ff800080", "00000000", "#A1b2C3d4",
    "#1234", "#12345", "#1234567", "#123456789", "", "#", "##fff", "#ggg", "fff\n",
    " #fff", "#ff 000", "#0x1234", "#+12", "#１２３", "#_12", "red",
])
def test_matches_reference(text):
    assert get_color_from_hex_255(text) == reference(text)


def test_all_short_forms():
    for digits in itertools.product("0f9A", repeat=3):
        text = "#" + "".join(digits)
        assert get_color_from_hex_255(text) == reference(text)


def test_component_types():
    assert get_color_from_hex_255("#ff000080") == [255, 0, 0, 128 / 255]
    r, g, b, a = get_color_from_hex_255("#01020304")
    assert all(type(c) is int for c in (r, g, b)) and type(a) is float


@pytest.mark.parametrize("value", [None, 5, b"#fff", ["#fff"]])
def test_not_text(value):
    assert get_color_from_hex_255(value) is None

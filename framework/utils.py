"""Small helpers of the framework core."""

import re

_HEX_COLOR = re.compile(r"#?([0-9a-fA-F]{3}|[0-9a-fA-F]{6}|[0-9a-fA-F]{8})")


def get_color_from_hex_255(text):
    """Colour components of hex text: "#rgb", "#rrggbb" or "#rrggbbaa", "#" optional.

    Returns [red, green, blue] as ints on 0-255, followed by the alpha as a float
    on 0-1 when the text gives one; None for any other text.
    """
    if not isinstance(text, str):
        return None
    match = _HEX_COLOR.fullmatch(text)
    if match is None:
        return None
    digits = match.group(1)
    if len(digits) == 3:
        digits = "".join(digit * 2 for digit in digits)
    components = [int(digits[i:i + 2], 16) for i in range(0, 6, 2)]
    if len(digits) == 8:
        components.append(int(digits[6:8], 16) / 255)
    return components

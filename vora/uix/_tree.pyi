"""The page walk: an element and all its descendants serialized in one call."""

from typing import Any

__all__ = ("render_tree",)

def render_tree(element: Any, /) -> str: ...

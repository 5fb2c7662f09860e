"""Fast HTML attribute joiners and the default element template renderer."""

from collections.abc import Callable, Iterable, Mapping
from typing import Any, Final, Protocol

__all__ = ("DEFAULT_HTML_TPL", "join_style", "join_cls", "join_attributes", "render_default_html")

class _HasItems(Protocol):
    def items(self) -> Iterable[Any]: ...

class _HasValues(Protocol):
    def values(self) -> Iterable[Any]: ...

DEFAULT_HTML_TPL: Final[str]
html_escape: Callable[..., str | None]

def join_style(style_container: Mapping[Any, Any] | _HasItems | None) -> str: ...
def join_cls(
    default_cls: Iterable[str] | None, cls_container: Mapping[Any, Any] | _HasValues | None
) -> str: ...
def join_attributes(attr_container: Mapping[Any, Any] | _HasItems | None) -> str: ...
def render_default_html(
    tagname: str | None,
    tagid: str | None,
    cls: str | None,
    style: str | None,
    attributes: str | None,
    content: str | None,
) -> str: ...

"""A matcher's hits of a text read from `map_text_json` in one go, which
costs less than reading each `corvanta.Hit`'s attributes."""
from __future__ import annotations

import corvanta
import msgspec

__all__ = ["JsonHit", "decoded_hits", "json_hits"]


class JsonHit(msgspec.Struct, rename={"term_id": "termId"}, gc=False):
    term_id: str
    label: str
    span: tuple[int, int]  # as Hit.span: UTF-8 bytes of the lower-cased text
    excluded: bool


_DECODER = msgspec.json.Decoder(list[JsonHit])


def json_hits(matcher: corvanta.Corvanta, text: str) -> list[JsonHit]:
    """The hits of `text`, as `matcher.map_text` orders them."""
    return _DECODER.decode(matcher.map_text_json(text))


def decoded_hits(rendered: str) -> list[JsonHit]:
    """The hits of a `map_text_json` result."""
    return _DECODER.decode(rendered)

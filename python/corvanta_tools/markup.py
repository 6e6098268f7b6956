"""Text into HTML: escaped, and with bidirectional controls made visible.

An embedding, override or isolate control (U+202E RIGHT-TO-LEFT OVERRIDE, say)
in a note would reorder everything after it on the line, highlights included,
so a reviewer would read a different text than the one annotated. Each such
control is shown as a small visible marker naming its code point instead; the
character offsets of the text are unaffected, since only the markup changes.
"""
from __future__ import annotations

import html
import re

__all__ = ["BIDI_CONTROLS", "html_attribute", "html_text"]

BIDI_CONTROLS = frozenset("\u061c\u200e\u200f\u202a\u202b\u202c\u202d\u202e"
                          "\u2066\u2067\u2068\u2069")

_TEXT_MARKERS = str.maketrans({c: f'<span class="bidi" title="bidirectional control">'
                                  f"U+{ord(c):04X}</span>" for c in BIDI_CONTROLS})
_ATTRIBUTE_MARKERS = str.maketrans({c: f"[U+{ord(c):04X}]" for c in BIDI_CONTROLS})
# Finding none (the usual case) is much faster than a translation that changes nothing.
_ANY_CONTROL = re.compile("[" + "".join(sorted(BIDI_CONTROLS)) + "]")


def html_text(text: str) -> str:
    """`text` as element content."""
    escaped = html.escape(text, quote=False)
    return escaped.translate(_TEXT_MARKERS) if _ANY_CONTROL.search(escaped) else escaped


def html_attribute(text: str) -> str:
    """`text` as the value of a double-quoted attribute."""
    if _ANY_CONTROL.search(text):
        text = text.translate(_ATTRIBUTE_MARKERS)
    return html.escape(text)

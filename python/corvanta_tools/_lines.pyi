"""The toolkit's compiled helper for JSON lines (src/tools/record_lines.cpp)."""
from collections.abc import Callable, Iterable
from typing import Any

def json_lines(records: Iterable[tuple[object, ...]],
               layout: tuple[tuple[str, int, bool], ...],
               object_json: Callable[[Any], str], /) -> str:
    """One line of JSON per record, each ended by a line break; the layout
    gives each item's key (with what precedes it), kind and nullability."""

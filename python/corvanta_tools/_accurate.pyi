"""The accurate profile's compiled helper (src/tools/coordination_search.cpp)."""
from collections.abc import Sequence

def coordinations(text: str, hit_starts: Sequence[int], words: frozenset[str],
                  /) -> list[tuple[tuple[int, int], ...]]:
    """The variants of corvanta_tools.accuracy.coordination's search: lead,
    conjunct and tail str spans of each."""

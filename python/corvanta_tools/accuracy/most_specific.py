"""The most-specific switch: of two nested hits whose terms are ancestor and
descendant, only the descendant's stays ("brachydactyly type C" keeps Type C
brachydactyly and drops the Brachydactyly inside it). Whether that is right
depends on how a corpus annotates, so no profile turns it on."""
from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Protocol

__all__ = ["most_specific"]


class _Hit(Protocol):
    @property
    def char_span(self) -> tuple[int, int] | None: ...
    @property
    def term_id(self) -> str: ...


def most_specific(hits: Sequence[_Hit], ancestors: Callable[[str], frozenset[str]]) -> list[int]:
    """The positions of the hits to keep: all but those whose term is an
    ancestor of the term of a hit they lie in or that lies in them."""
    dropped = set()
    for k, hit in enumerate(hits):
        span = hit.char_span
        if span is None:
            continue
        above = ancestors(hit.term_id)
        for j, other in enumerate(hits):
            place = other.char_span
            if (j != k and place is not None and other.term_id in above
                    and ((place[0] <= span[0] and span[1] <= place[1])
                         or (span[0] <= place[0] and place[1] <= span[1]))):
                dropped.add(j)
    return [k for k in range(len(hits)) if k not in dropped]

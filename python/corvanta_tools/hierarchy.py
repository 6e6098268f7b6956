"""The is-a hierarchy of an HPO release's terms: parents, the transitive
closure, and the most specific of a set of terms.

`Hierarchy.read(path)` decodes only the graph's is-a edges between HP terms
(the rest of the document is skipped unread). The closure is reflexive: every
term counts as its own ancestor and descendant, so that "a term or any of its
descendants" is one lookup.
"""
from __future__ import annotations

import os
from collections.abc import Iterable, Iterator, Mapping

import msgspec

from corvanta_tools.releases import HP_IRI, ReleaseError, read_release_bytes

__all__ = ["Hierarchy"]

IS_A = "is_a"


class _Edge(msgspec.Struct, gc=False):
    sub: str
    pred: str
    obj: str


class _Graph(msgspec.Struct, gc=False):
    edges: list[_Edge] | None = None


class _Document(msgspec.Struct, gc=False):
    graphs: list[_Graph]


_DECODER = msgspec.json.Decoder(_Document)


def _hp_id(iri: str) -> str | None:
    return "HP:" + iri[len(HP_IRI):] if iri.startswith(HP_IRI) else None


class Hierarchy:
    """The is-a parents of each HP term, and what follows from them. Immutable."""

    __slots__ = ("_parents", "_ancestors")

    def __init__(self, parents: Mapping[str, Iterable[str]]) -> None:
        self._parents = {term: tuple(ps) for term, ps in parents.items()}
        self._ancestors: dict[str, frozenset[str]] = {}

    @classmethod
    def read(cls, path: str | os.PathLike[str]) -> Hierarchy:
        """The hierarchy of a release file (plain or gzipped OBO Graphs JSON);
        the last graph's edges, as the matcher and `Release` read it."""
        try:
            document = _DECODER.decode(read_release_bytes(path))
        except msgspec.DecodeError as error:
            raise ReleaseError(f"{os.fspath(path)}: not an HPO release: {error}") from None
        if not document.graphs:
            raise ReleaseError(f"{os.fspath(path)}: not an HPO release: the document has no graph")
        parents: dict[str, list[str]] = {}
        for edge in document.graphs[-1].edges or ():
            if edge.pred != IS_A:
                continue
            child, parent = _hp_id(edge.sub), _hp_id(edge.obj)
            if child is not None and parent is not None and child != parent:
                parents.setdefault(child, []).append(parent)
        return cls(parents)

    def parents(self, term: str) -> tuple[str, ...]:
        return self._parents.get(term, ())

    def ancestors(self, term: str) -> frozenset[str]:
        """The term and every term above it (a cycle in a broken release ends
        where it closes)."""
        found = self._ancestors.get(term)
        if found is None:
            self._ancestors[term] = frozenset((term,))  # what a cycle back here sees
            found = frozenset((term,)).union(*map(self.ancestors, self._parents.get(term, ())))
            self._ancestors[term] = found
        return found

    def terms(self) -> frozenset[str]:
        """Every term that has a parent or is one."""
        return frozenset(self._parents).union(*self._parents.values())

    def closure(self) -> Iterator[tuple[str, str]]:
        """Every (ancestor, descendant) pair, each term with itself included."""
        for term in sorted(self.terms()):
            for ancestor in self.ancestors(term):
                yield ancestor, term

    def most_specific(self, terms: Iterable[str]) -> list[str]:
        """`terms` without those that have a strict descendant among them, in
        the order given."""
        terms = list(dict.fromkeys(terms))
        covered = {a for t in terms for a in self.ancestors(t) if a != t}
        return [t for t in terms if t not in covered]

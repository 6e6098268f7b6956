"""The is-a hierarchy of an HPO release's terms: parents, the transitive
closure, and the most specific of a set of terms.

`Hierarchy.of(release)` takes the parents `Release` read with the rest of
the release. The closure is reflexive: every term counts as its own ancestor
and descendant, so that "a term or any of its descendants" is one lookup.
"""
from __future__ import annotations

from collections.abc import Iterable, Iterator, Mapping

from corvanta_tools.releases import Release

__all__ = ["Hierarchy"]


class Hierarchy:
    """The is-a parents of each HP term, and what follows from them. Immutable."""

    __slots__ = ("_parents", "_ancestors")

    def __init__(self, parents: Mapping[str, Iterable[str]]) -> None:
        self._parents = {term: tuple(ps) for term, ps in parents.items()}
        self._ancestors: dict[str, frozenset[str]] = {}

    @classmethod
    def of(cls, release: Release) -> Hierarchy:
        """The hierarchy of a release (its last graph's is-a edges, as the
        matcher and `Release` read it)."""
        return cls(release.parents())

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

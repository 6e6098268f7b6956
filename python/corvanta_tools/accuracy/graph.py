"""What the accurate profile reads of a release besides what the matcher
reads: each term's surfaces (label and synonyms) and the is-a hierarchy."""
from __future__ import annotations

import functools

import msgspec

from corvanta_tools.releases import read_release_bytes

__all__ = ["PHENOTYPE_ROOT", "ReleaseGraph", "term_id"]

_HP_IRI = "http://purl.obolibrary.org/obo/HP_"
PHENOTYPE_ROOT = "HP:0000118"


class _Synonym(msgspec.Struct, gc=False):
    val: str | None = None


class _Meta(msgspec.Struct, gc=False):
    synonyms: list[_Synonym] | None = None


class _Node(msgspec.Struct, gc=False):
    id: str = ""
    lbl: str | None = None
    meta: _Meta | None = None


class _Edge(msgspec.Struct, gc=False):
    sub: str = ""
    pred: str = ""
    obj: str = ""


class _Graph(msgspec.Struct, gc=False):
    nodes: list[_Node] = []
    edges: list[_Edge] = []


class _Document(msgspec.Struct, gc=False):
    graphs: list[_Graph] = []


def term_id(iri: str) -> str | None:
    """HP:nnnnnnn for an HP term's IRI; None for anything else."""
    return "HP:" + iri[len(_HP_IRI):] if iri.startswith(_HP_IRI) else None


class ReleaseGraph:
    """The HP terms' surfaces and is-a parents of the first graph of a release
    file, as the matcher's subtree is computed from the first graph. Its
    sequences are tuples: of strings only, the garbage collector stops
    looking at them, which a process that annotates much keeps paying for
    lists."""

    def __init__(self, path: str) -> None:
        document = msgspec.json.decode(read_release_bytes(path), type=_Document)
        graph = document.graphs[0] if document.graphs else _Graph()
        self.surfaces: dict[str, tuple[str, ...]] = {}
        for node in graph.nodes:
            key = term_id(node.id)
            if key is not None:
                synonyms = node.meta.synonyms if node.meta is not None else None
                found = (node.lbl, *(s.val for s in synonyms or ()))
                self.surfaces[key] = tuple(s for s in found if s)
        parents: dict[str, list[str]] = {}
        children: dict[str, list[str]] = {}
        for edge in graph.edges:
            child, parent = term_id(edge.sub), term_id(edge.obj)
            if edge.pred == "is_a" and child is not None and parent is not None:
                parents.setdefault(child, []).append(parent)
                children.setdefault(parent, []).append(child)
        self.parents = {term: tuple(found) for term, found in parents.items()}
        self.children = {term: tuple(found) for term, found in children.items()}

    def descendants(self, root: str) -> set[str]:
        """`root` and every term below it."""
        found = {root}
        queue = [root]
        while queue:
            for child in self.children.get(queue.pop(), ()):
                if child not in found:
                    found.add(child)
                    queue.append(child)
        return found

    @functools.lru_cache(maxsize=65536)  # noqa: B019 - one graph per recogniser, kept for good
    def ancestors(self, term: str) -> frozenset[str]:
        """Every term above `term` by is-a, itself excluded."""
        found: set[str] = set()
        queue = list(self.parents.get(term, ()))
        while queue:
            parent = queue.pop()
            if parent not in found:
                found.add(parent)
                queue.extend(self.parents.get(parent, ()))
        return frozenset(found)

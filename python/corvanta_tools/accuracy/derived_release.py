"""The derived release of the accurate profile: labels leave the exact stage.

An exact hit removes every clustering hit that overlaps it, so which terms a
text yields depends on whether a surface happened to match letter for letter:
the one word "brachydactyly" hides the longer, more specific clustering hit
"brachydactyly type C" (Type C brachydactyly), and the exact "severe mental
retardation" hides the "mental retardation" nested in it, which clustering
would report as it reports every nested window. In the derived release every
label and synonym is written with a pair of braces after its first character
("B{}rachydactyly"): label tokenization deletes braces, so the surface keeps
its stems and the clustering stage still finds it, while the lower-cased
surface no longer occurs in any text, so the exact stage never reports it.
Every hit is then a clustering hit, with the nested windows clustering gives.
Hits report such a surface with its braces; `original_surface` takes them out
again. A surface that clustering cannot find keeps its exact match: one with
a character that ends a cluster in a text ("Intellectual disability, severe")
or a word that the label table drops but a text's clustering does not skip
("Nausea and vomiting"); and so does one that does not start with two letters
or digits (braces after a parenthesis would change how the label table strips
it).

With `outside_subtree`, the derived release also puts the roots of the terms
of OUTSIDE_ROOTS (mode of inheritance, onset) below the phenotypic
abnormality, so that the matcher knows their terms too.

Every surface is rewritten the same way, so the label table keeps its
equalities (shared labels, synonyms pruned for equalling a label) and the
release its version and term ids. Short all-capital synonyms, which the label
table drops for their length, stay as they are so that they are still
dropped.
"""
from __future__ import annotations

import functools
import hashlib
import json
import re
from pathlib import Path
from typing import Any

from corvanta_tools.atomic import atomic_file
from corvanta_tools.release_cache import process_temporary_dir, user_cache_dir
from corvanta_tools.releases import read_release_bytes

__all__ = ["MARK", "OUTSIDE_ROOTS", "clustered", "derived_release_path", "original_surface"]

_HP_IRI = "http://purl.obolibrary.org/obo/HP_"
# Terms outside the phenotypic abnormality that texts state as findings, by
# root. The rest of the clinical modifiers (severity, course, laterality) are
# words such as "severe" and "progressive" that qualify a finding rather than
# state one: on GSC+ they cost more precision than they add recall.
OUTSIDE_ROOTS = {"HP:0000005": "mode of inheritance", "HP:0003674": "onset"}

MARK = "{}"
# Part of a derived file's name: a change to what derivation writes gets new files.
_FORMAT = 3
# Two letters or digits, then only letters, digits and what the clustering
# stage reads as a space.
_MARKABLE = re.compile("[^\\W_]{2}(?:[^\\W_]|[\\s\"'+\\-/:;_\u2019])*")
_WORD = re.compile(r"[^\W_]+")
# The label table's stop words that the clustering stage does not skip in a text.
_CLUSTER_ENDS = frozenset(
    "or on by no an be do and but are has had did have been done being having because".split())
# Fewer than four characters, capitals and no lower-case letter: a synonym
# the label table drops whatever else happens to it.
_SHORT_CAPITALS = 4


def clustered(surface: str) -> str:
    """`surface` as the derived release writes it."""
    if _MARKABLE.fullmatch(surface) is None or not _CLUSTER_ENDS.isdisjoint(
            _WORD.findall(surface.lower())):
        return surface
    return surface[0] + MARK + surface[1:]


@functools.lru_cache(maxsize=65536)
def original_surface(surface: str) -> str:
    """A surface as the release wrote it, from the derived release's form."""
    return surface.replace(MARK, "")


def _short_capitals(text: str) -> bool:
    return (len(text) < _SHORT_CAPITALS and any(c.isupper() for c in text)
            and not any(c.islower() for c in text))


def _derived_node(node: dict[str, Any]) -> None:
    label = node.get("lbl")
    if isinstance(label, str):
        node["lbl"] = clustered(label)
    meta = node.get("meta")
    synonyms = meta.get("synonyms") if isinstance(meta, dict) else None
    for synonym in synonyms if isinstance(synonyms, list) else ():
        value = synonym.get("val") if isinstance(synonym, dict) else None
        if isinstance(value, str) and not _short_capitals(value):
            synonym["val"] = clustered(value)


def _iri(term: str) -> str:
    return _HP_IRI + term.removeprefix("HP:")


def derived_release(data: bytes, outside_subtree: bool = False) -> bytes:
    """The release `data` (OBO Graphs JSON) with its surfaces marked, and with
    `outside_subtree` the OUTSIDE_ROOTS below the phenotypic abnormality."""
    document = json.loads(data)
    graphs = document.get("graphs") or []
    for graph in graphs:
        for node in graph.get("nodes") or ():
            if isinstance(node, dict):
                _derived_node(node)
    if outside_subtree and graphs and isinstance(graphs[0].get("edges"), list):
        graphs[0]["edges"].extend({"sub": _iri(root), "pred": "is_a", "obj": _iri("HP:0000118")}
                                  for root in OUTSIDE_ROOTS)
    return json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def _written_atomically(target: Path, data: bytes) -> str:
    """`data` in `target`, written beside it under a temporary name and
    renamed over it once complete, so that a reader never sees half a file."""
    with atomic_file(target) as file:
        file.write(data)
    return str(target)


@functools.lru_cache(maxsize=4)
def derived_release_path(source: str, outside_subtree: bool = False,
                         cache_dir: Path | None = None) -> str:
    """The derived release of the release file `source` (plain or gzipped):
    `derived/<sha256 of source>-clustered<format>[-outside].json` in the cache
    directory (default: the user cache directory), written atomically once and
    reused; where the cache cannot be written, in a temporary directory removed
    when the process exits."""
    data = read_release_bytes(source)
    name = (f"{hashlib.sha256(data).hexdigest()}-clustered{_FORMAT}"
            + ("-outside" if outside_subtree else "") + ".json")
    directory = (cache_dir or user_cache_dir()) / "derived"
    cached = directory / name
    if cached.is_file():
        return str(cached)
    derived = derived_release(data, outside_subtree)
    try:
        directory.mkdir(parents=True, exist_ok=True)
        return _written_atomically(cached, derived)
    except OSError:
        return _written_atomically(Path(process_temporary_dir()) / name, derived)

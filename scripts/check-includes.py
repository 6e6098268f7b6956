"""Checks the include graph of src/ against its layers (DESIGN.md).

    python scripts/check-includes.py

Every file of src/ is a node; a header and its source (x.hpp and x.cpp in
one folder) count as one. Reports, and exits 1 on, any of:
  - an include cycle among the nodes;
  - an include of a layer the including layer may not use (above it, or
    beside it);
  - an include of an outside library's header from a layer other than the
    one that wraps it (simdjson in ontology, libstemmer in text, Python in
    the binding);
  - an include that names no file of src/ and no system header (a stale
    path).
Prints the layers and their file counts otherwise. Pure Python, no build.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SRC = ROOT / "src"

# Each layer and the layers it may include, its own aside; "" is the top of
# src/, which may include any layer.
MAY_USE = {
    "base": set(),
    "text": {"base"},
    "ontology": {"base"},
    "fetch": {"base"},
    "lexicon": {"base", "text", "ontology"},
    "recognize": {"base", "text", "lexicon"},
    "python": {"base", "text", "ontology", "lexicon", "recognize", "fetch"},
    "": {"base", "text", "ontology", "lexicon", "recognize", "fetch", "python"},
}
# The toolkit's compiled helpers: no part of the core, they include none of it.
APART = {"tools"}
# Outside headers that only one layer may include.
WRAPPED_BY = {"simdjson.h": "ontology", "libstemmer.h": "text", "Python.h": "python"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def layer_of(path):
    parts = path.relative_to(SRC).parts
    return parts[0] if len(parts) > 1 else ""


def node_of(path):
    return path.with_suffix("").relative_to(SRC).as_posix()


def resolve(including, name):
    """The file of src/ that a quoted include names, or None."""
    for base in (including.parent, SRC):
        candidate = (base / name).resolve()
        if candidate.is_file() and SRC in candidate.parents:
            return candidate
    return None


def cycles(edges):
    """Each cycle of the graph once, as a list of nodes (Tarjan's components)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    sys.setrecursionlimit(10_000)
    files = sorted(p for p in SRC.rglob("*") if p.suffix in (".hpp", ".cpp", ".h"))
    edges, problems, counts = {}, [], {}
    for path in files:
        layer = layer_of(path)
        if layer in APART:
            continue
        counts[layer] = counts.get(layer, 0) + 1
        edges.setdefault(node_of(path), set())
        for kind, name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            where = path.relative_to(SRC).as_posix()
            if kind == "<":
                owner = WRAPPED_BY.get(name)
                if owner is not None and owner != layer:
                    problems.append(f"{where}: includes <{name}>, which only {owner}/ may")
                continue
            target = resolve(path, name)
            if target is None:
                problems.append(f'{where}: "{name}" names no file of src/')
                continue
            target_layer = layer_of(target)
            if target_layer != layer and target_layer not in MAY_USE.get(layer, set()):
                problems.append(f'{where}: "{name}" is {target_layer or "top"}/, '
                                f"which {layer or 'top'}/ may not use")
            if node_of(target) != node_of(path):
                edges[node_of(path)].add(node_of(target))
    for cycle in cycles(edges):
        problems.append("include cycle: " + " -> ".join(cycle))
    for layer in sorted(counts):
        print(f"{layer or '(top of src/)'}: {counts[layer]} files")
    for problem in problems:
        print(problem)
    print(f"{len(edges)} units, {sum(map(len, edges.values()))} includes between them, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

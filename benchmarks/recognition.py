"""Recognition throughput over a corpus, one and two threads, beside a plain
dictionary scan of the same label table with pyahocorasick.

    .venv/bin/python -m pip install pyahocorasick   # benchmark-only dependency
    .venv/bin/python benchmarks/recognition.py [RELEASE] [CORPUS.jsonl]

The plain scan lower-cases each text and runs iter_long over it, with the
lower-cased surface forms of the label table as patterns. It only finds
labels; our recognition runs both stages, negation and builds Hit objects.
"""
import json
import pathlib
import platform
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import corvanta

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
RELEASE = sys.argv[1] if len(sys.argv) > 1 else str(SHARED / "hpo" / "hp.json")
CORPUS = sys.argv[2] if len(sys.argv) > 2 else str(SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl")
ROUNDS = 3


def best_of(n, f):
    best = float("inf")
    for _ in range(n):
        start = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - start)
    return best


def label_surfaces(release):
    """Labels and synonyms of the release's HP terms: close to the label table
    (no parenthesis rule or pruning), which is all a throughput comparison needs."""
    with open(release, encoding="utf-8") as f:
        graph = json.load(f)["graphs"][0]
    surfaces = set()
    for node in graph.get("nodes", []):
        if not node.get("id", "").startswith("http://purl.obolibrary.org/obo/HP_") or "lbl" not in node:
            continue
        surfaces.add(node["lbl"])
        for syn in (node.get("meta") or {}).get("synonyms", []):
            surfaces.add(syn["val"])
    return sorted(surfaces)


def plain_scan(texts, release):
    try:
        import ahocorasick
    except ImportError:
        return None
    automaton = ahocorasick.Automaton()
    for i, surface in enumerate(label_surfaces(release)):
        if surface:
            automaton.add_word(surface.lower(), i)
    automaton.make_automaton()

    def scan():
        for text in texts:
            for _ in automaton.iter_long(text.lower()):
                pass

    return best_of(ROUNDS, scan)


def main():
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    print(f"{platform.node()} {platform.machine()} {time.strftime('%Y-%m-%d')} commit {commit}")
    with open(CORPUS, encoding="utf-8") as f:
        texts = [json.loads(line)["text"] for line in f]
    chars = sum(map(len, texts))
    matcher = corvanta.Corvanta(RELEASE)
    hits = sum(len(matcher.map_text(t)) for t in texts)
    print(f"corpus: {len(texts)} texts, {chars / 1e6:.2f} M characters, {hits} hits")

    def one_thread():
        for text in texts:
            matcher.map_text(text)

    # One pool for every round: a thread keeps its stemmer memo and scratch
    # buffers between calls, as a long-running worker thread would.
    pool = ThreadPoolExecutor(2)
    halves = [texts[0::2], texts[1::2]]

    def two_threads():
        list(pool.map(lambda part: [matcher.map_text(t) for t in part], halves))

    single = best_of(ROUNDS, one_thread)
    two_threads()
    double = best_of(ROUNDS, two_threads)
    pool.shutdown()
    for name, seconds in (("map_text, 1 thread", single), ("map_text, 2 threads", double)):
        print(f"{name:<22} {len(texts) / seconds:10.0f} texts/s {chars / seconds / 1e6:8.2f} M chars/s")
    print(f"2 threads / 1 thread: {single / double:.2f}x")
    plain = plain_scan(texts, RELEASE)
    if plain is None:
        print("pyahocorasick not installed: no plain-scan comparison")
    else:
        print(f"{'plain scan, 1 thread':<22} {len(texts) / plain:10.0f} texts/s {chars / plain / 1e6:8.2f} M chars/s")
        print(f"map_text / plain scan throughput: {plain / single:.2f}")


if __name__ == "__main__":
    main()

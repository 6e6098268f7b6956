"""Agreement with the GSC+ gold annotations (228 abstracts), for a feel of
recognition quality; not a test, and nothing here tunes the system.

    .venv/bin/python benchmarks/gsc_plus.py [RELEASE] [GSC_PLUS.jsonl]

Gold ids that are now alternative ids are mapped to their primary ids
first. Scores are micro-averaged over documents: per document, the set of
term ids found against the set annotated (document level), and the
(start, end, id) triples (mention level, character offsets; a hit whose
span has no character offsets counts as missed).
"""
import json
import pathlib
import sys
import time

import corvanta
from corvanta_tools import CharOffsets

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
RELEASE = sys.argv[1] if len(sys.argv) > 1 else str(SHARED / "hpo" / "hp.json")
CORPUS = sys.argv[2] if len(sys.argv) > 2 else str(SHARED / "corpora" / "gsc_plus" / "docs.jsonl")
HP = "http://purl.obolibrary.org/obo/HP_"


def primary_ids(release):
    with open(release, encoding="utf-8") as f:
        graph = json.load(f)["graphs"][0]
    primary = {}
    for node in graph["nodes"]:
        if not node["id"].startswith(HP):
            continue
        term = "HP:" + node["id"][len(HP):]
        for prop in (node.get("meta") or {}).get("basicPropertyValues", []):
            if prop["pred"].endswith("#hasAlternativeId"):
                primary[prop["val"].replace("_", ":")] = term
    return primary


def scores(found, gold):
    tp = sum(len(f & g) for f, g in zip(found, gold))
    precision = tp / max(1, sum(map(len, found)))
    recall = tp / max(1, sum(map(len, gold)))
    f1 = 2 * precision * recall / max(1e-12, precision + recall)
    return precision, recall, f1


def main():
    primary = primary_ids(RELEASE)
    docs = [json.loads(line) for line in open(CORPUS, encoding="utf-8")]
    matcher = corvanta.Corvanta(RELEASE)
    for name, method in (("map_text", matcher.map_text), ("map_text_longest", matcher.map_text_longest)):
        start = time.perf_counter()
        results = [method(d["text"]) for d in docs]
        seconds = time.perf_counter() - start
        doc_found, doc_gold, span_found, span_gold = [], [], [], []
        for doc, hits in zip(docs, results):
            offsets = CharOffsets(doc["text"])
            gold = [(a["start"], a["end"], primary.get(a["hpo_id"], a["hpo_id"])) for a in doc["annotations"]]
            doc_gold.append({g[2] for g in gold})
            span_gold.append(set(gold))
            doc_found.append({h.term_id for h in hits})
            span_found.append({(*span, h.term_id) for h in hits
                               if (span := offsets.char_span(h.span)) is not None})
        print(f"{name}: {sum(map(len, results))} hits in {seconds * 1e3:.0f} ms")
        for level, found, gold in (("document", doc_found, doc_gold), ("mention", span_found, span_gold)):
            p, r, f = scores(found, gold)
            print(f"  {level:<9} precision {p:.3f}  recall {r:.3f}  F1 {f:.3f}")


if __name__ == "__main__":
    main()

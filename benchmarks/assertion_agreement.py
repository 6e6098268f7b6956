"""Agreement of the native ConText (corvanta_tools.context) with the medspaCy
route (corvanta_tools.spacy.assertions.with_assertions, the library's sentence rule)
on every mention of the MEDLINE abstracts and a sample of MedQuAD.

    .venv/bin/python benchmarks/assertion_agreement.py [STEP] [RELEASE]

STEP picks every STEP-th MedQuAD document (default 10: about 550 documents,
2 MB, spread over all its collections; 1 reads all 21 MB). Per corpus and
category: the mentions each side flags, the share of mentions on which both
agree, and Cohen's kappa; then, per category, the most common disagreements
as the trigger texts that flagged the mention on the one side.
"""
import collections
import itertools
import json
import pathlib
import sys
import time

import corvanta
from corvanta_tools.fields import CATEGORIES
from corvanta_tools.spacy.assertions import with_assertions
from corvanta_tools.context import assess_all
from corvanta_tools.records import annotate

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
STEP = int(sys.argv[1]) if len(sys.argv) > 1 else 10
RELEASE = sys.argv[2] if len(sys.argv) > 2 else str(SHARED / "hpo" / "hp.json")
CORPORA = {"MEDLINE abstracts": (SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl", 1),
           f"MedQuAD (every {STEP}th document)": (SHARED / "corpora" / "medquad" / "docs.jsonl", STEP)}
PATTERNS = 8


def texts(path, step):
    with open(path, encoding="utf-8") as lines:
        for line in itertools.islice(lines, 0, None, step):
            record = json.loads(line)
            yield record["id"], record["text"]


def triggers(assertion, category):
    return " + ".join(sorted({m.text.lower() for m in assertion.modifiers
                              if m.category == category})) or "(no trigger)"


def kappa(both, first, second, total):
    """Cohen's kappa of two yes/no raters over `total` items."""
    observed = (total - first - second + 2 * both) / total
    expected = (first * second + (total - first) * (total - second)) / total ** 2
    return (observed - expected) / (1 - expected) if expected < 1 else 1.0


def compare(name, documents):
    start = time.process_time()
    native = list(assess_all(documents))
    native_time = time.process_time() - start
    start = time.process_time()
    medspacy = list(with_assertions(documents))
    medspacy_time = time.process_time() - start
    pairs = [(a, b) for d, e in zip(native, medspacy) for a, b in zip(d.records, e.records)
             if a.char_span is not None and b.assertion is not None]
    chars = sum(len(d.text) for d in documents)
    print(f"\n{name}: {len(documents)} documents, {chars / 1e6:.2f} Mchar, {len(pairs)} mentions; "
          f"CPU native {native_time:.2f} s, medspaCy {medspacy_time:.2f} s")
    print(f"  {'category':<20} {'native':>7} {'medspaCy':>9} {'both':>6} {'agree':>7} {'kappa':>6}")
    differences = {}
    for category, field in CATEGORIES.items():
        first = sum(getattr(a.assertion, field) for a, _ in pairs)
        second = sum(getattr(b.assertion, field) for _, b in pairs)
        both = sum(getattr(a.assertion, field) and getattr(b.assertion, field) for a, b in pairs)
        agree = 1 - (first + second - 2 * both) / len(pairs)
        print(f"  {category:<20} {first:>7} {second:>9} {both:>6} {agree:>7.2%} "
              f"{kappa(both, first, second, len(pairs)):>6.3f}")
        differences[category] = (
            collections.Counter(triggers(a.assertion, category) for a, b in pairs
                                if getattr(a.assertion, field) and not getattr(b.assertion, field)),
            collections.Counter(triggers(b.assertion, category) for a, b in pairs
                                if getattr(b.assertion, field) and not getattr(a.assertion, field)))
    for category, (native_only, medspacy_only) in differences.items():
        for side, counter in (("native only", native_only), ("medspaCy only", medspacy_only)):
            if counter:
                common = ", ".join(f'"{t}" {n}' for t, n in counter.most_common(PATTERNS))
                print(f"  {category} {side} ({sum(counter.values())}): {common}")


def main():
    matcher = corvanta.Corvanta(RELEASE)
    for name, (path, step) in CORPORA.items():
        documents = [annotate(matcher, doc_id, text, assertion="library") for doc_id, text in texts(path, step)]
        compare(name, documents)


if __name__ == "__main__":
    main()

"""Assertion status against the GSC+ gold annotations: the library's own
negation flag next to ConText's, native (corvanta_tools.context) and
medspaCy's, and how much the sentence splitter changes medspaCy's answers.

    .venv/bin/python benchmarks/assertion_gsc_plus.py [RELEASE] [GSC_PLUS.jsonl]

Prints document-level precision, recall and F1 (corvanta_tools.evaluate's
scoring, map_text hits) when mentions are dropped
  (a) by the library's `excluded` flag,
  (b) by ConText's negation (native, then medspaCy's per sentence splitter),
  (c) by ConText's negation, or as family or hypothetical mentions;
then the assertion table of tests/data/assertion_sentences.json with the
library's flag, the native ConText and medspaCy's, the mentions whose
attributes differ between medspaCy's sentence splitters on GSC+, on that
table and on the notes below, and the native ConText's answers on the notes.
"""
import json
import pathlib
import sys
import time

import corvanta
from corvanta_tools.fields import CATEGORIES
from corvanta_tools.spacy.assertions import with_assertions
from corvanta_tools.context import assess_all
from corvanta_tools.evaluate import Mention, score
from corvanta_tools.gold import read_gold_jsonl
from corvanta_tools.records import annotate
from corvanta_tools.releases import Release
from corvanta_tools.spacy import SPLITTERS

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
RELEASE = sys.argv[1] if len(sys.argv) > 1 else str(SHARED / "hpo" / "hp.json")
CORPUS = sys.argv[2] if len(sys.argv) > 2 else str(SHARED / "corpora" / "gsc_plus" / "docs.jsonl")
TABLE = ROOT / "tests" / "data" / "assertion_sentences.json"
NOTES = [
    # Hard-wrapped lines, as notes are often typed.
    "Neurology follow-up. The patient reports no evidence of\nataxia or tremor since the last\n"
    "visit, and denies headache. Mother and sister have short\nstature.",
    # Lists: one finding a line, and ";"-separated findings.
    "Review of systems:\n- fever: denies\n- seizures\n- no cough\nExam: no ataxia; tremor present; "
    "possible hearing impairment.",
    # Section headings, and a question mark inside a sentence.
    "Family history: obesity and diabetes in the father.\nAssessment: rule out epilepsy? "
    "Seizures are not excluded. Without fever, headache or stiff neck.",
]
FLAGS = tuple(CATEGORIES.values())


def dropped(record, rule):
    a = record.assertion
    if rule == "library" or a is None:
        return record.excluded
    if rule == "negated":
        return a.is_negated
    return a.is_negated or a.is_family or a.is_hypothetical


def flags(record):
    a = record.assertion
    return tuple(f for f in FLAGS if a is not None and getattr(a, f))


def describe(record):
    triggers = ", ".join(f'{m.category.split("_")[0].lower()} "{m.text}"'
                         for m in record.assertion.modifiers) if record.assertion else ""
    return " ".join(f.removeprefix("is_") for f in flags(record)) + (f" ({triggers})" if triggers else "")


def disagreements(assessed):
    """Per pair of splitters, the records whose attributes differ."""
    names = list(assessed)
    pairs = {}
    for i, first in enumerate(names):
        for second in names[i + 1:]:
            pairs[(first, second)] = [
                (d.id, a, b) for d, e in zip(assessed[first], assessed[second])
                for a, b in zip(d.records, e.records) if flags(a) != flags(b)]
    return pairs


def print_disagreements(title, assessed, examples=3):
    print(f"\n{title}: mentions whose ConText attributes differ")
    for (first, second), rows in disagreements(assessed).items():
        total = sum(len(d.records) for d in assessed[first])
        print(f"  {first} vs {second}: {len(rows)} of {total}")
        for doc_id, a, b in rows[:examples]:
            print(f"    {doc_id} {a.text!r}: {first} [{describe(a)}]  {second} [{describe(b)}]")


def main():
    release = Release(RELEASE)
    matcher = corvanta.Corvanta(RELEASE)
    gold = read_gold_jsonl(CORPUS)
    # JSON-lines gold: one passage, the whole text, at offset 0.
    documents = [annotate(matcher, g.id, g.passages[0][1], assertion="library") for g in gold]
    start = time.perf_counter()
    native = list(assess_all(documents))
    print(f"native ConText: {time.perf_counter() - start:.2f} s")
    assessed = {}
    for splitter in SPLITTERS:
        start = time.perf_counter()
        assessed[splitter] = list(with_assertions(documents, splitter))
        print(f"assertions with sentences={splitter!r}: {time.perf_counter() - start:.1f} s")

    print(f"\nGSC+ ({len(gold)} abstracts), document level, map_text hits")
    rules = (("(a) library excluded flag", "library"), ("(b) ConText negation", "negated"),
             ("(c) ConText negation, family, hypothetical", "negated+"))
    for splitter, docs in [("native", native), *assessed.items()]:
        for name, rule in rules:
            if rule == "library" and splitter != "native":
                continue
            found = {d.id: [Mention(r.char_span, r.term_id, dropped(r, rule)) for r in d.records]
                     for d in docs}
            counts = score(gold, found, release).total.document
            label = name if rule == "library" else (
                f"{name} [native]" if splitter == "native" else f"{name} [medspaCy, {splitter}]")
            print(f"  {label:<58} P {counts.precision:.3f}  R {counts.recall:.3f}  F1 {counts.f1:.3f}")
    print_disagreements("GSC+", assessed)

    table = json.loads(TABLE.read_text(encoding="utf-8"))
    sentences = [annotate(matcher, f"s{i + 1}", case["text"], assertion="library") for i, case in enumerate(table)]
    table_assessed = {s: list(with_assertions(sentences, s)) for s in SPLITTERS}
    table_native = list(assess_all(sentences))
    print("\nassertion table (medspaCy with sentences='library')")
    print(f"  {'sentence':<42} {'term':<11} {'excluded':<9} {'native ConText':<40} medspaCy")
    for case, mine, document in zip(table, table_native, table_assessed["library"]):
        record = next(r for r in document.records if r.term_id == case["term"])
        native_record = next(r for r in mine.records if r.term_id == case["term"])
        print(f"  {json.dumps(case['text']):<42} {record.text:<11} "
              f"{str(record.excluded).lower():<9} {describe(native_record) or '-':<40} "
              f"{describe(record) or '-'}")
    print_disagreements("assertion table", table_assessed)

    notes = [annotate(matcher, f"note{i + 1}", text, assertion="library") for i, text in enumerate(NOTES)]
    print_disagreements("notes", {s: list(with_assertions(notes, s)) for s in SPLITTERS}, 10)
    print("\nnotes, native ConText")
    for document in assess_all(notes):
        for record in document.records:
            print(f"  {document.id} {record.text!r}: {describe(record) or '-'}")


if __name__ == "__main__":
    main()

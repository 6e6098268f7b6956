"""Speed of the spaCy integration on MEDLINE abstracts, against the matcher
in the same run: the tokenizer, the "corvanta" component on top of it, the
clinical pipeline (with each sentence splitter, and as medspaCy builds it),
`with_assertions` (the medspaCy route, `--assertion medspacy`), the native ConText
(`corvanta_tools.context.assess`, no spaCy) and `nlp.pipe` on two processes. Also checks
that the faster ConText gives the modifiers of medspaCy's own on every abstract.

    .venv/bin/python benchmarks/assertion_speed.py [COUNT] [RELEASE] [ABSTRACTS.jsonl]

COUNT abstracts (default: all) from the front of the corpus, each pipeline
run once over them (spaCy's tokenizer caches what it has seen, so repeated
rounds over the same texts would flatter it); PyRuSH, at a few hundredths of
the rate, only over the first 300. Rates in millions of characters per
second of this process's CPU time (the machine's other work does not count),
except for the two-process rows, which are wall-clock time. spaCy sends each
Doc back from a worker process as bytes (`Doc.to_bytes`, `Doc.from_bytes` in
the parent), which costs about as much as the whole clinical pipeline; the
last rows print those costs too.
"""
import itertools
import json
import os
import pathlib
import sys
import time

import spacy
from spacy.tokens import Doc

import corvanta
from corvanta_tools.spacy.assertions import with_assertions
from corvanta_tools.context import assess, default_lexicon
from corvanta_tools.context import engine as context_engine
from corvanta_tools.records import annotate
from corvanta_tools.spacy import SPLITTERS, clinical_pipeline
from corvanta_tools.spacy.tokenizer import NAME as TOKENIZER

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else None
PYRUSH_COUNT = 300
RELEASE = sys.argv[2] if len(sys.argv) > 2 else str(SHARED / "hpo" / "hp.json")
CORPUS = sys.argv[3] if len(sys.argv) > 3 else str(
    SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl")


def seconds(run, clock=time.process_time):
    start = clock()
    run()
    return clock() - start


def report(name, elapsed, chars):
    print(f"  {name:<52} {chars / elapsed / 1e6:6.2f} Mchar/s  {elapsed * 1e3:7.0f} ms")
    return elapsed


def tokenizer_only():
    """The clinical pipeline's tokenizer (medspaCy's), nothing else."""
    return spacy.blank("en", config={"nlp": {"tokenizer": {"@tokenizers": TOKENIZER}}})


def medspacy_default():
    """medspaCy's own pipeline: PyRuSH, and ConText with its token matcher."""
    nlp = clinical_pipeline(RELEASE, sentences="pyrush")
    nlp.replace_pipe("corvanta_context", "medspacy_context",
                     config={"input_span_type": "group", "span_group_name": "hpo"})
    return nlp


def modifiers(nlp, texts):
    return [[(s.start_char, s.kb_id_, tuple((m.category, m.modifier_span, m.scope_span)
                                             for m in s._.modifiers)) for s in doc.spans["hpo"]]
            for doc in nlp.pipe(texts)]


def main():
    texts = [json.loads(line)["text"]
             for line in itertools.islice(open(CORPUS, encoding="utf-8"), COUNT)]
    chars = sum(map(len, texts))
    few = texts[:PYRUSH_COUNT]
    few_chars = sum(map(len, few))
    matcher = corvanta.Corvanta(RELEASE)
    print(f"{len(texts)} abstracts, {chars / 1e6:.2f} Mchar, spaCy {spacy.__version__}, "
          f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")

    print("recognition")
    report("map_text", seconds(lambda: [matcher.map_text(t) for t in texts]), chars)
    report("map_text_longest", seconds(lambda: [matcher.map_text_longest(t) for t in texts]), chars)

    print("component (nlp.pipe; each a fresh pipeline, the better of two alternating rounds)")
    base, both = float("inf"), float("inf")
    for _ in range(2):
        tokenizer = tokenizer_only()
        base = min(base, seconds(lambda: list(tokenizer.pipe(texts))))
        with_component = tokenizer_only()
        with_component.add_pipe("corvanta", config={"release_path": RELEASE})
        both = min(both, seconds(lambda: list(with_component.pipe(texts))))
    report("tokenizer", base, chars)
    report("tokenizer + corvanta", both, chars)
    print(f"  the component's own time is {(both - base) / base:.2f}x the tokenizer's")

    print("clinical pipeline (nlp.pipe)")
    pipelines = {splitter: clinical_pipeline(RELEASE, sentences=splitter) for splitter in SPLITTERS}
    for splitter, nlp in pipelines.items():
        if splitter != "pyrush":
            report(f"clinical_pipeline(sentences={splitter!r})",
                   seconds(lambda: list(nlp.pipe(texts))), chars)
    print(f"  on the first {len(few)} abstracts:")
    report("clinical_pipeline(sentences='pyrush')",
           seconds(lambda: list(pipelines["pyrush"].pipe(few))), few_chars)
    before = medspacy_default()
    report("before: PyRuSH + medspaCy's ConText", seconds(lambda: list(before.pipe(few))), few_chars)
    same = modifiers(before, few) == modifiers(pipelines["pyrush"], few)
    print(f"  the faster ConText gives medspaCy's modifiers on every one: {same}")

    print("records (corvanta annotate; native rows: the better of three alternating rounds)")
    compiled = context_engine.scan

    def native(search):
        context_engine.scan = search
        try:
            return seconds(lambda: [assess(annotate(matcher, "d", t)) for t in texts])
        finally:
            context_engine.scan = compiled

    searches = {"compiled search": compiled, "regular expression": None}
    if compiled is None:
        print("  corvanta_tools._context is not built here (a source tree on the path): "
              "the regular expression only")
        del searches["compiled search"]
    default_lexicon().pattern()  # compiled before any clock starts
    best = dict.fromkeys(["annotate", *searches], float("inf"))
    for _ in range(3):
        best["annotate"] = min(best["annotate"],
                               seconds(lambda: [annotate(matcher, "d", t) for t in texts]))
        for name, search in searches.items():
            best[name] = min(best[name], native(search))
    report("annotate", best["annotate"], chars)
    for name in searches:
        report(f"annotate + context.assess ({name})", best[name], chars)
        print(f"    {best[name] / best['annotate']:.2f}x annotate alone")
    for splitter in ("library", "sentencizer"):
        report(f"annotate + with_assertions(sentences={splitter!r})", seconds(
            lambda: list(with_assertions((annotate(matcher, "d", t, assertion="library") for t in texts), splitter))),
            chars)

    print("two processes (clinical_pipeline, nlp.pipe batch_size=64, wall clock)")
    nlp = clinical_pipeline(RELEASE)
    wall = time.perf_counter
    one = report("n_process=1", seconds(lambda: list(nlp.pipe(texts, batch_size=64)), wall), chars)
    two = report("n_process=2", seconds(
        lambda: list(nlp.pipe(texts, batch_size=64, n_process=2)), wall), chars)
    print(f"  speed-up {one / two:.2f}x; load average {os.getloadavg()[0]:.1f}")
    docs = list(nlp.pipe(texts))
    sent = []
    report("Doc.to_bytes (in a worker)", seconds(lambda: sent.extend(d.to_bytes() for d in docs)),
           chars)
    report("Doc.from_bytes (in the parent)", seconds(
        lambda: [Doc(nlp.vocab).from_bytes(data) for data in sent]), chars)


if __name__ == "__main__":
    main()

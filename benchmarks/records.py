"""What records cost: `annotate(..., assertion="library")` plus JSON lines
(and TSV) over the MEDLINE abstracts, against plain `map_text` in the same
run, on the same matcher; and, for scale, the default route, with the
toolkit's ConText.

    .venv/bin/python benchmarks/records.py [ROUNDS] [RELEASE] [ABSTRACTS.jsonl]

Each route runs ROUNDS times (default 5), alternating, and its best round
counts; times are this process's CPU time, so the machine's other work does
not count. The ratio is map_text's time over the route's: 1.0 would be
records for free.
"""
import io
import json
import pathlib
import sys
import time

import corvanta
from corvanta_tools.embedded import default_release_path
from corvanta_tools.formats.lines import write_jsonl, write_tsv
from corvanta_tools.records import annotate

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
RELEASE = sys.argv[2] if len(sys.argv) > 2 else default_release_path()
CORPUS = sys.argv[3] if len(sys.argv) > 3 else str(
    SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl")


def abstracts():
    with open(CORPUS, encoding="utf-8") as lines:
        return [(str(d["id"]), d["text"]) for d in map(json.loads, lines)]


def main():
    matcher = corvanta.Corvanta(RELEASE)
    docs = abstracts()
    chars = sum(len(text) for _, text in docs)

    def map_text():
        for _, text in docs:
            matcher.map_text(text)

    def records(writer, assertion="library"):
        def run():
            writer(io.StringIO(), matcher.version(),
                   (annotate(matcher, note, text, assertion=assertion) for note, text in docs))
        return run

    routes = {"map_text": map_text, "annotate + jsonl": records(write_jsonl),
              "annotate + tsv": records(write_tsv),
              "+ context, jsonl": records(write_jsonl, "context")}
    best = dict.fromkeys(routes, float("inf"))
    for _ in range(ROUNDS):
        for name, run in routes.items():
            start = time.process_time()
            run()
            best[name] = min(best[name], time.process_time() - start)
    print(f"{len(docs)} abstracts, {chars / 1e6:.1f} M characters, release "
          f"{matcher.version()}, best of {ROUNDS} rounds (CPU time)")
    for name, elapsed in best.items():
        print(f"  {name:<18} {elapsed * 1e3:7.0f} ms  {chars / elapsed / 1e6:6.2f} Mchar/s  "
              f"{best['map_text'] / elapsed:5.2f}x map_text")


if __name__ == "__main__":
    main()

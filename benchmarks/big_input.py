"""`corvanta annotate` of one big note, in every output format, beside the
library alone (`Corvanta(release)` plus `map_text` of the same text).

    .venv/bin/python benchmarks/big_input.py [--mb 50] [--hpo RELEASE] [--corpus DOCS.jsonl] [FORMAT ...]

The note is the corpus's texts (default: the medical abstracts corpus, about
one hit per 175 characters; examples/sample_note.txt with --corpus sample, a
hit per 41) repeated up to the size, each text starting with a few non-ASCII
characters (a Latin-1 letter, U+0130, which grows when lower-cased, and the
Kelvin sign, which shrinks), so that offsets all through the note need
converting. Each run is a fresh process, timed from start to exit (the
library's run includes starting Python and reading the note, as the
command's does); "cpu" is its user plus system time, steadier than the wall
time on a busy machine, and its peak memory its maximum resident set size,
also given beyond what the same run holds for an empty note (the matcher,
and for the command its modules and the release's term labels), over the
note's size.
"""
from __future__ import annotations

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
RELEASE = ROOT.parent / "shared" / "hpo" / "hp.json"
CORPUS = ROOT.parent / "shared" / "corpora" / "medical_abstracts_tc" / "docs.jsonl"
FORMATS = ("tsv", "jsonl", "table", "html", "phenopacket", "bioc-xml", "bioc-json", "pubtator",
           "brat")
DIRECTORY_FORMATS = {"brat"}

LIBRARY = """
import sys, corvanta
matcher = corvanta.Corvanta(sys.argv[1])
with open(sys.argv[2], encoding="utf-8") as f:
    text = f.read()
print(len(matcher.map_text(text)))
"""


def texts(corpus: str) -> list[str]:
    if corpus == "sample":
        return [(ROOT / "examples" / "sample_note.txt").read_text(encoding="utf-8")]
    with open(corpus, encoding="utf-8") as f:
        return [json.loads(line)["text"] for line in f if line.strip()]


def big_note(path: pathlib.Path, size: int, corpus: str) -> int:
    written = 0
    sources = texts(corpus)
    with open(path, "w", encoding="utf-8") as f:
        while written < size:
            for number, text in enumerate(sources):
                copy = f"Note {number} (Zo\u00eb from \u0130zmir, 300 \u212a)\n{text}\n\n"
                f.write(copy)
                written += len(copy.encode("utf-8"))
                if written >= size:
                    break
    return path.stat().st_size


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("formats", nargs="*", default=list(FORMATS))
    parser.add_argument("--mb", type=float, default=50)
    parser.add_argument("--hpo", default=str(RELEASE))
    parser.add_argument("--corpus", default=str(CORPUS))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        note = pathlib.Path(work) / "note.txt"
        size = big_note(note, int(args.mb * 1e6), args.corpus)
        print(f"note: {size / 1e6:.1f} MB from {args.corpus}; release {args.hpo}")
        rows = []
        for name in args.formats:
            target = pathlib.Path(work) / ("out" if name in DIRECTORY_FORMATS else f"out.{name}")
            command = [sys.executable, "-m", "corvanta_tools", "annotate", "--hpo", args.hpo,
                       "--format", name, "-o", str(target), str(note)]
            rows.append((name, *isolated(command)))
        library = isolated([sys.executable, "-c", LIBRARY, args.hpo, str(note)])
        # What the same runs hold before any text: the matcher (and the
        # command's modules and release metadata).
        empty = pathlib.Path(work) / "empty.txt"
        empty.write_text("")
        library_base = isolated([sys.executable, "-c", LIBRARY, args.hpo, str(empty)])[2]
        command_base = isolated([sys.executable, "-m", "corvanta_tools", "annotate", "--hpo",
                                 args.hpo, "-o", str(pathlib.Path(work) / "empty.tsv"),
                                 str(empty)])[2]
    wall, cpu, peak, hits = library
    print(f"library (build + map_text): {wall:.2f} s, cpu {cpu:.2f} s, peak {peak / 1e6:.0f} MB "
          f"({(peak - library_base) / size:.2f} x text beyond the {library_base / 1e6:.0f} MB "
          f"of the matcher), {hits} hits")
    print(f"command before any text: peak {command_base / 1e6:.0f} MB")
    print(f"{'format':<12} {'seconds':>8} {'x library':>10} {'cpu':>7} {'x library':>10} "
          f"{'peak MB':>8} {'x text':>7} {'beyond base':>12}")
    for name, seconds, cpu_seconds, format_peak, _ in rows:
        print(f"{name:<12} {seconds:8.2f} {seconds / wall:10.2f} {cpu_seconds:7.2f} "
              f"{cpu_seconds / cpu:10.2f} {format_peak / 1e6:8.0f} {format_peak / size:7.2f} "
              f"{(format_peak - command_base) / size:10.2f} x")


def isolated(command: list[str]) -> tuple[float, float, int, str]:
    """Wall seconds, CPU seconds, peak resident bytes and standard output of `command`,
    run as the only child of a fresh interpreter, so that the peak measured is
    that command's own."""
    probe = ("import os, resource, subprocess, sys, time\n"
             "start = time.perf_counter()\n"
             "out = subprocess.run(sys.argv[1:], check=True, stdout=subprocess.PIPE).stdout\n"
             "elapsed = time.perf_counter() - start\n"
             "usage = resource.getrusage(resource.RUSAGE_CHILDREN)\n"
             "cpu = usage.ru_utime + usage.ru_stime\n"
             "sys.stdout.write(f'{elapsed} {cpu} {usage.ru_maxrss * 1024}\\n' + out.decode())\n")
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"))
    result = subprocess.run([sys.executable, "-c", probe, *command], check=True,
                            stdout=subprocess.PIPE, env=env, text=True)
    first, _, rest = result.stdout.partition("\n")
    elapsed, cpu, peak = first.split()
    return float(elapsed), float(cpu), int(peak), rest.strip()


if __name__ == "__main__":
    main()

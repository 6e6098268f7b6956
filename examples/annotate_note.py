"""Annotates one clinical note and prints its HPO hits, negated ones marked."""
import argparse
import pathlib
import sys

import corvanta

HERE = pathlib.Path(__file__).resolve().parent


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("note", nargs="?", default=str(HERE / "sample_note.txt"))
    parser.add_argument("--hpo", help="release file (hp.json); default: the cached latest release")
    parser.add_argument("--cache", default=str(pathlib.Path.home() / ".cache" / "corvanta"))
    args = parser.parse_args(argv)

    matcher = corvanta.Corvanta(args.hpo) if args.hpo else corvanta.Corvanta.fetch_latest(args.cache)
    text = pathlib.Path(args.note).read_text(encoding="utf-8")
    hits = matcher.map_text_longest(text)
    print(f"HPO release {matcher.version()}: {len(hits)} hits in {args.note}")
    for hit in hits:
        start, end = hit.span
        mark = "NEGATED" if hit.excluded else ""
        print(f"{hit.term_id:<12} {start:>5}-{end:<5} {hit.label:<40} {mark}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

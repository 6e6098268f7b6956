"""The Python API in one script: build a matcher, annotate a note, map spans
to characters, and read the JSON form.

    python examples/python_api.py [--hpo hp.json] [NOTE]

Type-checks under `mypy --strict` (the package ships its stubs).
"""
from __future__ import annotations

import argparse
import json
import pathlib

import corvanta
from corvanta_tools import CharOffsets, term_url, user_cache_dir

HERE = pathlib.Path(__file__).resolve().parent


def load(hpo: str | None) -> corvanta.Corvanta:
    if hpo is not None:
        return corvanta.Corvanta(hpo)
    # Downloads the latest release on first use, then reuses the cached file.
    return corvanta.Corvanta.fetch_latest(str(user_cache_dir()))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("note", nargs="?", default=str(HERE / "sample_note.txt"))
    parser.add_argument("--hpo")
    args = parser.parse_args()

    matcher = load(args.hpo)
    text = pathlib.Path(args.note).read_text(encoding="utf-8")
    print(f"HPO release {matcher.version()}")

    offsets = CharOffsets(text)
    for hit in matcher.map_text_longest(text):
        chars = offsets.char_span(hit.span)
        where = text[chars[0]:chars[1]] if chars is not None else "(offsets not mappable)"
        status = "absent" if hit.excluded else "present"
        print(f"{hit.term_id}  {hit.label:<28} {status:<8} {where!r}  {term_url(hit.term_id)}")

    hits: list[dict[str, object]] = json.loads(matcher.map_text_json(text))
    print(f"{len(hits)} hits as JSON; the first: {json.dumps(hits[0]) if hits else None}")


if __name__ == "__main__":
    main()

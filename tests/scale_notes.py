"""A few hundred notes for the scale-out tests, and what `corvanta annotate
--format jsonl` makes of them: every engine must give exactly those records."""
import json
import pathlib

import pytest

from corvanta_tools import main
from corvanta_tools.formats.lines import json_line

SAMPLE = (pathlib.Path(__file__).resolve().parents[1] / "examples" / "sample_note.txt").read_text(
    encoding="utf-8")
VARIANTS = ["", " No evidence of tremor.", " Denies cough but has fever.",
            " \u0130 obesity; \u212a headache.", "\u00e9 Seizures.", "\n\nno findings"]


def write_notes(directory, count=300):
    """`count` notes (some empty) as files; returns [(path, text)] in order."""
    notes = []
    for i in range(count):
        text = "" if i % 50 == 7 else (SAMPLE if i % 3 else SAMPLE[:300]) + VARIANTS[i % len(VARIANTS)]
        path = directory / f"note{i:03d}.txt"
        path.write_text(text, encoding="utf-8")
        notes.append((str(path), text))
    return notes


def command_line_jsonl(release, notes, out):
    assert main(["annotate", "--hpo", release, "--format", "jsonl", "-o", str(out),
                 *(path for path, _ in notes)]) == 0
    return out.read_text(encoding="utf-8")


def as_jsonl(records):
    """JSON lines of `Record.as_json()` dicts, as the command line writes them."""
    return "".join(json_line(record) + "\n" for record in records)


FLAGS = ("is_negated", "is_uncertain", "is_historical", "is_hypothetical", "is_family")


def frame_records(frame):
    """The rows of a hit table (pandas) back as `Record.as_json()` dicts."""
    import pandas

    def value(cell):
        return None if pandas.isna(cell) else cell

    return [{"document": row.document, "term_id": row.term_id, "label": row.label,
             "term_label": value(row.term_label),
             "char_span": None if value(row.char_start) is None else [int(row.char_start),
                                                                      int(row.char_end)],
             "byte_span": [int(row.byte_start), int(row.byte_end)],
             "excluded": bool(row.excluded), "text": row.text,
             "assertion": {flag: bool(getattr(row, flag)) for flag in FLAGS}}
            for row in frame.itertuples(index=False)]


def table_jsonl(jsonl):
    """The command line's JSON lines as a hit table holds them: each
    assertion's categories, without its triggers."""
    records = [json.loads(line) for line in jsonl.splitlines()]
    return as_jsonl({**r, "assertion": {flag: r["assertion"][flag] for flag in FLAGS}}
                    for r in records)


@pytest.fixture(scope="module")
def collection(tmp_path_factory, small_release):
    """The notes as [(path, text)] and the command line's JSON lines for them."""
    notes = write_notes(tmp_path_factory.mktemp("notes"))
    return notes, command_line_jsonl(small_release, notes, tmp_path_factory.mktemp("out") / "a.jsonl")


def annotated_jsonl(documents):
    return as_jsonl(record.as_json() for document in documents for record in document.records)

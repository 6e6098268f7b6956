"""Every shape of a record agrees with the field table (corvanta_tools.fields):
the dataclass, its JSON (dict and compiled line), the TSV, the pandas and
Spark columns, the service's models and the review page's field names."""
import dataclasses
import io
import json
import re
from pathlib import Path

import pytest

import corvanta_tools
from corvanta_tools.fields import (ASSERTION_COLUMNS, FIELDS, FLAG_COLUMNS, TABLE_COLUMNS,
                                   TSV_COLUMNS, pandas_dtypes, spark_schema)
from corvanta_tools.formats.lines import json_line, json_lines, json_record, write_tsv
from corvanta_tools.records import Assertion, Document, Modifier, Record

NAMES = [f.name for f in FIELDS]

# Each kind of value: absent spans and labels, characters that end lines,
# quotes and backslashes, astral characters, an assertion with a trigger.
RECORDS = [
    Record("n1", "HP:0001250", "seizure", "Seizure", (3, 11), (3, 11), False, "seizure"),
    Record("n\t2", "HP:0002315", "head\"ache", None, None, (0, 9), True, "a\u2028b\\c\x85\n"),
    Record("\U0001d4d0", "HP:0001945", "fever", "Fever", (1, 6), (4, 9), False, "fever",
           Assertion(is_negated=True, is_family=True,
                     modifiers=(Modifier("NEGATED_EXISTENCE", "no", (0, 2)),))),
]
# Control characters and a lone surrogate, which only JSON can carry.
UNUSUAL = Record("n4", "HP:0001250", "seizure", None, (0, 4), (0, 4), False, "\x01\x1f\b\ud800")


def test_record_and_assertion_follow_the_table():
    assert list(Record._fields) == NAMES
    assert [f.name for f in dataclasses.fields(Assertion)] == [*FLAG_COLUMNS, "modifiers"]
    assert ASSERTION_COLUMNS == (*FLAG_COLUMNS, "modifiers")


@pytest.mark.parametrize("record", [*RECORDS, UNUSUAL])
def test_json_shapes(record):
    as_json = record.as_json()
    assert list(as_json) == [n for n in NAMES if n != "assertion" or record.assertion is not None]
    assert json_record(record) == json_line(as_json)
    assert json_lines([record, record]) == (json_record(record) + "\n") * 2
    assert json.loads(json_record(record)) == as_json
    assert len(json_record(record).splitlines()) == 1


def test_tsv_columns():
    out = io.StringIO()
    write_tsv(out, "v", [Document("d", "", RECORDS[:2])])
    header, *rows = out.getvalue().split("\n")[:-1]
    assert header.split("\t") == list(TSV_COLUMNS)
    assert all(len(row.split("\t")) == len(TSV_COLUMNS) for row in rows)
    out = io.StringIO()
    write_tsv(out, "v", [Document("d", "", RECORDS)])
    assert out.getvalue().split("\n")[0].split("\t") == [*TSV_COLUMNS, *ASSERTION_COLUMNS]


def test_spark_schema_names_the_table_columns():
    assert [part.split()[0] for part in spark_schema().split(", ")] == list(TABLE_COLUMNS)


def test_pandas_frame():
    pytest.importorskip("pandas", reason="pandas (the dask extra) is not installed")
    pytest.importorskip("pyarrow", reason="pyarrow (the dask extra) is not installed")
    from corvanta_tools.scale.rows import hit_frame

    frame = hit_frame([Document("d", "", RECORDS)])
    assert list(frame.columns) == list(TABLE_COLUMNS)
    assert {c: str(t) for c, t in frame.dtypes.items()} == {
        c: t.replace("string[pyarrow]", "string") for c, t in pandas_dtypes().items()}
    assert frame["char_start"].isna().tolist() == [False, True, False]
    assert frame["is_family"].isna().tolist() == [True, True, False]


def test_service_models():
    pytest.importorskip("pydantic", reason="pydantic (the serve extra) is not installed")
    from corvanta_tools.serve.records import AssertionIn, AssertionOut, RecordIn, RecordOut

    for model in (RecordIn, RecordOut):
        assert list(model.model_fields) == [n for n in NAMES if n != "document"]
        assert {n for n, f in model.model_fields.items() if not f.is_required()} <= {
            f.name for f in FIELDS if f.nullable}
    for model in (AssertionIn, AssertionOut):
        assert list(model.model_fields) == [*FLAG_COLUMNS, "modifiers"]
    for record in RECORDS:
        answered = {k: v for k, v in record.as_json().items() if k != "document"}
        present = {k: v for k, v in answered.items() if v is not None}
        for model in (RecordIn, RecordOut):
            assert model.model_validate(answered).model_dump(mode="json",
                                                             exclude_none=True) == present


def test_review_page_reads_only_table_fields():
    page = Path(corvanta_tools.__file__).parent / "serve" / "static" / "page.js"
    script = page.read_text(encoding="utf-8")
    read = set(re.findall(r"\b(?:record|r)\.([a-z_]+)", script))
    assert read and read - {"removed"} <= set(NAMES)  # "removed": the page's own mark
    flags = re.findall(r'\["(is_[a-z]+)", "[a-z ]+"\]', script.split("ASSERTION_FLAGS = ")[1])
    assert flags[:len(FLAG_COLUMNS)] == list(FLAG_COLUMNS)

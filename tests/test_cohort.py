"""The phenotype index (DuckDB and Parquet) and the cohort queries it answers."""
import importlib.util
import json
import textwrap

import pytest

from conftest import SMALL_TERMS, phenotypes, write_json
from corvanta_tools import main

if importlib.util.find_spec("duckdb") is None or importlib.util.find_spec("pyarrow") is None:
    pytest.skip("duckdb and pyarrow are not installed (the [cohort] extra)",
                allow_module_level=True)

from test_patients import MAP, NOTES  # noqa: E402

SEIZURE, ATAXIA, SHORT_STATURE = "HP:0001250", "HP:0001251", "HP:0004322"
NERVOUS_SYSTEM = "HP:0000707"


@pytest.fixture(scope="module")
def notes(tmp_path_factory):
    directory = tmp_path_factory.mktemp("notes")
    for name, text in NOTES.items():
        (directory / name).write_text(text, encoding="utf-8")
    (directory / "map.csv").write_text(MAP, encoding="utf-8")
    return directory


@pytest.fixture(scope="module", params=["duckdb", "parquet"])
def index(request, notes):
    """The four notes indexed in two runs (the second appends)."""
    path = notes / f"cohort.{request.param}"
    for names, rows in ((["n1.txt", "n2.txt"], MAP.splitlines()[:3]),
                        (["n3.txt", "n4.txt"], MAP.splitlines()[:1] + MAP.splitlines()[3:])):
        part = notes / f"{request.param}-{names[0]}.csv"
        part.write_text("\n".join(rows) + "\n", encoding="utf-8")
        assert main(["index", *(str(notes / n) for n in names), "--patients", str(part),
                     "--format", request.param, "-o", str(path)]) == 0
    return str(path)


def query(capsys, index, *args):
    code = main(["query", index, *args, "--json"])
    captured = capsys.readouterr()
    return code, (json.loads(captured.out) if code == 0 else None), captured.err


@pytest.mark.parametrize(("args", "patients"), [
    ([SEIZURE], ["P1", "P3"]),
    ([ATAXIA], ["P2"]),
    ([SEIZURE, SHORT_STATURE], ["P1"]),
    ([NERVOUS_SYSTEM], ["P1", "P2", "P3"]),  # through the hierarchy
    ([SEIZURE, "--not", SHORT_STATURE], ["P3"]),
    ([SEIZURE, "--include-negated"], ["P1", "P2", "P3"]),
    ([ATAXIA, "--include-family"], ["P2", "P3"]),
    (["HP:0001251", "--not", SEIZURE, "--include-negated"], ["P2"]),  # --not counts affirmed only
])
def test_cohorts(capsys, index, args, patients):
    code, answer, _ = query(capsys, index, *args)
    assert code == 0
    assert answer["patients"] == patients


def test_counts_and_notes(capsys, index):
    _, answer, _ = query(capsys, index, SEIZURE, SHORT_STATURE)
    # P1's seizure note has three nested seizure terms; its short stature note one.
    assert answer["counts"] == {"P1": {"notes": 2, "mentions": 4}}
    _, answer, _ = query(capsys, index, SEIZURE, "--notes")
    assert [n.rsplit("/", 1)[-1] for n in answer["notes"]] == ["n1.txt", "n4.txt"]
    _, answer, _ = query(capsys, index, SEIZURE, SHORT_STATURE, "--notes")
    assert answer["notes"] == []  # no single note has both


def test_term_ids_are_mapped_or_refused(capsys, index):
    code, answer, err = query(capsys, index, "HP:0002279")  # an alternative id of Seizure
    assert code == 0 and answer["patients"] == ["P1", "P3"]
    assert "HP:0002279 is taken as HP:0001250" in err
    code, _, err = query(capsys, index, "HP:9999999")
    assert code == 2 and "unknown term HP:9999999" in err


def documented_sql():
    """The query the module documents, over the mentions table."""
    from corvanta_tools.cohort import query as module

    text = module.__doc__.split("\n\n    ", 1)[1].split("\n\n", 1)[0]
    return textwrap.dedent("    " + text)


@pytest.mark.parametrize("by_note", [False, True])
def test_compact_query_answers_the_documented_sql(index, by_note):
    from corvanta_tools.cohort import cohort, cohort_sql, connect

    with connect(index) as connection:
        documented = connection.execute(documented_sql()).fetchall()
        version, = connection.execute("SELECT version FROM release").fetchone()
        terms, exclude = [SEIZURE, SHORT_STATURE], ["HP:0001251"]
        assert connection.execute(cohort_sql(terms, exclude)).fetchall() == documented
    assert version == "2025-05-06"
    frame = cohort(index, [SEIZURE], notes=by_note)
    assert list(frame.columns) == (["note", "patient", "mentions"] if by_note
                                   else ["patient", "notes", "mentions"])


def test_another_release_is_refused(capsys, index, notes, tmp_path):
    other = write_json(tmp_path / "hp.json", phenotypes(SMALL_TERMS))  # release 2025-01-01
    fmt = "parquet" if index.endswith("parquet") else "duckdb"
    assert main(["--hpo", other, "index", str(notes / "n1.txt"), "--format", fmt,
                 "-o", index]) == 2
    assert "indexes HPO release 2025-05-06, not 2025-01-01" in capsys.readouterr().err
    code, answer, _ = query(capsys, index, SEIZURE)
    assert answer["counts"]["P1"]["mentions"] == 3  # nothing was added

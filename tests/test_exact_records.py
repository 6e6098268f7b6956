"""The exact profile's records built by the compiled helper
(corvanta_tools._accurate.exact_records) equal those of the Python builder,
value for value, for ASCII texts; other texts and source trees without the
helper take the Python builder."""
import gc

import pytest

import corvanta
from corvanta_tools import records
from corvanta_tools.context import record_assertions
from corvanta_tools.embedded import default_release_path
from corvanta_tools.records import Record, document_of_hits, python_document_of_hits
from corvanta_tools.releases import Release

compiled = pytest.mark.skipif(
    records._compiled_records is None,
    reason="corvanta_tools._accurate is not built (a source tree on the path)")

TEXTS = [
    "She had seizures and ataxia, with microcephaly and short broad thumbs; no hypertelorism.",
    "Nothing to find here.",
    "",
    "The patient denies seizures. Her mother had ptosis and strabismus.\nLow-set ears, seizures.",
    "Şeyma İnce: seizures, café-au-lait spots and ataxia.",  # not ASCII: the Python builder
    "ΣΑΣ microcephaly \U0001f600 ataxia",
]


@pytest.fixture(scope="module")
def matcher():
    return corvanta.Corvanta(default_release_path())


@pytest.fixture(scope="module")
def release():
    return Release(default_release_path())


@compiled
@pytest.mark.parametrize("text", TEXTS)
@pytest.mark.parametrize("labelled", [False, True], ids=["no-release", "release"])
@pytest.mark.parametrize("assessor", [None, record_assertions], ids=["library", "context"])
def test_compiled_records_equal_the_python_ones(matcher, release, text, labelled, assessor):
    labels = release if labelled else None
    hits, expected_hits = matcher.map_text(text), matcher.map_text(text)
    document = document_of_hits("d", text, hits, labels, assessor)
    assert hits == []
    assert document == python_document_of_hits("d", text, expected_hits, labels, assessor)
    assert all(type(record) is Record for record in document.records)
    # One str per distinct term id and label across the text's records.
    for field in ("term_id", "label", "term_label"):
        values = [getattr(record, field) for record in document.records]
        assert len({id(value) for value in values}) == len(set(values))
    # Records of strings, numbers and tuples are left to reference counting;
    # one that carries an assertion object stays with the garbage collector.
    if text.isascii():
        assert [gc.is_tracked(r) for r in document.records] == [
            r.assertion is not None for r in document.records]


@compiled
def test_the_compiled_builder_refuses_what_it_cannot_build(matcher):
    with pytest.raises(ValueError, match="not ASCII"):
        records._compiled_records("d", "Séizures", matcher.map_text("Séizures"), None, Record)
    with pytest.raises(ValueError, match="one assertion per hit"):
        records._compiled_records("d", "seizures", matcher.map_text("seizures"), None, Record, [])


def test_records_without_the_compiled_helper(monkeypatch, matcher, release):
    text = TEXTS[0]
    expected = python_document_of_hits("d", text, matcher.map_text(text), release)
    monkeypatch.setattr(records, "_compiled_records", None)
    assert document_of_hits("d", text, matcher.map_text(text), release) == expected
